# WebAssembly for the browser with Debian's clang 14 (packages clang-14,
# lld-14, wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32,
# libclang-rt-14-dev-wasm32; scripts/setup.sh installs them). The programs are
# reactor modules (backends/CMakeLists.txt): no main; the page calls
# _initialize and then the functions the backend exports.
#   cmake --preset web, or cmake -S . -B DIR --toolchain cmake/wasm32-wasi.cmake
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(TOVALINEX_WEB ON)

find_program(TOVALINEX_WASM_CXX NAMES clang++-14 REQUIRED)
set(CMAKE_CXX_COMPILER ${TOVALINEX_WASM_CXX})
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)

# Only the wasm headers: clang would otherwise fall back to /usr/include, and a
# header wasi-libc lacks would silently be glibc's.
set(TOVALINEX_WASI_INCLUDE /usr/include/wasm32-wasi)
set(CMAKE_CXX_FLAGS_INIT
    "-nostdlibinc -isystem ${TOVALINEX_WASI_INCLUDE}/c++/v1 -isystem ${TOVALINEX_WASI_INCLUDE} -fno-exceptions -fno-rtti")
# The include flags reach the link line too, where they mean nothing.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wno-unused-command-line-argument")

set(CMAKE_FIND_ROOT_PATH ${TOVALINEX_WASI_INCLUDE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
