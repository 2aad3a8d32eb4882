#!/usr/bin/env bash
# Times lanternquest-cli against fdfind and find on one warm local tree, for a selective
# mask and for "*", after checking that all three report the same set of names.
#
# usage: bench/compare_local.sh CLI TREE [THREADS] [RUNS]
#   CLI      path of lanternquest-cli (e.g. build/src/cli/lanternquest-cli)
#   TREE     a tree made by bench/make_tree.py
#   THREADS  worker threads for lanternquest-cli and fdfind (default 2)
#   RUNS     timed runs per tool; the best is reported (default 5)
set -euo pipefail
cli=$1; tree=${2%/}; threads=${3:-2}; runs=${4:-5}
command -v fdfind >/dev/null || { echo "fdfind (package fd-find) is needed" >&2; exit 1; }
scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT

# Every attribute is permitted so that hidden entries count as for the other two tools.
run_lq()   { "$cli" -a RHSAD -j "$threads" "$1" "$tree"; }
run_fd()   { fdfind -u -g -j "$threads" "$1" "$tree" | sed 's|/$||'; }
run_find() { find "$tree" -mindepth 1 -name "$1"; }

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
status=0
for mask in '*.txt' '*'; do
  for tool in lq fd find; do "run_$tool" "$mask" | sort >"$scratch/$tool"; done
  for tool in fd find; do
    if ! cmp -s "$scratch/lq" "$scratch/$tool"; then
      echo "mask $mask: lanternquest-cli and $tool differ:" >&2
      diff "$scratch/lq" "$scratch/$tool" | head >&2; status=1
    fi
  done
  t_lq=$(best_seconds run_lq "$mask"); t_fd=$(best_seconds run_fd "$mask"); t_find=$(best_seconds run_find "$mask")
  awk -v m="$mask" -v n="$(wc -l <"$scratch/lq")" -v j="$threads" -v a="$t_lq" -v b="$t_fd" -v c="$t_find" 'BEGIN {
    printf "mask %-6s %7d names  -j %-2d  lanternquest-cli %.3fs  fdfind %.3fs  find %.3fs  lq/fd %.2f  lq/find %.2f\n",
           m, n, j, a, b, c, a/b, a/c }'
done
exit $status
