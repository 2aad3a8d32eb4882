#!/usr/bin/env bash
# Discovery benchmark, on the test LAN of tests/support/discovery_network.sh (network
# namespaces only; needs root): how long `lanternquest-cli --discover` takes to list the
# three announced machines, against `avahi-browse -rtp _smb._tcp` (DNS-SD only); how long
# a search of the entire network takes from its start to its first result (a file at the
# top of the first share walked) and to its end; and how long a /24 range search takes.
# Each figure is the median of RUNS fresh processes (nothing is reused between them).
#   bench/discovery_bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
runs=${2:-5}
cli=$build/src/cli/lanternquest-cli
here=$(cd "$(dirname "$0")" && pwd)
net=$here/../tests/support/discovery_network.sh
[[ $(id -u) == 0 ]] || { echo "needs root (network namespaces)" >&2; exit 1; }
t=$(mktemp -d /tmp/lq-disc-bench-XXXXXX)
chmod 755 "$t"
ns=lqdbench$$
cleanup() { bash "$net" down "$t" "$ns" >/dev/null 2>&1 || true; rm -rf "$t"; }
trap cleanup EXIT
bash "$net" up "$t" "$ns"
for h in 1 2 3; do mkdir -p "$t/h$h/pub/deep"; echo x > "$t/h$h/pub/top-$h.txt"; echo x > "$t/h$h/pub/deep/f.txt"; done

inside=(ip netns exec "$ns-c" env XDG_RUNTIME_DIR="$t/c" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$t/c/bus"
        LQ_HOST_DISCOVERY=on)

# Prints "SECONDS_TO_FIRST_LINE SECONDS_TO_END" for a command's standard output.
timed() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
start = time.monotonic()
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
first = None
for line in p.stdout:
    if first is None:
        first = time.monotonic() - start
p.wait()
end = time.monotonic() - start
print(f"{first if first is not None else float('nan'):.3f} {end:.3f}")
PY
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

measure() {  # LABEL COLUMN COMMAND...
  local label=$1 column=$2
  shift 2
  local values=()
  for _ in $(seq "$runs"); do values+=("$(timed "$@" | cut -d' ' -f"$column")"); done
  printf '%s\n' "${values[@]}" | median
}

echo "machines: $("${inside[@]}" "$cli" --discover 2>/dev/null | wc -l) (expected 3)"
# Each smbd starts its RPC helper at the first share listing (about a second): warm up once.
"${inside[@]}" "$cli" 'top-*' 10.78.0.0/24 >/dev/null 2>&1 || true
discover=$(measure discover 2 "${inside[@]}" "$cli" --discover)
avahi=$(measure avahi 2 "${inside[@]}" avahi-browse -rtp _smb._tcp)
first=$(measure first 1 "${inside[@]}" "$cli" 'top-*' network)
whole=$(measure whole 2 "${inside[@]}" "$cli" 'top-*' network)
range=$(measure range 2 "${inside[@]}" "$cli" 'top-*' 10.78.0.0/24)
printf 'median of %d runs\n' "$runs"
printf '  --discover                                 %6.2f s   (avahi-browse -rt alone %.2f s, ratio %.2f)\n' \
  "$discover" "$avahi" "$(echo "$discover / $avahi" | bc -l)"
printf '  entire network: first result after start  %6.2f s\n' "$first"
printf '  entire network: search done               %6.2f s\n' "$whole"
printf '  range 10.78.0.0/24 (3 alive, 250 silent)  %6.2f s\n' "$range"
