# Warnings, the Shift-JIS execution character set and the sanitizer build.
if(MSVC)
  add_compile_options(/W4 /utf-8)
  # The sources are UTF-8; the texts the programs draw must be code page 932.
  add_compile_options(/execution-charset:.932)
else()
  add_compile_options(-Wall -Wextra)
  # UTF-8 literals in the sources become CP932 bytes; a character that code
  # page lacks is a compile error.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=CP932>)
endif()

if(TOVALINEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
