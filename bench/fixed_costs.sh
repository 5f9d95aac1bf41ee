#!/usr/bin/env bash
# The setup program's fixed costs under Wine, part by part: runs bench/fixed_cost_probe.exe
# with each list of parts in turn, round by round (one warm-up round), with hyperfine, and
# prints each list's median and the median of its round-by-round ratios to doing nothing.
#
#   bash bench/fixed_costs.sh [PARTS...]   BENCH_RUNS=N rounds (default 15); uses the build
#                                          of bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

runs="${BENCH_RUNS:-15}"
build="$PWD/${BENCH_BUILD_DIR:-build-bench}"
probe="$build/bench/fixed_cost_probe.exe"
if [ ! -x "$probe" ]; then
  echo "bench/fixed_costs.sh: run bench/run.sh first (it builds $build)" >&2
  exit 1
fi
parts=(none "$@")
if [ $# -eq 0 ]; then
  parts=(none argv argv,shell,registry sta mta sta,window mta,window sta,link mta,link
         argv,shell,registry,sta,link argv,shell,registry,mta,link)
fi
out="$build/bench-work/fixed-costs"
rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX="$build/wineprefix"
wineserver -p 2>/dev/null || true  # one may be running already
trap 'WINEPREFIX="$build/wineprefix" wineserver -k >/dev/null 2>&1 || true' EXIT
"$build/wine-run.sh" "$probe" none  # the prefix's services are up before any timing

for ((round = 0; round <= runs; round++)); do
  for i in "${!parts[@]}"; do
    hyperfine -N --runs 1 --style none --export-csv "$out/$i.$round.csv" \
      "$build/wine-run.sh $probe ${parts[$i]}" >/dev/null 2>&1
  done
done

seconds() { awk -F, 'NR == 2 { print $(NF - 6) }' "$out/$1.$2.csv"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "| parts ($runs rounds, in turn) | median ms | median of (parts − none) ms | ratio to none |"
echo "|---|---|---|---|"
for i in "${!parts[@]}"; do
  m=$(for ((r = 1; r <= runs; r++)); do seconds "$i" "$r"; done | median)
  d=$(for ((r = 1; r <= runs; r++)); do echo "$(seconds "$i" "$r") $(seconds 0 "$r")"; done |
      awk '{ print $1 - $2 }' | median)
  q=$(for ((r = 1; r <= runs; r++)); do echo "$(seconds "$i" "$r") $(seconds 0 "$r")"; done |
      awk '{ print $1 / $2 }' | median)
  awk -v p="${parts[$i]}" -v m="$m" -v d="$d" -v q="$q" \
    'BEGIN { printf "| %s | %.1f | %+.1f | %.2f× |\n", p, m * 1000, d * 1000, q }'
done
