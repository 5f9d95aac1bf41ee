#!/usr/bin/env bash
# The benchmark, in one run on this machine: builds what it needs, then times the silent
# install, the ROM check and start-up against their floors (with NSIS installers, cp -r
# and xxhsum beside them), the install at ten times the payload, and the sizes and peak
# memory; prints one Markdown table. The install is compared with two floors (the game's
# files alone, and every byte the install leaves in its folder) and with NSIS installers
# of two kinds (the game's files alone, and the same job: files, ROM copy, note,
# uninstaller and uninstall entry).
#
#   bash bench/run.sh        BENCH_RUNS=N counted runs per command (default 11; fewer than
#                            5 only to try the harness out: the table says so)
#
# Every command of a group runs once in turn per round (A B C A B C ...), one warm-up
# round first; medians and the median of the round-by-round ratios are quoted, so that a
# slow moment of a shared machine hits both sides of a ratio alike.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

bench/install-bench-deps.sh >&2

runs="${BENCH_RUNS:-11}"
if ! [[ "$runs" =~ ^[0-9]+$ ]] || ((runs < 1)); then
  echo "BENCH_RUNS must be a number of at least 1" >&2
  exit 2
fi
build="$root/${BENCH_BUILD_DIR:-build-bench}"
build10="${build}-10x"
work="$build/bench-work"
results="$work/results"
mkdir -p "$work"
log="$work/build.log"
: >"$log"
say() { echo "bench: $*" >&2; }
quiet() {
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    exit 1
  fi
}
windows_path() { echo "Z:$1" | tr / '\\'; }
size() { stat -c %s "$1"; }

cmake_common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake"
              -DTORRENTINE_BUILD_TESTS=OFF)

# --- Builds: the real-size stand-in and its setup, the floors, the ten-times package ----
say "building the setup program with the real-size stand-in game and the floors"
quiet cmake -S . -B "$build" "${cmake_common[@]}" -DTORRENTINE_STANDIN_SCALE=real \
  -DTORRENTINE_BUILD_BENCH=ON
quiet cmake --build "$build"
game="$build/standin/game-real"
setup="$build/TorrentinePCSetup-test.exe"  # timed: it accepts the fixture ROM
release="$build/TorrentinePCSetup.exe"     # measured: what players download
package="$build/package/package.bin"

# Ten times the payload: the game folder and nine copies of it below assets\, made of hard
# links so that the copies cost no disk.
game10="$work/game-10x"
if [ ! -f "$game10.stamp" ] || [ "$build/standin/game-real.stamp" -nt "$game10.stamp" ]; then
  say "making the ten-times game folder"
  rm -rf "$game10"
  mkdir -p "$game10"
  cp -al "$game/." "$game10/"
  for k in 1 2 3 4 5 6 7 8 9; do
    mkdir -p "$game10/assets/copy-$k"
    cp -al "$game/." "$game10/assets/copy-$k/"
  done
  touch "$game10.stamp"
fi
say "building the setup program with the ten-times package"
quiet cmake -S . -B "$build10" "${cmake_common[@]}" -DTORRENTINE_GAME_DIR="$game10"
quiet cmake --build "$build10" --target TorrentinePCSetup-test
setup10="$build10/TorrentinePCSetup-test.exe"
package10="$build10/package/package.bin"

# The next version of the game: every file other by its last byte, for an update in which
# every file changed (installed in turn over the first, then the first over it).
game_next="$work/game-next"
if [ ! -f "$game_next.stamp" ] || [ "$build/standin/game-real.stamp" -nt "$game_next.stamp" ]; then
  say "making the next version's game folder"
  rm -rf "$game_next"
  cp -r "$game" "$game_next"
  find "$game_next" -type f -exec sh -c 'printf "+" >>"$1"' sh {} \;
  touch "$game_next.stamp"
fi
build_next="${build}-next"
say "building the setup program with the next version's package"
quiet cmake -S . -B "$build_next" "${cmake_common[@]}" -DTORRENTINE_GAME_DIR="$game_next"
quiet cmake --build "$build_next" --target TorrentinePCSetup-test
setup_next="$build_next/TorrentinePCSetup-test.exe"

rom="$build/fixtures/fixture.z64"
rom_w="$(windows_path "$rom")"

# The NSIS installers: the game's files alone (nsis-KIND), and the setup program's job
# (nsis-job-KIND: the ROM copy read from the fixture ROM at install time, the note, the
# uninstaller and the uninstall entry; no shortcuts, as the setup program's runs below).
say "making the NSIS installers"
nsis_script="$root/bench/nsis/game_installer.nsi"
for kind in stored zlib job-stored job-zlib; do
  out="$work/nsis-$kind.exe"
  if [ ! -f "$out" ] || [ "$nsis_script" -nt "$out" ] || [ "$package" -nt "$out" ]; then
    flags=(-DGAME_DIR="$game" -DOUT_FILE="$out")
    if [[ "$kind" != *zlib ]]; then flags+=(-DSTORED); fi
    if [[ "$kind" == job-* ]]; then flags+=(-DROM_FILE="$rom_w"); fi
    quiet makensis -V2 "${flags[@]}" "$nsis_script"
  fi
done

# --- The commands compared: one small script each, every one starting with its deletion --
wine_run="$build/wine-run.sh"
prefix="$build/wineprefix"
bench_c="$prefix/drive_c/Bench"
cmd="$work/cmd"
rm -rf "$cmd" "$results" "$bench_c"
mkdir -p "$cmd" "$results" "$bench_c"

# write_command NAME FOLDER LINE: deletes C:\Bench\FOLDER (when FOLDER is set), then runs LINE.
write_command() {
  {
    echo '#!/usr/bin/env bash'
    echo 'set -euo pipefail'
    if [ -n "$2" ]; then printf 'rm -rf %q\n' "$bench_c/$2"; fi
    echo "$3"
  } >"$cmd/$1.sh"
}
q() { printf '%q' "$1"; }
install_args="/nodesktop /nostartmenu >/dev/null"
write_command setup setup "exec $(q "$wine_run") $(q "$setup") /S /rom $(q "$rom_w") /dir 'C:\\Bench\\setup' $install_args"
# An update of an installed folder without the ROM, by the same release: nothing changed,
# so nothing is written. The folder stays from round to round.
write_command setup-update "" "exec $(q "$wine_run") $(q "$setup") /S /dir 'C:\\Bench\\setup-update' $install_args"
# An update in which every file changed: the other version over the one installed, each
# round in turn (the game's files, the uninstaller; the ROM copy stays).
update_all_line="if [ -f $(q "$work/update-all.next") ]; then rm $(q "$work/update-all.next"); exec $(q "$wine_run") $(q "$setup") /S /dir 'C:\\Bench\\setup-update-all' $install_args; else touch $(q "$work/update-all.next"); exec $(q "$wine_run") $(q "$setup_next") /S /dir 'C:\\Bench\\setup-update-all' $install_args; fi"
write_command setup-update-all "" "$update_all_line"
write_command floor floor "exec $(q "$wine_run") $(q "$build/bench/floor_install.exe") 'C:\\Bench\\floor'"
# The job floor writes an icon file of the size the setup program's icon always has (six
# images of fixed sizes) and an uninstaller of the setup program's size.
icon_bytes=304886
write_command floor-job floor-job "exec $(q "$wine_run") $(q "$build/bench/floor_install.exe") 'C:\\Bench\\floor-job' $(q "$rom_w") $icon_bytes $(size "$setup")"
write_command nsis-stored nsis-stored "exec $(q "$wine_run") $(q "$work/nsis-stored.exe") /S '/D=C:\\Bench\\nsis-stored'"
write_command nsis-zlib nsis-zlib "exec $(q "$wine_run") $(q "$work/nsis-zlib.exe") /S '/D=C:\\Bench\\nsis-zlib'"
write_command nsis-job-stored nsis-job-stored "exec $(q "$wine_run") $(q "$work/nsis-job-stored.exe") /S '/D=C:\\Bench\\nsis-job-stored'"
write_command nsis-job-zlib nsis-job-zlib "exec $(q "$wine_run") $(q "$work/nsis-job-zlib.exe") /S '/D=C:\\Bench\\nsis-job-zlib'"
write_command cp cp "exec cp -r $(q "$game") $(q "$bench_c/cp")"
write_command rom-check "" "exec $(q "$wine_run") $(q "$build/bench/rom_check.exe") $(q "$rom_w")"
write_command rom-floor "" "exec $(q "$wine_run") $(q "$build/bench/rom_read_floor.exe") $(q "$rom_w")"
write_command xxhsum "" "exec xxhsum -H3 $(q "$rom") >/dev/null"
write_command startup "" "exec $(q "$wine_run") $(q "$setup") /S /dir '' >/dev/null"
write_command return-zero "" "exec $(q "$wine_run") $(q "$build/bench/return_zero.exe")"
write_command setup-10x setup-10x "exec $(q "$wine_run") $(q "$setup10") /S /rom $(q "$rom_w") /dir 'C:\\Bench\\setup-10x' $install_args"
write_command setup-1x setup-1x "exec $(q "$wine_run") $(q "$setup") /S /rom $(q "$rom_w") /dir 'C:\\Bench\\setup-1x' $install_args"

# One wineserver for the whole run; it goes, and so do the install folders, at the end.
export WINEPREFIX="$prefix"
wineserver -p 2>/dev/null || true  # one may be running already
finish() {
  rm -rf "$bench_c"
  local key
  for key in TorrentinePC TorrentinePC-NSIS; do  # the installs' uninstall entries
    "$wine_run" reg delete "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key" /f \
      >/dev/null 2>&1 || true
  done
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
}
trap finish EXIT
"$wine_run" "$build/bench/return_zero.exe"  # the prefix's services are up before any timing

# measure NAME...: a warm-up round (0), then rounds 1..runs of every named command in turn.
# Each run: hyperfine times it (its output kept per round), /usr/bin/time -v takes its
# peak memory; a sync before it (untimed) keeps one run's write-back out of the next.
measure() {
  local round name ignore
  for ((round = 0; round <= runs; round++)); do
    for name in "$@"; do
      ignore=()
      [ "$name" = startup ] && ignore=(-i)  # fails at once by design: exit code 1
      if ! hyperfine -N --runs 1 --prepare sync --style none "${ignore[@]}" \
        --export-csv "$results/$name.$round.csv" \
        "/usr/bin/time -v -o $results/$name.$round.time bash $cmd/$name.sh" \
        >"$results/$name.$round.log" 2>&1; then
        cat "$results/$name.$round.log" >&2
        say "$name failed in round $round"
        exit 1
      fi
    done
  done
}

# The installs must have written the game's files: byte for byte, except the game
# executable, whose icon the setup program replaces.
check_installed() {
  local folder="$bench_c/$1" game="${2:-$game}" relative
  while IFS= read -r relative; do
    if [ "$relative" = TorrentinePC.exe ] && [[ "$1" == setup* ]]; then
      [ -s "$folder/$relative" ] || { say "$1: $relative missing"; exit 1; }
    elif ! cmp -s "$game/$relative" "$folder/$relative"; then
      say "$1: $relative missing or different"
      exit 1
    fi
  done < <(cd "$game" && find . -type f -printf '%P\n')
}

# The jobs must also have left the note, the ROM copy and an uninstaller; the setup
# program and the job floor an icon file of the size the floor writes.
check_job() {
  local folder="$bench_c/$1"
  printf 'Settings, saves, mods and the ROM copy are kept in this folder.\r\n' |
    cmp -s - "$folder/portable.txt" || { say "$1: portable.txt missing or different"; exit 1; }
  cmp -s "$rom" "$folder/torrentine.n64.proto.19990615.z64" || { say "$1: ROM copy missing or different"; exit 1; }
  [ -s "$folder/Uninstall.exe" ] || { say "$1: Uninstall.exe missing"; exit 1; }
  if [[ "$1" != nsis* ]] && [ "$(size "$folder/Torrentine PC.ico")" != "$icon_bytes" ]; then
    say "$1: the icon file is not $icon_bytes bytes: change icon_bytes in bench/run.sh"
    exit 1
  fi
}

say "timing the installs: setup, its update, the two floors, the four NSIS installers, cp -r ($runs rounds + warm-up)"
"$wine_run" "$setup" /S /rom "$rom_w" /dir 'C:\Bench\setup-update' /nodesktop /nostartmenu >/dev/null
"$wine_run" "$setup" /S /rom "$rom_w" /dir 'C:\Bench\setup-update-all' /nodesktop /nostartmenu >/dev/null
rm -f "$work/update-all.next"
installs=(setup setup-update setup-update-all floor floor-job nsis-stored nsis-zlib nsis-job-stored nsis-job-zlib cp)
measure "${installs[@]}"
for name in "${installs[@]}"; do
  if [ "$name" = setup-update-all ] && [ -f "$work/update-all.next" ]; then
    check_installed "$name" "$game_next"  # the last round installed the next version
  else
    check_installed "$name"
  fi
done
for name in setup floor-job nsis-job-stored nsis-job-zlib; do check_job "$name"; done
say "timing the ROM check"
measure rom-check rom-floor xxhsum
say "timing start-up"
measure startup return-zero
say "timing the install at ten times the payload"
measure setup-10x setup-1x
check_installed setup-10x

# --- The table ------------------------------------------------------------------------
# value NAME ROUND seconds|rss_kib
value() {
  if [ "$3" = seconds ]; then
    awk -F, 'NR == 2 { print $2 }' "$results/$1.$2.csv"
  else
    awk '/Maximum resident set size/ { print $NF }' "$results/$1.$2.time"
  fi
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
med() { for ((r = 1; r <= runs; r++)); do value "$1" "$r" "$2"; done | median; }
# ratio A B: the median of A/B over the rounds, each A beside the B of its own round.
ratio() {
  for ((r = 1; r <= runs; r++)); do
    echo "$(value "$1" "$r" seconds) $(value "$2" "$r" seconds)"
  done | awk '{ print $1 / $2 }' | median
}
ms() { awk -v s="$1" 'BEGIN { printf "%.0f ms", s * 1000 }'; }
x() { awk -v v="$1" 'BEGIN { printf "%.2f×", v }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
bytes() { echo "$1" | sed -e :a -e 's/\B[0-9]\{3\}\>/,&/; ta' -e 's/$/ B/'; }
met() { if awk "BEGIN { exit !($1) }"; then echo yes; else echo "**no**"; fi; }
export LC_NUMERIC=C.UTF-8

game_files="$(find "$game" -type f | wc -l)"
game_bytes="$(find "$game" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')"
exe_bytes="$(size "$game/TorrentinePC.exe")"
dxc_bytes="$(size "$game/dxcompiler.dll")"
game10_files="$(find "$game10" -type f | wc -l)"
setup_overhead=$(($(size "$release") - $(size "$package")))
floor_overhead=$(($(size "$build/bench/floor_install.exe") - $(size "$package")))
nsis_overhead=$(($(size "$work/nsis-stored.exe") - game_bytes))
nsis_zlib_overhead=$(($(size "$work/nsis-zlib.exe") - game_bytes))
r_setup=$(ratio setup floor)
r_job=$(ratio setup floor-job)
r_update=$(ratio setup-update floor-job)
r_update_all=$(ratio setup-update-all floor-job)
r_stored=$(ratio setup nsis-stored)
r_zlib=$(ratio setup nsis-zlib)
r_job_stored=$(ratio setup nsis-job-stored)
r_job_zlib=$(ratio setup nsis-job-zlib)
r_rom=$(ratio rom-check rom-floor)
r_scale=$(ratio setup-10x setup-1x)
rss_setup=$(med setup rss)
rss_floor=$(med floor rss)
rss_over=$((rss_setup - rss_floor))
too_few=""
if ((runs < 5)); then too_few=" (too few to count: a try-out)"; fi
cpu="$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"

table="$work/table.md"
{
  echo "| # | measured | median | ratio (median of pairs) | goal | met |"
  echo "|---|---|---|---|---|---|"
  echo "| | run of $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, $cpu, $(wine --version 2>/dev/null); $runs counted runs per command after 1 warm-up, in turn$too_few | | | | |"
  echo "| 1 | stand-in game: $game_files files, $(bytes "$game_bytes"); TorrentinePC.exe $(bytes "$exe_bytes") first, dxcompiler.dll $(bytes "$dxc_bytes") | | | | |"
  echo "| 2 | silent install, test flavour (setup), no shortcuts | $(ms "$(med setup seconds)") | $(x "$r_job") job floor; $(x "$r_setup") floor | ≤ 1.30× job floor | $(met "$r_job <= 1.3") |"
  echo "| 2 | update without the ROM, nothing changed (every file compared, none written) | $(ms "$(med setup-update seconds)") | $(x "$r_update") job floor; $(x "$(ratio setup-update setup)") the install | ≤ 0.50× job floor | $(met "$r_update <= 0.5") |"
  echo "| 2 | update without the ROM, every file changed (each staged, then renamed into place with the uninstaller) | $(ms "$(med setup-update-all seconds)") | $(x "$r_update_all") job floor; $(x "$(ratio setup-update-all setup)") the install | ≤ 1.30× job floor | $(met "$r_update_all <= 1.3") |"
  echo "| 2 | job floor: the floor, then the note, the ROM copy (one read), an icon file and an uninstaller of the setup's size from its image, one write each | $(ms "$(med floor-job seconds)") | 1.00× job floor; $(x "$(ratio floor-job floor)") floor | | |"
  echo "| 2 | floor: one resource, one write per file | $(ms "$(med floor seconds)") | 1.00× | | |"
  echo "| 2 | NSIS, same job, stored: files, ROM copy (CopyFiles), note, WriteUninstaller, the nine uninstall values | $(ms "$(med nsis-job-stored seconds)") | $(x "$(ratio nsis-job-stored floor-job)") job floor; setup $(x "$r_job_stored") it | setup faster | $(met "$r_job_stored < 1") |"
  echo "| 2 | NSIS, same job, zlib | $(ms "$(med nsis-job-zlib seconds)") | $(x "$(ratio nsis-job-zlib floor-job)") job floor; setup $(x "$r_job_zlib") it | setup faster | $(met "$r_job_zlib < 1") |"
  echo "| 2 | NSIS, files only, stored | $(ms "$(med nsis-stored seconds)") | $(x "$(ratio nsis-stored floor)") floor; setup $(x "$r_stored") it | setup faster | $(met "$r_stored < 1") |"
  echo "| 2 | NSIS, files only, zlib | $(ms "$(med nsis-zlib seconds)") | $(x "$(ratio nsis-zlib floor)") floor; setup $(x "$r_zlib") it | setup faster | $(met "$r_zlib < 1") |"
  echo "| 2 | cp -r, native (reference) | $(ms "$(med cp seconds)") | $(x "$(ratio cp floor)") floor | | |"
  echo "| 3 | ROM check: CheckRomFile of a 16 MiB ROM in its own process (read a piece at a time, the icon picture kept) | $(ms "$(med rom-check seconds)") | $(x "$r_rom") floor | ≤ 1.20× floor | $(met "$r_rom <= 1.2") |"
  echo "| 3 | floor: one read into a fresh buffer + XXH3 | $(ms "$(med rom-floor seconds)") | 1.00× | | |"
  echo "| 3 | xxhsum -H3, native (reference) | $(ms "$(med xxhsum seconds)") | $(x "$(ratio xxhsum rom-floor)") floor | | |"
  echo "| 4 | start-up: silent run that fails at once (empty folder) | $(ms "$(med startup seconds)") | $(x "$(ratio startup return-zero)") return-0 | | |"
  echo "| 4 | a program that returns 0 | $(ms "$(med return-zero seconds)") | 1.00× | | |"
  echo "| 5 | silent install at 10× the payload: $game10_files files, package $(bytes "$(size "$package10")") | $(ms "$(med setup-10x seconds)") | $(x "$r_scale") the 1× install ($(ms "$(med setup-1x seconds)")) | ≤ 11× | $(met "$r_scale <= 11") |"
  echo "| 6 | setup overhead: the release's executable $(bytes "$(size "$release")") (stripped) − package $(bytes "$(size "$package")") | $(bytes "$setup_overhead") | $(x "$(awk -v a=$setup_overhead -v b=$nsis_overhead 'BEGIN { print a / b }')") NSIS | ≤ NSIS | $(met "$setup_overhead <= $nsis_overhead") |"
  echo "| 6 | NSIS stub overhead: stored installer − files (zlib: $(bytes "$nsis_zlib_overhead")); floor: $(bytes "$floor_overhead") | $(bytes "$nsis_overhead") | | | |"
  echo "| 6 | peak memory (max RSS) of the install | $(mib "$rss_setup") | floor + $(mib "$rss_over") | ≤ floor + 32 MiB | $(met "$rss_over <= 32 * 1024") |"
  echo "| 6 | peak memory of the floor; job floor; NSIS stored, zlib; same job stored, zlib; 10× install | $(mib "$rss_floor") | $(mib "$(med floor-job rss)"); $(mib "$(med nsis-stored rss)"), $(mib "$(med nsis-zlib rss)"); $(mib "$(med nsis-job-stored rss)"), $(mib "$(med nsis-job-zlib rss)"); $(mib "$(med setup-10x rss)") | | |"
} >"$table"
cat "$table"
