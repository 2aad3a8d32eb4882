#!/usr/bin/env bash
# Index benchmark: queries answered from the index against plocate on the same tree, in
# the same run, as whole processes (hyperfine); the index's size per entry and a query's
# peak memory; the cost of a query at 20,000,000 generated entries against 2,000,000.
#
# usage: bench/index_bench.sh BUILD_DIR [TREE] [WORK]
#   TREE  a tree of make_tree.py (default /tmp/lqbench/tree, made with --files 2000000
#         --folders 200000 when missing: about two minutes)
#   WORK  where the indexes go (default /tmp/lqbench)
# Needs plocate (updatedb, plocate) and hyperfine. Prints the machine's load with each
# part: on a busy machine, repeat.
set -euo pipefail
build=$(realpath "${1:?usage: index_bench.sh BUILD_DIR [TREE] [WORK]}")
tree=${2:-/tmp/lqbench/tree}
work=${3:-/tmp/lqbench}
cli=$build/src/cli/lanternquest-cli
tool=$build/bench/bench_index_tool
here=$(dirname "$(realpath "$0")")
mkdir -p "$work"
[ -d "$tree" ] || python3 "$here/make_tree.py" "$tree" --files 2000000 --folders 200000

export XDG_CACHE_HOME=$work/cache
echo "== load: $(uptime)"
if [ ! -s "$work/plocate.db" ]; then
  updatedb -U "$tree" -o "$work/plocate.db" -l 0 --prunepaths= --prunefs=
fi
"$cli" --update-index "$tree" > /dev/null
index=$(ls "$XDG_CACHE_HOME"/lanternquest/index/*.lqindex | head -1)
bytes=$(stat -c %s "$index")
echo "index: $bytes bytes"

# Times two commands with hyperfine; prints under name the means (ms) with their labels,
# the first's share of the second and their difference.
compare() {  # name, label A, label B, command A, command B
  local json
  json=$(mktemp)
  hyperfine -N -i -w 3 -r 15 --output=null --export-json "$json" "$4" "$5" > /dev/null 2>&1
  python3 - "$json" "$1" "$2" "$3" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
a, b = r[0]["mean"] * 1000, r[1]["mean"] * 1000
print(f"{sys.argv[2]:<22} {sys.argv[3]} {a:8.1f} ms   {sys.argv[4]} {b:8.1f} ms   ratio {a / b:5.2f}   diff {a - b:+7.1f} ms")
EOF
  rm -f "$json"
}
# One query: the CLI from the index, then plocate with the same question in its form.
ratio() {  # name, lanternquest args, plocate args
  compare "$1" indexed plocate "$cli --indexed $2 $tree" "plocate -d $work/plocate.db $3"
}
echo "== queries, whole processes (load: $(uptime | sed 's/.*average: //'))"
# (plocate has no size or time filter: the filtered query is compared with its unfiltered
# form, which finds at least as much.)
ratio "*file12345*" "*file12345*" "-i file12345"
ratio "*report* (none)" "*report*" "-i *report*"
ratio "*.txt" "*.txt" "-i *.txt"
ratio "*.c;*.h" "*.c;*.h" "-i *.c *.h"
ratio "*.c --size-from 1" "--size-from 1 *.c" "-i *.c"
ratio "*.c --time-from" "--time-from 2000-01-01 *.c" "-i *.c"

echo "== peak memory of a query (index file $bytes bytes)"
for mask in '*file12345*' '*.txt'; do
  /usr/bin/time -f "$mask: %M KB peak" "$cli" --indexed "$mask" "$tree" > /dev/null
done

echo "== 2,000,000 against 20,000,000 generated entries (load: $(uptime | sed 's/.*average: //'))"
[ -s "$work/synth2m.lqindex" ] || "$tool" synth 2000000 "$work/synth2m.lqindex"
[ -s "$work/synth20m.lqindex" ] || "$tool" synth 20000000 "$work/synth20m.lqindex"
for mask in '*file12345*' '*report*' '*.txt'; do
  # The ratio printed is 2M against 20M: its inverse is what 20M costs against 2M.
  compare "$mask" 2M 20M "$tool query $work/synth2m.lqindex /synthetic $mask --count" \
    "$tool query $work/synth20m.lqindex /synthetic $mask --count"
done
for f in synth2m synth20m; do
  echo "$f: $(stat -c %s "$work/$f.lqindex") bytes"
done
echo "== load at the end: $(uptime)"
