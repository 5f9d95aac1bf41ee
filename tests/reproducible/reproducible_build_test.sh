#!/usr/bin/env bash
# A release anyone can rebuild: two builds of the same sources, one of them copied to
# another place and built with another locale and time zone, give the same bytes for both
# flavours of the setup program, the package, the stand-in game folder, the fixtures and
# the tools and libraries they are made with. The executables' time stamp is the version's
# time, and follows SOURCE_DATE_EPOCH when that is set.
#   reproducible_build_test.sh BUILD_DIR SOURCE_DIR GENERATOR VERSION_TIME WINEPREFIX WINEHOME
# The two builds use BUILD_DIR's Wine prefix: a new one would take longer than the builds.
set -euo pipefail
build="$1" source="$2" generator="$3" version_time="$4" wineprefix="$5" winehome="$6"
work="$(mktemp -d "$build/reproducible.XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

first="$work/first"
copy="$work/elsewhere/the-sources"
second="$copy/out/second-build"
mkdir -p "$copy/out"
# The sources without build folders (this one among them, wherever it is named).
build_in_source="${build#"$source"/}"
tar -C "$source" --exclude='./build*' --exclude="./$build_in_source" --exclude=./.git -cf - . |
  tar -C "$copy" -xf -

targets=(TorrentinePCSetup TorrentinePCSetup-test)
build_tree() {  # SOURCE BUILD: configures and builds the setup programs, nothing else
  cmake -S "$1" -B "$2" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/toolchain-mingw64.cmake" \
        -DTORRENTINE_BUILD_TESTS=OFF -DTORRENTINE_WINEPREFIX="$wineprefix" \
        -DTORRENTINE_WINEHOME="$winehome" >"$2.configure.log" 2>&1 ||
    { cat "$2.configure.log"; fail "configuring $2"; }
  cmake --build "$2" --parallel 2 --target "${targets[@]}" >"$2.build.log" 2>&1 ||
    { tail -n 40 "$2.build.log"; fail "building $2"; }
}
(unset SOURCE_DATE_EPOCH; build_tree "$source" "$first")
(unset SOURCE_DATE_EPOCH; export LC_ALL=C TZ=Pacific/Kiritimati; build_tree "$copy" "$second")

# What the builds made, apart from CMake's own probes of the compiler and the objects and
# libraries of code for link-time optimisation: GCC 12 writes the folder it compiles in
# into those (its bug 108534), and the executables made from them show that it goes no further.
outputs() {
  (cd "$1" && find . -path './CMakeFiles/[0-9]*' -prune -o -type f \
     \( -name '*.exe' -o -name '*.dll' -o -name '*.a' -o -name '*.obj' -o -name '*.res' \
        -o -name '*.bin' -o -name '*.ico' -o -name '*.z64' -o -name '*.v64' -o -name '*.n64' \
        -o -name '*.cpp' -o -path './standin/game-*' \) -print |
     while read -r f; do grep -q -a -F '.gnu.lto_' "$f" || echo "$f"; done) | LC_ALL=C sort
}
outputs "$first" >"$work/first.list"
outputs "$second" >"$work/second.list"
diff "$work/first.list" "$work/second.list" || fail "the two builds made different files"
for f in TorrentinePCSetup.exe TorrentinePCSetup-test.exe package/package.bin \
         standin/game-small/TorrentinePC.exe fixtures/fixture.z64 generated/libuser32_delay.a; do
  grep -qxF "./$f" "$work/first.list" || fail "no $f among the outputs"
done
differ=0
while read -r f; do
  if ! cmp -s "$first/$f" "$second/$f"; then
    echo "differs: $f ($(cmp -l "$first/$f" "$second/$f" 2>/dev/null | wc -l) bytes; first at" \
         "$(cmp "$first/$f" "$second/$f" 2>&1 | sed -n 's/.*byte \([0-9]*\).*/\1/p'))" >&2
    differ=$((differ + 1))
  fi
done <"$work/first.list"
[ "$differ" -eq 0 ] || fail "$differ of $(wc -l <"$work/first.list") outputs differ between the builds"

# The PE header's TimeDateStamp: 4 bytes, 8 after the "PE\0\0" whose offset is at 0x3C.
time_stamp() {
  local pe
  pe=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -tu4 -j $((pe + 8)) -N 4 "$1" | tr -d ' '
}
stamped=(TorrentinePCSetup.exe TorrentinePCSetup-test.exe standin/game-small/TorrentinePC.exe)
for f in "${stamped[@]}"; do
  [ "$(time_stamp "$first/$f")" = "$version_time" ] ||
    fail "$f is stamped $(time_stamp "$first/$f"), not the version's time $version_time"
done

# A pinned time: the second build again, its executables now stamped with it.
pinned=1234567890
SOURCE_DATE_EPOCH=$pinned build_tree "$copy" "$second"
for f in "${stamped[@]}"; do
  [ "$(time_stamp "$second/$f")" = "$pinned" ] ||
    fail "$f is stamped $(time_stamp "$second/$f"), not SOURCE_DATE_EPOCH=$pinned"
done

# A time the header cannot hold is refused, not cut.
if SOURCE_DATE_EPOCH=4294967296 cmake -S "$copy" -B "$second" >"$work/refused.log" 2>&1; then
  fail "SOURCE_DATE_EPOCH=4294967296 was accepted"
fi
grep -q "SOURCE_DATE_EPOCH must be a whole number" "$work/refused.log" ||
  { cat "$work/refused.log"; fail "no message for SOURCE_DATE_EPOCH=4294967296"; }

echo "reproducible: $(wc -l <"$work/first.list") outputs the same in two builds;" \
     "time stamps $version_time, and $pinned when pinned"
