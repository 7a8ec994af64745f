#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts a program:
#   scripts/run.sh [PROGRAM]      (the names in programs.json; minigame by default)
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-minigame}"
TOVALINEX_WINDOWS=0 TOVALINEX_FUZZ=0 scripts/setup.sh
if ! python3 tests/e2e/programs.py names | grep -qx -- "$program"; then
  echo "usage: $0 [$(python3 tests/e2e/programs.py names | paste -sd'|')]" >&2
  exit 2
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target "$program"
exec build/bin/"$program"
