#!/usr/bin/env bash
# The long forms of the reliability checks, one after another at low
# priority (the short forms are part of the test command, scripts/test.sh):
#   fuzz     3,400,000 executions of each of the three fuzz targets (scripts/fuzz.sh --long)
#   soak     each headless twin for 1,000,000 frames of seeded random keys in
#            an ASan + UBSan build (build-soak/), peak RSS against 10,000 frames
#   windows  each program under Xvfb with random held keys for 60 s, the
#            single instance under stress and the failing starts (build-reliability/)
#   scripts/reliability.sh [fuzz] [soak] [windows]     (no argument: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
parts=("$@")
[ "${#parts[@]}" -gt 0 ] || parts=(fuzz soak windows)
jobs="$(nproc)"
status=0
for part in "${parts[@]}"; do
  case "$part" in
    fuzz)
      nice -n 19 scripts/fuzz.sh --long || status=1
      ;;
    soak)
      cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVALINEX_SANITIZE=ON \
        -DTOVALINEX_TESTS=OFF >/dev/null
      nice -n 19 cmake --build build-soak -j"$jobs" >/dev/null
      nice -n 19 python3 tests/reliability/soak.py --bin build-soak/bin --short 10000 \
        --long 1000000 || status=1
      ;;
    windows)
      cmake -S . -B build-reliability -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build build-reliability -j"$jobs" >/dev/null
      TOVALINEX_STRESS_SECONDS=60 TOVALINEX_STARTS_ROUNDS=10 ctest --test-dir build-reliability \
        --output-on-failure -V -R 'reliability_(window_stress|single_instance_stress|faults)' \
        --timeout 1800 | grep -E "^[0-9]+: ($(python3 tests/e2e/programs.py names | paste -sd'|')|window|with|frames)|tests passed|tests failed|Passed|Failed" \
        || status=1
      ;;
    *) echo "usage: $0 [fuzz] [soak] [windows]" >&2; exit 2 ;;
  esac
done
exit "$status"
