#!/usr/bin/env bash
# Times lanternquest-cli against fdfind, find and (when installed) bfs on one warm local
# tree, for a selective mask, for "*", and for "*" with each result's size and time, after
# checking that they report the same set of names. Prints every ratio of the run, the
# lanternquest-cli -j1 time beside -jTHREADS, and (when strace is installed) the futex
# calls per folder of one -jTHREADS run.
#
# usage: bench/compare_local.sh CLI TREE [THREADS] [RUNS]
#   CLI      path of lanternquest-cli (e.g. build/src/cli/lanternquest-cli)
#   TREE     a tree made by bench/make_tree.py
#   THREADS  worker threads for lanternquest-cli and fdfind (default 2)
#   RUNS     timed runs per tool; the best is reported (default 5)
set -euo pipefail
cli=$1; tree=${2%/}; threads=${3:-2}; runs=${4:-5}
command -v fdfind >/dev/null || { echo "fdfind (package fd-find) is needed" >&2; exit 1; }
have_bfs=0; command -v bfs >/dev/null && have_bfs=1
scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT

# Every attribute is permitted so that hidden entries count as for the other tools.
run_lq()    { "$cli" -a RHSAD -j "$threads" "$1" "$tree"; }
run_lq1()   { "$cli" -a RHSAD -j 1 "$1" "$tree"; }
run_lql()   { "$cli" -a RHSAD -j "$threads" --long "$1" "$tree"; }
run_fd()    { fdfind -u -g -j "$threads" "$1" "$tree" | sed 's|/$||'; }
run_find()  { find "$tree" -mindepth 1 -name "$1"; }
run_bfs()   { bfs "$tree" -mindepth 1 -name "$1"; }
run_bfsl()  { bfs "$tree" -mindepth 1 -name "$1" -printf '%p\t%s\t%TY-%Tm-%Td %TH:%TM:%TS\n'; }

best_seconds() {  # tool, mask: the best wall time of $runs runs, output discarded
  local best=
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N); "$1" "$2" >/dev/null; end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-1e9}" | awk '{t=$2-$1; print (t<$3)?t:$3}')
  done
  echo "$best"
}

find "$tree" >/dev/null  # warm the cache
folders=$(find "$tree" -type d | wc -l)
status=0
tools=(fd find); ((have_bfs)) && tools+=(bfs)
for mask in '*.txt' '*'; do
  for tool in lq "${tools[@]}"; do "run_$tool" "$mask" | sort >"$scratch/$tool"; done
  for tool in "${tools[@]}"; do
    if ! cmp -s "$scratch/lq" "$scratch/$tool"; then
      echo "mask $mask: lanternquest-cli and $tool differ:" >&2
      diff "$scratch/lq" "$scratch/$tool" | head >&2; status=1
    fi
  done
  t_lq=$(best_seconds run_lq "$mask"); t_lq1=$(best_seconds run_lq1 "$mask")
  t_fd=$(best_seconds run_fd "$mask"); t_find=$(best_seconds run_find "$mask")
  t_bfs=0; ((have_bfs)) && t_bfs=$(best_seconds run_bfs "$mask")
  awk -v m="$mask" -v n="$(wc -l <"$scratch/lq")" -v j="$threads" -v a="$t_lq" -v a1="$t_lq1" \
      -v b="$t_fd" -v c="$t_find" -v d="$t_bfs" 'BEGIN {
    printf "mask %-6s %7d names  lq -j%d %.3fs  lq -j1 %.3fs  fdfind -j%d %.3fs  find %.3fs", m, n, j, a, a1, j, b, c
    if (d > 0) printf "  bfs %.3fs", d
    printf "\n             lq/fd %.2f  lq/find %.2f  lq-j%d/lq-j1 %.2f", a/b, a/c, j, a/a1
    if (d > 0) printf "  lq/bfs %.2f", a/d
    printf "\n" }'
done
if ((have_bfs)); then
  t_lql=$(best_seconds run_lql '*'); t_bfsl=$(best_seconds run_bfsl '*')
  awk -v j="$threads" -v a="$t_lql" -v b="$t_bfsl" 'BEGIN {
    printf "details  lq -j%d --long %.3fs  bfs -printf size,time %.3fs  lq/bfs %.2f\n", j, a, b, a/b }'
fi
if command -v strace >/dev/null; then
  strace -f -c -o "$scratch/strace" "$cli" -a RHSAD -j "$threads" '*' "$tree" >/dev/null
  awk -v f="$folders" -v j="$threads" '$NF == "futex" { calls = $4 } END {
    printf "futex    lq -j%d: %d calls for %d folders, %.3f per folder\n", j, calls, f, calls / f }' "$scratch/strace"
fi
exit $status
