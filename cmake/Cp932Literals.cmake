# Shift-JIS literals for compilers without an execution character set (clang,
# Apple clang, emscripten): every C++ source whose plain narrow literals hold
# non-ASCII text is compiled from a copy under <build>/cp932/ in which
# cp932_literals.py has written those literals as code page 932 octal escapes.
# The copy starts with `#line 1 "<source>"`, so diagnostics, __FILE__ and the
# line table name the checked-in file, and it is made again whenever the
# source changes. Python runs on the build machine, so cross builds work too.
#
# tovalinex_cp932_literals() is called once, after every target exists; it
# does nothing where the compiler converts by itself (TOVALINEX_CP932_LITERALS
# off).

set(TOVALINEX_CP932_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/cp932_literals.py)

function(_tovalinex_cp932_collect_targets directory out)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    _tovalinex_cp932_collect_targets(${subdirectory} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The C++ sources a target compiles from the tree (not generated ones), as absolute paths.
function(_tovalinex_cp932_target_sources target out)
  get_target_property(sources ${target} SOURCES)
  get_target_property(directory ${target} SOURCE_DIR)
  set(result)
  foreach(source IN LISTS sources)
    if(source MATCHES "\\$<")
      continue()
    endif()
    get_filename_component(path "${source}" ABSOLUTE BASE_DIR "${directory}")
    get_filename_component(extension "${path}" LAST_EXT)
    string(REGEX REPLACE "^\\." "" extension "${extension}")
    if(NOT extension IN_LIST CMAKE_CXX_SOURCE_FILE_EXTENSIONS)
      continue()
    endif()
    get_source_file_property(generated "${path}" TARGET_DIRECTORY ${target} GENERATED)
    cmake_path(IS_PREFIX CMAKE_BINARY_DIR "${path}" NORMALIZE in_build_tree)
    if(NOT generated AND NOT in_build_tree)
      list(APPEND result "${path}")
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(tovalinex_cp932_literals)
  if(NOT TOVALINEX_CP932_LITERALS)
    return()
  endif()
  set(work ${CMAKE_BINARY_DIR}/cp932)
  _tovalinex_cp932_collect_targets(${CMAKE_SOURCE_DIR} all_targets)
  set(targets)
  set(sources)
  set(header_globs)
  foreach(target IN LISTS all_targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    _tovalinex_cp932_target_sources(${target} target_sources)
    list(APPEND targets ${target})
    list(APPEND sources ${target_sources})
    foreach(source IN LISTS target_sources)
      get_filename_component(directory "${source}" DIRECTORY)
      foreach(extension h hh hpp hxx inl ipp)
        list(APPEND header_globs "${directory}/*.${extension}")
      endforeach()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES sources)
  list(REMOVE_DUPLICATES header_globs)
  # Headers are compiled as they are; a new one must be checked too.
  file(GLOB headers CONFIGURE_DEPENDS ${header_globs})

  # Which sources need a copy is decided here and checked again at build time
  # (below): one that gains a Japanese literal later makes CMake run again.
  list(JOIN sources "\n" source_lines)
  list(JOIN headers "\n" header_lines)
  file(WRITE ${work}/sources.txt "${source_lines}\n")
  file(WRITE ${work}/headers.txt "${header_lines}\n")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${work}/sources.txt ${work}/headers.txt ${TOVALINEX_CP932_SCRIPT})
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${TOVALINEX_CP932_SCRIPT} --scan ${work}/sources.txt ${work}/headers.txt
    OUTPUT_VARIABLE converted ERROR_VARIABLE problems RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Shift-JIS literals for ${CMAKE_CXX_COMPILER_ID}:\n${problems}")
  endif()
  string(REGEX REPLACE "\n$" "" converted "${converted}")
  string(REPLACE "\n" ";" converted "${converted}")

  set(copies)
  foreach(source IN LISTS converted)
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} "${source}")
    if(relative MATCHES "^\\.\\./")
      string(MD5 key "${source}")
      get_filename_component(name "${source}" NAME)
      set(relative "outside/${key}/${name}")
    endif()
    set(copy ${work}/${relative})
    add_custom_command(OUTPUT ${copy}
      COMMAND ${Python3_EXECUTABLE} ${TOVALINEX_CP932_SCRIPT} ${source} ${copy}
      DEPENDS ${source} ${TOVALINEX_CP932_SCRIPT}
      COMMENT "Shift-JIS literals of ${relative}"
      VERBATIM)
    list(APPEND copies ${copy})
    set(copy_of_${source} ${copy})
  endforeach()
  set(plain ${sources})
  if(converted)
    list(REMOVE_ITEM plain ${converted})
  endif()
  list(JOIN plain "\n" plain_lines)
  file(WRITE ${work}/plain.txt "${plain_lines}\n")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${work}/plain.txt)
  add_custom_command(OUTPUT ${work}/unconverted.stamp
    COMMAND ${Python3_EXECUTABLE} ${TOVALINEX_CP932_SCRIPT} --guard ${work}/plain.txt
            ${work}/headers.txt ${work}/unconverted.stamp
    DEPENDS ${plain} ${headers} ${TOVALINEX_CP932_SCRIPT}
    COMMENT "Checking the sources compiled without Shift-JIS conversion"
    VERBATIM)
  # One target makes every copy; custom commands used by targets of other
  # directories need it for the Makefile generators.
  add_custom_target(tovalinex_cp932 DEPENDS ${copies} ${work}/unconverted.stamp)

  foreach(target IN LISTS targets)
    add_dependencies(${target} tovalinex_cp932)
    get_target_property(target_sources ${target} SOURCES)
    get_target_property(directory ${target} SOURCE_DIR)
    set(changed FALSE)
    set(new_sources)
    foreach(source IN LISTS target_sources)
      if(NOT source MATCHES "\\$<")
        get_filename_component(path "${source}" ABSOLUTE BASE_DIR "${directory}")
        if(DEFINED copy_of_${path})
          set(source ${copy_of_${path}})
          set(changed TRUE)
          # The copy lives elsewhere: its quoted includes still look beside the original.
          get_filename_component(original_directory "${path}" DIRECTORY)
          set_source_files_properties(${source} TARGET_DIRECTORY ${target}
            PROPERTIES GENERATED TRUE COMPILE_OPTIONS "-iquote;${original_directory}")
        endif()
      endif()
      list(APPEND new_sources "${source}")
    endforeach()
    if(changed)
      set_property(TARGET ${target} PROPERTY SOURCES ${new_sources})
    endif()
  endforeach()
endfunction()
