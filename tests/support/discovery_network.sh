#!/bin/bash
# A small LAN of its own for host-discovery tests, in network namespaces:
#   NS-c   the searching side: bridge lqbr 10.78.0.1/24, a private D-Bus system bus and
#          an avahi-daemon on lqbr (the program under test finds it by
#          DBUS_SYSTEM_BUS_ADDRESS=unix:path=ROOT/c/bus)
#   NS-h1  10.78.0.2  smbd + wsdd (WSDONLY, workgroup LQDISC), no nmbd
#   NS-h2  10.78.0.3  smbd + avahi-daemon "_smb._tcp" (mdnsonly); it also announces a
#                     service on deadhost.local = 10.78.0.99, where nothing answers
#   NS-h3  10.78.0.4  smbd + wsdd (BOTHHOST, LQDISC) + avahi-daemon (bothhost)
#   NS-h4  10.78.0.5  a fake WS-Discovery responder answering with junk (junk_wsd.py)
# Each host namespace is joined to the bridge by a veth pair. Every file lives under ROOT;
# every daemon's pid is written to ROOT/pids, and `down` stops them by pid and deletes
# the namespaces (deleting a namespace deletes its veth ends too).
#
# Usage: discovery_network.sh up ROOT NS | down ROOT NS
set -u
cmd=$1 root=$2 ns=$3
here=$(cd "$(dirname "$0")" && pwd)
hosts="h1 h2 h3 h4"

down() {
  if [ -f "$root/pids" ]; then
    while read -r pid; do kill -TERM "$pid" 2>/dev/null; done < "$root/pids"
    sleep 0.3
    while read -r pid; do kill -KILL "$pid" 2>/dev/null; done < "$root/pids"
  fi
  for f in "$root"/h*/pid/samba-dcerpcd.pid; do
    [ -f "$f" ] && kill -TERM -- "-$(cat "$f")" 2>/dev/null
  done
  for n in c $hosts; do ip netns delete "$ns-$n" 2>/dev/null; done
  return 0
}

# Starts a program in the background, records its pid.
spawn() { "$@" & echo $! >> "$root/pids"; }

smbd_conf() {  # NAME ADDRESS DIR
  t=$3
  mkdir -p "$t/pub" "$t/private" "$t/lock" "$t/state" "$t/cache" "$t/pid" "$t/ncalrpc" "$t/binddns" "$t/log"
  cat > "$t/smb.conf" <<CONF
[global]
  workgroup = LQDISC
  netbios name = $1
  server role = standalone server
  interfaces = $2/24
  bind interfaces only = yes
  smb ports = 445
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
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  smbd:backgroundqueue = no
[public]
  path = $t/pub
  guest ok = yes
  read only = yes
CONF
}

avahi_server() {  # HOST-NAME NAMESPACE DIR [extra hosts line]
  t=$3
  mkdir -p "$t/services" "$t/avahi"
  cat > "$t/avahi.conf" <<CONF
[server]
host-name=$1
use-ipv4=yes
use-ipv6=no
allow-interfaces=lqv
enable-dbus=no
[publish]
publish-workstation=no
CONF
  cat > "$t/services/smb.service" <<CONF
<?xml version="1.0" standalone='no'?>
<service-group><name>$1</name>
<service><type>_smb._tcp</type><port>445</port></service></service-group>
CONF
  : > "$t/hosts"
  if [ $# -ge 4 ]; then
    echo "$4" > "$t/hosts"
    cat > "$t/services/dead.service" <<CONF
<?xml version="1.0" standalone='no'?>
<service-group><name>deadhost</name>
<service><type>_smb._tcp</type><port>445</port><host-name>deadhost.local</host-name></service></service-group>
CONF
  fi
  # pid file and socket live in /run/avahi-daemon, services and hosts under /etc/avahi:
  # all of them are private to this mount namespace.
  spawn ip netns exec "$2" unshare -m sh -c "mount -t tmpfs none /run && mkdir /run/avahi-daemon &&
    mount --bind $t/services /etc/avahi/services && mount --bind $t/hosts /etc/avahi/hosts &&
    exec avahi-daemon -f $t/avahi.conf --no-drop-root --no-chroot --no-rlimits" > "$t/avahi.out" 2>&1
}

up() {
  down
  mkdir -p "$root/c"
  : > "$root/pids"
  ip netns add "$ns-c" || return 1
  ip -n "$ns-c" link set lo up
  ip -n "$ns-c" link add lqbr type bridge || return 1
  ip -n "$ns-c" addr add 10.78.0.1/24 dev lqbr
  ip -n "$ns-c" link set lqbr up
  i=2
  for h in $hosts; do
    ip netns add "$ns-$h" || return 1
    ip -n "$ns-c" link add "p$h" type veth peer name lqv netns "$ns-$h" || return 1
    ip -n "$ns-c" link set "p$h" master lqbr
    ip -n "$ns-c" link set "p$h" up
    ip -n "$ns-$h" addr add "10.78.0.$i/24" dev lqv
    ip -n "$ns-$h" link set lqv up multicast on
    ip -n "$ns-$h" link set lo up
    mkdir -p "$root/$h"
    i=$((i + 1))
  done

  smbd_conf WSDONLY 10.78.0.2 "$root/h1"
  smbd_conf MDNSONLY 10.78.0.3 "$root/h2"
  smbd_conf BOTHHOST 10.78.0.4 "$root/h3"
  for h in h1 h2 h3; do
    chmod 755 "$root" "$root/$h" "$root/$h/pub"
    spawn ip netns exec "$ns-$h" smbd --foreground -l "$root/$h/log" -s "$root/$h/smb.conf" </dev/null \
      > "$root/$h/smbd.out" 2>&1
  done
  spawn ip netns exec "$ns-h1" wsdd -i lqv -4 -n WSDONLY -w LQDISC -s > "$root/h1/wsdd.out" 2>&1
  spawn ip netns exec "$ns-h3" wsdd -i lqv -4 -n BOTHHOST -w LQDISC -s > "$root/h3/wsdd.out" 2>&1
  avahi_server mdnsonly "$ns-h2" "$root/h2" "10.78.0.99 deadhost.local"
  avahi_server bothhost "$ns-h3" "$root/h3"
  spawn ip netns exec "$ns-h4" python3 "$here/junk_wsd.py" 10.78.0.5 > "$root/h4/junk.out" 2>&1

  # The searching side's own bus and avahi-daemon.
  cat > "$root/c/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=$root/c/bus</listen>
<auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_type="method_call"/>
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>
CONF
  cat > "$root/c/avahi.conf" <<CONF
[server]
host-name=lqclient
use-ipv4=yes
use-ipv6=no
allow-interfaces=lqbr
enable-dbus=yes
[publish]
disable-publishing=yes
CONF
  spawn ip netns exec "$ns-c" dbus-daemon --config-file="$root/c/bus.conf" --nofork --nopidfile \
    > "$root/c/dbus.out" 2>&1
  for _ in $(seq 50); do [ -S "$root/c/bus" ] && break; sleep 0.1; done
  mkdir -p "$root/c/services"
  spawn ip netns exec "$ns-c" unshare -m sh -c "mount -t tmpfs none /run && mkdir /run/avahi-daemon &&
    mount --bind $root/c/services /etc/avahi/services &&
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$root/c/bus exec avahi-daemon -f $root/c/avahi.conf --no-drop-root --no-chroot --no-rlimits" \
    > "$root/c/avahi.out" 2>&1

  # Ready when both wsdd answer on their metadata port and the client's avahi-daemon
  # has seen every announced service (bounded).
  local deadline=$((SECONDS + 40))
  while [ "$SECONDS" -lt "$deadline" ]; do
    n=$(ip netns exec "$ns-c" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$root/c/bus" \
          avahi-browse -tp _smb._tcp 2>/dev/null | grep -c '^+')
    if [ "${n:-0}" -ge 3 ] &&
       ip netns exec "$ns-c" bash -c 'exec 3<>/dev/tcp/10.78.0.2/5357' 2>/dev/null &&
       ip netns exec "$ns-c" bash -c 'exec 3<>/dev/tcp/10.78.0.4/5357' 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "the discovery network did not come up in time" >&2
  return 1
}

case "$cmd" in
  up) up ;;
  down) down ;;
  *) echo "usage: $0 up|down ROOT NS" >&2; exit 2 ;;
esac
