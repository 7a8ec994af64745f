# Cross-build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
#   cmake -S . -B build-mingw --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVALINEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVALINEX_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TOVALINEX_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${TOVALINEX_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only; programs (cmake,
# python) still run from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOVALINEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
