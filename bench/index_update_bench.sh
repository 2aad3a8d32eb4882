#!/usr/bin/env bash
# Building an index against the walks it replaces, on one warm local tree: a live
# `lanternquest-cli -a RHSAD '*'` search (the update is that search written to an index:
# target at most 1.2x) and plocate's `updatedb` on the same tree (target at most 0.7x).
# An update must read each entry's size and time, one stat an entry, which that search
# does not: the same search with --long, which reads them too, is timed beside it. Also
# the index's size on disk per entry and the update's peak memory. Prints every
# ratio of the run and the machine's load.
#
# usage: bench/index_update_bench.sh CLI TREE [THREADS] [RUNS]
#   CLI      path of lanternquest-cli (e.g. build/src/cli/lanternquest-cli)
#   TREE     a tree made by bench/make_tree.py
#   THREADS  worker threads for lanternquest-cli (default 2)
#   RUNS     timed runs per tool; the best is reported (default 3)
set -euo pipefail
cli=$1; tree=$(realpath "$2"); threads=${3:-2}; runs=${4:-3}
command -v updatedb >/dev/null || { echo "updatedb (package plocate) is needed" >&2; exit 1; }
scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT
export XDG_CACHE_HOME=$scratch/cache

run_live()     { "$cli" -a RHSAD -j "$threads" '*' "$tree" >/dev/null; }
run_details()  { "$cli" -a RHSAD -j "$threads" --long '*' "$tree" >/dev/null; }
run_update()   { "$cli" -j "$threads" --update-index "$tree" 2>/dev/null; }
run_updatedb() { updatedb -U "$tree" -o "$scratch/plocate.db" -l 0 --prunepaths= --prunefs=; }

best_seconds() {  # command: the best wall time of $runs runs
  local best=
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N); "$1"; end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-1e9}" | awk '{t=$2-$1; print (t<$3)?t:$3}')
  done
  echo "$best"
}

find "$tree" >/dev/null  # warm the cache
echo "load before: $(uptime)"
t_live=$(best_seconds run_live)
t_details=$(best_seconds run_details)
t_update=$(best_seconds run_update)
t_updatedb=$(best_seconds run_updatedb)
entries=$("$cli" --index-status --format csv | awk -F, 'NR == 2 { print $2 }')
bytes=$("$cli" --index-status --format csv | awk -F, 'NR == 2 { print $3 }')
peak=$( { /usr/bin/time -f '%M' "$cli" -j "$threads" --update-index "$tree" 2>&1 >/dev/null; } | tail -1)
awk -v e="$entries" -v b="$bytes" -v j="$threads" -v l="$t_live" -v ld="$t_details" -v u="$t_update" -v d="$t_updatedb" -v p="$peak" 'BEGIN {
  printf "%d entries, index %d bytes (%.1f bytes an entry), update peak RSS %.0f MB\n", e, b, b / e, p / 1024
  printf "live -a RHSAD -j%d %.2fs  the same --long %.2fs  --update-index %.2fs  updatedb %.2fs\n", j, l, ld, u, d
  printf "update/live %.2f (target <= 1.2)  update/live --long %.2f  update/updatedb %.2f (target <= 0.7)\n", u / l, u / ld, u / d }'
echo "load after: $(uptime)"
