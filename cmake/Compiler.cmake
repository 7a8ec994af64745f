# Warnings, the Shift-JIS execution character set and the sanitizer build.

# Whether -fexec-charset=CP932 works and gives the Microsoft code page: "表"
# ends in 0x5C, "～" is 0x81 0x60 (glibc's SHIFT_JIS lacks it).
function(tovalinex_check_exec_charset result)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -fexec-charset=CP932)
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  check_cxx_source_compiles([=[
static_assert(sizeof("表～") == 5 && "表"[1] == 0x5C && ("～"[0] & 0xFF) == 0x81 && "～"[1] == 0x60, "");
int main() { return 0; }
]=] ${result})
endfunction()

if(MSVC)
  # The sources are UTF-8; the texts the programs draw must be code page 932.
  # (/utf-8 would set both sides to UTF-8 and cannot be combined with this.)
  add_compile_options(/W4 /source-charset:utf-8 /execution-charset:.932)
else()
  add_compile_options(-Wall -Wextra)
  # UTF-8 literals in the sources become CP932 bytes; a character that code
  # page lacks is a compile error. GCC does this itself; for a compiler that
  # cannot (clang), the build converts the literals (Cp932Literals.cmake).
  tovalinex_check_exec_charset(TOVALINEX_EXEC_CHARSET_CP932)
  if(TOVALINEX_EXEC_CHARSET_CP932)
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=CP932>)
  else()
    set(TOVALINEX_CP932_LITERALS ON)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
  endif()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/Cp932Literals.cmake)

# Windows programs built with MinGW carry their runtime inside, so the .exe
# runs on a bare Windows (or Wine) without MinGW's DLLs next to it.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(TOVALINEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
