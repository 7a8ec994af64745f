# Warnings, the Shift-JIS execution character set and the sanitizer build.
if(MSVC)
  # The sources are UTF-8; the texts the programs draw must be code page 932.
  # (/utf-8 would set both sides to UTF-8 and cannot be combined with this.)
  add_compile_options(/W4 /source-charset:utf-8 /execution-charset:.932)
else()
  add_compile_options(-Wall -Wextra)
  # UTF-8 literals in the sources become CP932 bytes; a character that code
  # page lacks is a compile error.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=CP932>)
endif()

# Windows programs built with MinGW carry their runtime inside, so the .exe
# runs on a bare Windows (or Wine) without MinGW's DLLs next to it.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(TOVALINEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
