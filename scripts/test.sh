#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ with the default
# compiler (g++) and runs every test; then the unit tests again in an
# AddressSanitizer + UBSan build made with clang++, so both compilers build it.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 900

# A build-asan/ made with another compiler starts afresh: CMake would drop
# the options below along with the old compiler's cache.
if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++$' build-asan/CMakeCache.txt; then
  rm -rf build-asan
fi
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTOVALINEX_SANITIZE=ON -DCMAKE_CXX_COMPILER=clang++
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit --timeout 900
