# Desktop integration and the Debian package. Included after the programs, so
# that each program target that exists gets its menu entry and icon.

set(TOVALINEX_ICON_SIZES 32 48 64 128 256)

if(UNIX AND NOT APPLE)
  set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
  foreach(program IN LISTS TOVALINEX_PROGRAMS)
    tovalinex_app_title(${program} APP_TITLE)
    # @BINDIR@ survives configuring; it becomes the real prefix at install time.
    set(BINDIR "@BINDIR@")
    set(entry ${CMAKE_BINARY_DIR}/packaging/tovalinex-${program}.desktop.in)
    configure_file(${packaging_dir}/desktop/${program}.desktop.in ${entry} @ONLY)

    # Exec holds the absolute path, so an entry works from a prefix that is not
    # on PATH. CMAKE_INSTALL_PREFIX is only known at install time (cpack sets it
    # to /usr); the staging directory is keyed on the destination because
    # `cmake --install` and cpack may run at the same time.
    install(CODE "
      set(bindir \"${CMAKE_INSTALL_BINDIR}\")
      if(NOT IS_ABSOLUTE \"\${bindir}\")
        set(bindir \"\${CMAKE_INSTALL_PREFIX}/\${bindir}\")
      endif()
      file(READ \"${entry}\" text)
      string(REPLACE \"@BINDIR@\" \"\${bindir}\" text \"\${text}\")
      string(MD5 key \"\$ENV{DESTDIR}|\${CMAKE_INSTALL_PREFIX}\")
      set(staged \"${CMAKE_BINARY_DIR}/packaging/staged/\${key}/tovalinex-${program}.desktop\")
      file(WRITE \"\${staged}\" \"\${text}\")
      file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\"
           TYPE FILE FILES \"\${staged}\")
    " COMPONENT programs)

    foreach(size IN LISTS TOVALINEX_ICON_SIZES)
      set(icon ${packaging_dir}/icons/${size}x${size}/tovalinex-${program}.png)
      if(NOT EXISTS ${icon})
        message(WARNING "Missing ${icon}; scripts/pictures.sh makes it")
        continue()
      endif()
      install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
              COMPONENT programs)
    endforeach()
  endforeach()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME tovalinex)
  set(CPACK_PACKAGE_VENDOR Tovalinex)
  set(TOVALINEX_MAINTAINER "Tovalinex maintainers <maintainers@tovalinex.invalid>"
      CACHE STRING "Maintainer field of the Debian package")
  set(CPACK_PACKAGE_CONTACT "${TOVALINEX_MAINTAINER}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "five small keyboard programs drawn in Japanese text")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Four movement samples (free, walled, eight-way, run and jump) and a shooting\n"
      "mini-game, each one fixed 640x480 window in which every mark is a line of\n"
      "Shift-JIS text. Keys: the arrow keys and the space bar.")
  string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Libraries come from dpkg-shlibdeps; the font is loaded at run time, so it
  # has to be named. The CP932 converter is part of libc6.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
  set(CPACK_STRIP_FILES ON)
  # Staged through DESTDIR with the prefix /usr, so the install code above
  # writes /usr/bin into Exec and not cpack's staging directory.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_PREFIX /usr)
  # Only the programs component: whatever else gets install rules stays out.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL programs)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  include(CPack)
endif()
