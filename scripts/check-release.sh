#!/usr/bin/env bash
# Checks a published setup program against a rebuild of these sources:
#   scripts/check-release.sh PUBLISHED_SETUP.exe GAME_FOLDER [BUILD_DIR]
# Takes the publisher's signature off a copy (osslsigncode remove-signature), builds the
# release from GAME_FOLDER into BUILD_DIR (default build-check) with the time stamp the
# published setup carries as SOURCE_DATE_EPOCH, and compares the two byte for byte.
# Exit 0: the same bytes; 1: they differ (or the build failed).
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 PUBLISHED_SETUP.exe GAME_FOLDER [BUILD_DIR]" >&2
  exit 2
fi
[ -f "$1" ] || { echo "$0: no such file: $1" >&2; exit 1; }
[ -d "$2" ] || { echo "$0: no such folder: $2" >&2; exit 1; }
published="$(realpath "$1")" game="$(realpath "$2")"
cd "$(dirname "$0")/.."
build="$(realpath -m "${3:-build-check}")"
scripts/install-deps.sh

# The PE header ("PE\0\0") starts at the offset at 0x3C; its certificate table's size (the
# signature's) is 172 bytes on in a 64-bit program, its TimeDateStamp 8 bytes on.
pe=$(od -An -tu4 -j 60 -N 4 "$published" | tr -d ' ')
mkdir -p "$build"
unsigned="$build/published-unsigned.exe"
rm -f "$unsigned"  # osslsigncode writes no file over another
if [ "$(od -An -tu4 -j $((pe + 172)) -N 4 "$published" | tr -d ' ')" = 0 ]; then
  cp "$published" "$unsigned"
  echo "$1 carries no signature."
else
  osslsigncode remove-signature -in "$published" -out "$unsigned" >/dev/null ||
    { echo "$0: can't take the signature off $1" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(od -An -tu4 -j $((pe + 8)) -N 4 "$unsigned" | tr -d ' ')
echo "The published setup's time stamp: SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
      -DTORRENTINE_GAME_DIR="$game" -DTORRENTINE_BUILD_TESTS=OFF -DTORRENTINE_SIGN_PKCS12= >/dev/null
cmake --build "$build" --target TorrentinePCSetup

rebuilt="$build/TorrentinePCSetup.exe"
if cmp -s "$unsigned" "$rebuilt"; then
  echo "Same bytes: $1 is the release these sources build from $2."
  exit 0
fi
echo "DIFFERENT: $1 without its signature and the rebuild $rebuilt differ" \
     "($(cmp -l "$unsigned" "$rebuilt" 2>/dev/null | wc -l) bytes; $(cmp "$unsigned" "$rebuilt" 2>&1 | head -n 1))." >&2
exit 1
