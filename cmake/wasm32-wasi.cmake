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

# Only the wasm headers may be found (cmake/Compiler.cmake adds the flags to
# every target, where a CMAKE_CXX_FLAGS of the user's cannot drop them).
set(TOVALINEX_WASI_INCLUDE /usr/include/wasm32-wasi)

set(CMAKE_FIND_ROOT_PATH ${TOVALINEX_WASI_INCLUDE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
