#!/usr/bin/env bash
# Builds the benchmarks into build-bench/ and prints the performance table:
# frame cost (callgrind instructions and Google Benchmark times) against the
# floor and the literal text drawing, pacing under Xvfb idle and with one
# core loaded, CPU while inactive, start-up against a bare SDL2 window under
# Xvfb and as a Wayland client of a headless sway, and the web site in
# Chromium (bytes transferred, first frame, WebAssembly frame cost).
#   scripts/bench.sh [--skip-frames] [--skip-windowed] [--skip-wayland] [--skip-web]
#                    [--rounds N] [PROGRAM ...]
# The table is also written to build-bench/performance.md. Times are only
# comparable within one run; run it on an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVALINEX_BENCH=ON >/dev/null
targets=(bare_sdl tovalinex_probe tovalinex_wayland_keyboard free_move)
while read -r program; do
  targets+=("bench_$program")
done < <(python3 tests/e2e/programs.py names)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null
cmake --preset web -B "$build/web" >/dev/null
cmake --build "$build/web" -j"$(nproc)" >/dev/null
python3 bench/measure.py --build "$build" "$@" | tee "$build/performance.md"
