#!/usr/bin/env bash
# Installs, with apt, whatever this machine still lacks to build Tovalinex and run its tests.
# Safe to run again: packages already present are skipped without touching the network.
set -euo pipefail

packages=(
  build-essential clang libclang-rt-14-dev cmake pkg-config git
  libsdl2-dev libfreetype-dev libfontconfig-dev libpng-dev libxss-dev
  libwayland-dev libwayland-bin wayland-protocols libxkbcommon-dev xkb-data
  fonts-ipafont-gothic
  googletest libgtest-dev libbenchmark-dev
  xvfb xdotool openbox x11-apps x11-utils imagemagick python3
  fonts-dejavu-core fonts-urw-base35
  desktop-file-utils
  sway grim foot
)
if [ "${TOVALINEX_WINDOWS:-1}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64 wine wine64 locales)
fi
if [ "${TOVALINEX_FUZZ:-1}" = 1 ]; then
  packages+=(valgrind)
fi
# The web build: clang 14 for wasm32-wasi with its C and C++ libraries.
if [ "${TOVALINEX_WEB:-1}" = 1 ]; then
  packages+=(clang-14 lld-14 wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32)
fi
# The browser tests: Chromium, and Node.js for puppeteer-core (npm ci below).
if [ "${TOVALINEX_BROWSER:-1}" = 1 ]; then
  packages+=(chromium)
  command -v node >/dev/null || packages+=(nodejs)
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  sudo_cmd=()
  [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# puppeteer-core from the committed lockfile, again only when it changed. It
# drives the Chromium installed above and downloads no browser of its own.
if [ "${TOVALINEX_BROWSER:-1}" = 1 ]; then
  web_tests="$(dirname "$0")/../tests/web"
  stamp="$web_tests/node_modules/.installed-from-lockfile"
  if ! cmp -s "$web_tests/package-lock.json" "$stamp"; then
    echo "setup: npm ci in tests/web" >&2
    (cd "$web_tests" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
    cp "$web_tests/package-lock.json" "$stamp"
  fi
fi
