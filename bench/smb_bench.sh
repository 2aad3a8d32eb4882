#!/usr/bin/env bash
# Share benchmark: lanternquest-cli with 1, 4 and 12 threads against
# `smbclient -c 'recurse ON; ls'` on one share of about 20,000 files in 2,000 folders, served
# by a private smbd on 127.0.0.1; on plain loopback and with 1 ms of round-trip time added
# by bench_smb_delay_proxy (0.5 ms each way, to an absolute deadline), which also counts
# the SMB2 requests of one -j 12 search per listed folder. Then the share's index at 1 ms:
# its update, and a search answered from it against the live walk (target: at least 100x
# faster). Then how long a host that drops packets holds the search. Traffic stays on
# 127.0.0.0/8.
#   bench/smb_bench.sh BUILD_DIR        (BUILD_DIR holds src/cli/lanternquest-cli and
#                                        bench/bench_smb_delay_proxy)
set -euo pipefail
build=${1:?build directory}
cli=$build/src/cli/lanternquest-cli
proxy=$build/bench/bench_smb_delay_proxy
port=${LQ_BENCH_PORT:-15445}
proxy_port=$((port + 1))
dead_port=$((port + 2))
count_port=$((port + 3))
folders=2021  # the share's root, 20 folders, 2,000 below them
t=$(mktemp -d /tmp/lq-smb-bench-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [[ -f $t/pid/samba-dcerpcd.pid ]] && kill -TERM -- "-$(cat "$t/pid/samba-dcerpcd.pid")" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$t"
}
trap cleanup EXIT
mkdir -p "$t"/{share,private,lock,state,cache,pid,ncalrpc,binddns,log,home/.smb}
chmod 755 "$t"

echo "generating 2,000 folders x 10 files"
python3 - "$t/share" <<'PY'
import os, sys
root = sys.argv[1]
for a in range(20):
    for b in range(100):
        d = os.path.join(root, f"p{a:02d}", f"q{b:03d}")
        os.makedirs(d, exist_ok=True)
        for i in range(10):
            open(os.path.join(d, f"file{i}.{'txt' if i % 2 else 'dat'}"), "w").close()
PY

cat > "$t/smb.conf" <<CONF
[global]
  server role = standalone server
  interfaces = 127.0.0.1
  bind interfaces only = yes
  smb ports = $port
  disable netbios = yes
  private dir = $t/private
  lock directory = $t/lock
  state directory = $t/state
  cache directory = $t/cache
  pid directory = $t/pid
  ncalrpc dir = $t/ncalrpc
  binddns dir = $t/binddns
  usershare path =
  log file = $t/log/log.%m
  passdb backend = tdbsam:$t/private/passdb.tdb
  map to guest = bad user
  load printers = no
  disable spoolss = yes
[bench]
  path = $t/share
  guest ok = yes
  read only = yes
CONF
# The smbclient side reads $HOME/.smb/smb.conf: keep it away from the host's settings.
printf '[global]\n  lock directory = %s\n  cache directory = %s\n  state directory = %s\n  private dir = %s\n' \
  "$t/home" "$t/home" "$t/home" "$t/home" > "$t/home/.smb/smb.conf"

smbd --foreground -l "$t/log" -s "$t/smb.conf" </dev/null >/dev/null 2>&1 &
smbd_pid=$!
pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.05; done
"$proxy" "$proxy_port" "$port" 500 >/dev/null &
proxy_pid=$!
pids+=($!)
sleep 0.3

seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N); echo "$e - $s" | bc; }
count_cli() { "$cli" -j "$1" '*' "smb://127.0.0.1:$2/bench" 2>/dev/null | wc -l; }

for label in "loopback:$port" "1ms-rtt:$proxy_port"; do
  name=${label%%:*}; p=${label##*:}
  echo "== $name (files and folders found by the CLI: $(count_cli 12 "$p"))"
  t_smbclient=$(seconds env HOME="$t/home" smbclient -N -p "$p" //127.0.0.1/bench -c 'recurse ON; ls')
  printf '  smbclient recurse ls : %6.2f s\n' "$t_smbclient"
  for j in 1 4 12; do
    t_lq=$(seconds "$cli" -j "$j" '*' "smb://127.0.0.1:$p/bench")
    printf '  lanternquest-cli -j %-2s: %6.2f s  smbclient/lq %5.1f\n' "$j" "$t_lq" "$(echo "$t_smbclient / $t_lq" | bc -l)"
  done
done

# Where the CPU of one -j 12 search through the delay goes. smbd serves each connection
# from a child of its own, whose time the main process collects when the child ends; the
# proxy is one process. All three share this machine's cores.
ticks=$(getconf CLK_TCK)
cpu_of() {  # pid, with_children: seconds of CPU so far
  awk -v t="$ticks" -v c="$2" '{ s = $14 + $15; if (c) s += $16 + $17; printf "%.3f", s / t }' "/proc/$1/stat"
}
smbd0=$(cpu_of "$smbd_pid" 1); proxy0=$(cpu_of "$proxy_pid" 0)
start=$(date +%s.%N)
client=$( { "$cli" -j 12 '*' "smb://127.0.0.1:$proxy_port/bench" >/dev/null 2>&1; times; } | awk 'NR == 2 {
  split($1, u, "m"); split($2, s, "m"); printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
wall=$(echo "$(date +%s.%N) - $start" | bc)
sleep 0.3  # smbd reaps the connection's child
smbd1=$(cpu_of "$smbd_pid" 1); proxy1=$(cpu_of "$proxy_pid" 0)
awk -v w="$wall" -v c="$client" -v s="$(echo "$smbd1 - $smbd0" | bc)" -v p="$(echo "$proxy1 - $proxy0" | bc)" \
    -v n="$(nproc)" 'BEGIN {
  printf "== CPU of one -j 12 search at 1 ms: wall %.2f s; client %.2f s, smbd %.2f s, proxy %.2f s;", w, c, s, p
  printf " their sum over %d cores %.2f s\n", n, (c + s + p) / n }'

# The requests of one -j 12 search, counted by a proxy of its own.
"$proxy" "$count_port" "$port" 500 >"$t/requests" &
counter=$!
sleep 0.3
count_cli 12 "$count_port" >/dev/null
kill -TERM "$counter"; wait "$counter" 2>/dev/null || true
awk -v f="$folders" '$1 == "requests" { total = $2 } $1 != "requests" { by = by sprintf(" %s %.2f", $1, $2 / f) }
  END { printf "== SMB2 requests per listed folder (-j 12, %d folders): %.2f; by command:%s\n", f, total / f, by }' "$t/requests"

# The share's index, behind the 1 ms proxy: one update, then the same search live and
# answered from the index (the best of three each). The update opens at most four
# connections to the server; the most open at once is counted on the proxy's port.
export XDG_CACHE_HOME=$t/index-cache
( while :; do ss -Htn state established "( dport = :$proxy_port )" | wc -l; sleep 0.01; done ) >"$t/conns" &
sampler=$!
t_update=$(seconds "$cli" -j 12 --update-index "smb://127.0.0.1:$proxy_port/bench")
kill "$sampler"; wait "$sampler" 2>/dev/null || true
conn_max=$(sort -n "$t/conns" | tail -1)
best_of3() { local b=1e9 x; for _ in 1 2 3; do x=$(seconds "$@"); b=$(echo "$x $b" | awk '{print ($1<$2)?$1:$2}'); done; echo "$b"; }
t_live=$(best_of3 "$cli" -j 12 'file7*' "smb://127.0.0.1:$proxy_port/bench")
t_indexed=$(best_of3 "$cli" --indexed 'file7*' "smb://127.0.0.1:$proxy_port/bench")
n_live=$("$cli" -j 12 'file7*' "smb://127.0.0.1:$proxy_port/bench" 2>/dev/null | sort | md5sum)
n_indexed=$("$cli" --indexed 'file7*' "smb://127.0.0.1:$proxy_port/bench" 2>/dev/null | sort | md5sum)
[[ $n_live == "$n_indexed" ]] || echo "!! the indexed answer differs from the live one" >&2
printf '== index at 1 ms: update %.2f s (at most %d connections at once); file7* live %.3f s, indexed %.3f s: %.0fx\n' \
  "$t_update" "$conn_max" "$t_live" "$t_indexed" "$(echo "$t_live / $t_indexed" | bc -l)"
unset XDG_CACHE_HOME

# A host that drops packets: a listener whose accept queue is full.
python3 - "$dead_port" <<'PY' &
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.9", int(sys.argv[1]))); s.listen(0)
fill = []
for _ in range(3):
    c = socket.socket(); c.setblocking(False)
    try: c.connect(("127.0.0.9", int(sys.argv[1])))
    except BlockingIOError: pass
    fill.append(c)
time.sleep(60)
PY
pids+=($!)
sleep 0.3
printf '== dead host: lanternquest-cli gave up after %.2f s\n' "$(seconds "$cli" '*' "smb://127.0.0.9:$dead_port/x")"
