# Client code for Wayland protocols, made by wayland-scanner from their XML
# descriptions (most from Debian's wayland-protocols).
#   tovalinex_wayland_protocol(TARGET XML)
# adds the protocol's C code to TARGET and its header to TARGET's include path.
find_package(PkgConfig REQUIRED)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET GLOBAL wayland-client)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT WAYLAND_PROTOCOLS_DIR)
  message(FATAL_ERROR "wayland-protocols not found (Debian: wayland-protocols; scripts/setup.sh installs it)")
endif()
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
enable_language(C)

function(tovalinex_wayland_protocol target xml)
  get_filename_component(name ${xml} NAME_WE)
  set(directory ${CMAKE_CURRENT_BINARY_DIR}/protocols)
  file(MAKE_DIRECTORY ${directory})
  set(header ${directory}/${name}-client-protocol.h)
  set(code ${directory}/${name}-protocol.c)
  add_custom_command(OUTPUT ${header} ${code}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
    DEPENDS ${xml} VERBATIM)
  target_sources(${target} PRIVATE ${code} ${header})
  target_include_directories(${target} PRIVATE ${directory})
  target_link_libraries(${target} PRIVATE PkgConfig::WAYLAND_CLIENT)
endfunction()
