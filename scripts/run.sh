#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts a program:
#   scripts/run.sh [free_move|walled_move|eight_way_move|jump_demo|minigame]
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-minigame}"
TOVALINEX_WINDOWS=0 TOVALINEX_FUZZ=0 scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target "$program"
exec build/bin/"$program"
