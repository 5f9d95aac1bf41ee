#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under a virtual screen.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

if [ -z "${TORRENTINE_UNDER_XVFB:-}" ]; then
  export TORRENTINE_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

build="${TORRENTINE_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j2 "$@"
