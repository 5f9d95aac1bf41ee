#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under a virtual screen.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/prepare.sh "$@"
cd "$build"
ctest --output-on-failure -j2 "$@"
