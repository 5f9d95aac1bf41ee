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
    | sed -n 's/^[0-9a-f]* I __imp_\(.*\)$/\1/p' | sort -u
} > "$def"
x86_64-w64-mingw32-dlltool --input-def "$def" --output-delaylib "$output"
