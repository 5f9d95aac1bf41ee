#!/usr/bin/env bash
# Installs the Debian packages the benchmark needs on top of the build's own, and only
# those that are missing. Runs as root, or through sudo when it is there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

packages=(
  hyperfine   # timing of paired runs
  time        # /usr/bin/time -v: peak memory
  nsis        # makensis: the installers we compare with
  xxhash      # xxhsum: the native reference of the ROM hash
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
