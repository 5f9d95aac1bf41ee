#!/usr/bin/env bash
# Installs the Debian packages the benchmark needs on top of the build's own, and only
# those that are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  hyperfine   # timing of paired runs
  time        # /usr/bin/time -v: peak memory
  nsis        # makensis: the installers we compare with
  xxhash      # xxhsum: the native reference of the ROM hash
)
scripts/install-deps.sh "${packages[@]}"
