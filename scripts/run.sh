#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts a program:
#   scripts/run.sh [PROGRAM]      (the names in programs.json; minigame by default)
# or builds the web site into build-web/site/ and serves it on 127.0.0.1:
#   scripts/run.sh --web [PORT]   (8000 by default)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --web ]; then
  port="${2:-8000}"
  TOVALINEX_WINDOWS=0 TOVALINEX_FUZZ=0 TOVALINEX_BROWSER=0 scripts/setup.sh
  cmake --preset web >/dev/null
  cmake --build --preset web
  echo "Tovalinex in the browser: http://127.0.0.1:$port/ (build-web/site; Ctrl+C stops the server)"
  exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build-web/site
fi
program="${1:-minigame}"
TOVALINEX_WINDOWS=0 TOVALINEX_FUZZ=0 TOVALINEX_WEB=0 TOVALINEX_BROWSER=0 scripts/setup.sh
if ! python3 tests/e2e/programs.py names | grep -qx -- "$program"; then
  echo "usage: $0 [$(python3 tests/e2e/programs.py names | paste -sd'|')] | --web [PORT]" >&2
  exit 2
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target "$program"
exec build/bin/"$program"
