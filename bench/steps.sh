#!/usr/bin/env bash
# Where the silent install's time and memory go: runs bench/install_steps.exe (the install's
# steps one by one, through the setup program's own functions, then the floor's way of
# writing the same files) several times and prints each step's median as a Markdown table,
# followed by the two heavy parts of the game icon step alone in processes of their own.
#
#   bash bench/steps.sh      BENCH_RUNS=N runs (default 5); uses the build of bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

runs="${BENCH_RUNS:-5}"
build="$PWD/${BENCH_BUILD_DIR:-build-bench}"
if [ ! -x "$build/bench/install_steps.exe" ]; then
  echo "bench/steps.sh: run bench/run.sh first (it builds $build)" >&2
  exit 1
fi
out="$build/bench-work/steps"
rm -rf "$out"
mkdir -p "$out"
windows_path() { echo "Z:$1" | tr / '\\'; }
wine_run="$build/wine-run.sh"
bench_c="$build/wineprefix/drive_c/Bench"
export WINEPREFIX="$build/wineprefix"
wineserver -p 2>/dev/null || true  # one may be running already
finish() {
  rm -rf "$bench_c/steps" "$bench_c/steps-floor"
  WINEPREFIX="$build/wineprefix" wineserver -k >/dev/null 2>&1 || true
}
trap finish EXIT

for ((i = 0; i <= runs; i++)); do  # run 0 warms up and is not counted
  rm -rf "$bench_c/steps" "$bench_c/steps-floor"
  sync
  "$wine_run" "$build/bench/install_steps.exe" "$(windows_path "$build/TorrentinePCSetup-test.exe")" \
    "$(windows_path "$build/fixtures/fixture.z64")" 'C:\Bench\steps' 'C:\Bench\steps-floor' \
    >"$out/steps.$i.txt"
done
for part in map-copy update; do
  for ((i = 1; i <= runs; i++)); do
    "$wine_run" "$build/bench/install_steps.exe" part "$part" 'C:\Bench\steps\TorrentinePC.exe' \
      >"$out/part-$part.$i.txt"
  done
done

# Lines are "step ms working_set_MiB peak_MiB"; medians per step, in the order of run 1.
median_table() {
  awk '
    { name[FNR] = $1; ms[FNR, ++n[FNR]] = $2; ws[FNR] = $3; peak[FNR] = $4; rows = FNR }
    END {
      for (r = 1; r <= rows; r++) {
        k = n[r]
        for (a = 1; a <= k; a++) v[a] = ms[r, a]
        for (a = 1; a <= k; a++) for (b = a + 1; b <= k; b++) if (v[b] < v[a]) { t = v[a]; v[a] = v[b]; v[b] = t }
        m = (k % 2) ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
        printf "| %s | %.1f | %.1f | %.1f |\n", name[r], m, ws[r], peak[r]
      }
    }' "$@"
}

echo "| step (install_steps.exe, $runs runs) | median ms | working set after, MiB | peak after, MiB |"
echo "|---|---|---|---|"
files=()
for ((i = 1; i <= runs; i++)); do files+=("$out/steps.$i.txt"); done
median_table "${files[@]}"
for part in map-copy update; do
  files=()
  for ((i = 1; i <= runs; i++)); do files+=("$out/part-$part.$i.txt"); done
  median_table "${files[@]}" | sed -e "s/^| start /| alone: $part, at its start /" -e "s/^| part /| alone: $part /"
done
