#!/usr/bin/env bash
# make-delay-lib.sh IMPORT_LIB OUTPUT_LIB
# Turns a MinGW import library into a delay-load library for the same DLL, so that the
# DLL is loaded on first use, after the program has restricted where libraries come from.
set -euo pipefail
import_lib="$1"
output="$2"
dll="$(x86_64-w64-mingw32-dlltool -I "$import_lib" | head -n 1)"
def="${output%.a}.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  x86_64-w64-mingw32-nm -g --defined-only "$import_lib" 2>/dev/null \
    | sed -n 's/^[0-9a-f]* I __imp_\(.*\)$/\1/p' | LC_ALL=C sort -u
} > "$def"  # sorted byte by byte: the same order in every locale
# dlltool names the library's members and symbols after its temporary files, by default the
# output's full path: from inside the output's folder, with a prefix of its own name, they are
# the same in every build folder (and differ between libraries built side by side).
cd "$(dirname "$output")"
name="$(basename "$output" .a)"
x86_64-w64-mingw32-dlltool --deterministic-libraries --temp-prefix "$name" \
  --input-def "$name.def" --output-delaylib "$name.a"
