#!/usr/bin/env bash
# A throwaway network world for fanecho's end-to-end tests.
#
#   netns.sh up NAME [--responder PATH] [--seconds N]
#   netns.sh down NAME
#
# `up` makes the namespace NAME, in which the tests run fanecho, and NAMEp,
# a peer joined to it by a veth pair. Nothing in them can reach the host's
# network, so probes sent inside never leave the machine; `up` checks that
# no route leads out. bench/run.sh measures in the same world.
#
#   10.1.0.0/16   local on lo: the kernel answers every address
#   10.2.0.0/16   routed into an ifb device, which drops what it is sent:
#                 no answer ever comes (this kernel has no dummy links).
#                 Behind a gateway, as silent hosts usually are: one
#                 neighbour entry, not one for each target
#   10.3.0.0/16   an unreachable route: sending fails at once
#   10.4.0.0/16   routed via NAMEp, which answers with ICMP destination
#                 unreachable: the error arrives from the network, as many
#                 as are asked for (an nftables reject where nft is installed,
#                 else an unreachable route, which answers 5 at once and
#                 then one a second)
#   10.5.0.0/24   the veth to NAMEp (10.5.0.1 on our side). NAMEp holds
#                 10.5.0.2-22, its kernel ignores echo requests and
#                 fanecho_responder answers instead (without --responder
#                 nobody does):
#                   .2 normal     .3 corrupt    .4 truncate   .5 duplicate
#                   .6 late:1500  .7 delay:200  .8 wrong-id   .9 wrong-seq
#                   .10 foreign   .11 no rule (silent)        .12 alternate:300
#                   .13 bad-checksum  .14 impostor  .15 pad
#                   .16 forge:10.5.0.11   .17 forge-error:10.5.0.7
#                   .18 misquote  .19 long  .20 long-bad-checksum
#                   .21, .22 every-third (each answers every third request
#                   of one socket: one case each, so no count is left over)
#   10.6.0.0/16   routed via NAMEp, where the whole block is local and
#                 fanecho_responder answers every address: thousands of
#                 slow hosts. 10.6.255.0/24 delay:200, the rest delay:1000
#   10.7.0.0/16   on-link behind veth1 (10.70.0.1/24 on our side, NAMEa
#                 10.70.0.2): NAMEa holds the whole block, so each address
#                 needs a neighbour (ARP) entry of its own, and its kernel
#                 answers.
#   10.8.0.0/16   routed via NAMEa (10.80.0.2) over veth3, which tbf shapes
#                 to 20 Mbit/s with a 64 KiB queue: a slow uplink whose
#                 queue a burst overflows.
#   10.11.0.0/16  routed via NAMEp, which forwards it to NAMEa over veth4,
#                 whose MTU (296) is below that of a full request (328
#                 bytes): a narrow link a router must fragment for. NAMEa
#                 holds the whole block and answers.
#   10.9.0.0/16   behind a redirecting gateway: veth2 (10.10.0.1/24) joins
#                 a bridge in NAMEr with NAMEg (10.10.0.2) and NAMEr itself
#                 (10.10.0.3). Our route goes via NAMEg, which forwards to
#                 NAMEr on the same segment and sends us ICMP redirects;
#                 we ignore them (accept_redirects=0), as hardened hosts
#                 do. NAMEr holds the whole block and answers.
#   10.13.0.0/16  no route at all: sending fails at once (ENETUNREACH)
#   10.14.0.0/16  routed via NAMEp, but an nftables output rule here drops
#                 what is sent there: sending fails with EPERM (only where
#                 nft is installed; else no route)
#   10.15.0.0/16  routed via NAMEp, which answers ICMP destination
#                 unreachable, communication administratively prohibited
#                 (code 13): an nftables reject where nft is installed,
#                 else a prohibit route
#   10.16.0.0/16  routed via NAMEp, which answers ICMP port unreachable
#                 (an nftables reject; without nft as 10.15.0.0/16)
#
# IPv6 (addresses added with nodad, so they work at once):
#
#   fd00:1::/64   local on lo (fd00:1::1 ours): the kernel answers every address
#   fd00:2::/64   on-link on the ifb device: no answer ever comes
#   fd00:3::/64   an unreachable route: sending fails at once
#   fd00:4::/64   routed via NAMEp, which answers destination unreachable
#   fd00:5::/64   the veth to NAMEp (fd00:5::1 ours); NAMEp holds
#                 fd00:5::2-12, its kernel ignores echo requests and
#                 fanecho_responder answers as for 10.5.0.x (::2 normal,
#                 ::3 corrupt, ::4 truncate, ::5 duplicate, ::7 delay:200,
#                 ::8 wrong-id, ::9 wrong-seq, ::a foreign, ::e impostor,
#                 ::f pad, ::10 forge:fd00:5::b, ::11 forge-error:fd00:5::7,
#                 ::12 misquote)
#   fd00:7::/64   routed via NAMEa (fd00:70::2 over veth1), which holds the
#                 whole block as local and answers
#   fd00:9::/64   behind the redirecting gateway as 10.9.0.0/16 (fd00:10::1
#                 ours on veth2, NAMEg fd00:10::2, NAMEr fd00:10::3, which
#                 holds the whole block): two hops
#   fd00:d::/64   no route at all
#   fd00:e::/64   routed via NAMEp, dropped by the output rule as 10.14.0.0/16
#
# With dnsmasq installed, a name server runs on 127.0.0.53 with the names
# host-N.fanecho.test (N = 0 to 1999) for 10.1.20.0 onwards, and their
# reverse names; cases point resolv.conf at it when they need it.
#
# Names come from /etc/netns/NAME/hosts, which `ip netns exec NAME` mounts
# over /etc/hosts; resolv.conf points at 127.0.0.1, where nothing listens,
# so an unknown name fails at once instead of reaching a real DNS server.
#
# `down` kills the responder by its pid, deletes both namespaces, the files
# under /etc/netns and the state directory. It is safe to call more than
# once and after a failed `up`.
set -euo pipefail

readonly LONG_NAME="a-host-name-that-is-longer-than-ninety-nine-characters.which-a-reverse-look-up.must-cut.to-fit.fanecho.test"

die() {
  echo "netns.sh: $*" >&2
  exit 1
}

state_dir() { echo "${TMPDIR:-/tmp}/fanecho-e2e.$1"; }

check_name() {
  [[ $1 =~ ^[A-Za-z0-9_-]{1,40}$ ]] || die "bad namespace name '$1'"
}

responder_rules() {
  echo 10.5.0.2=normal 10.5.0.3=corrupt 10.5.0.4=truncate 10.5.0.5=duplicate \
    10.5.0.6=late:1500 10.5.0.7=delay:200 10.5.0.8=wrong-id 10.5.0.9=wrong-seq \
    10.5.0.10=foreign 10.5.0.12=alternate:300 10.5.0.13=bad-checksum 10.5.0.14=impostor \
    10.5.0.15=pad 10.5.0.16=forge:10.5.0.11 10.5.0.17=forge-error:10.5.0.7 10.5.0.18=misquote \
    10.5.0.19=long 10.5.0.20=long-bad-checksum 10.5.0.21=every-third 10.5.0.22=every-third \
    10.6.0.0/16=delay:1000 10.6.255.0/24=delay:200 \
    fd00:5::2=normal fd00:5::3=corrupt fd00:5::4=truncate fd00:5::5=duplicate \
    fd00:5::7=delay:200 fd00:5::8=wrong-id fd00:5::9=wrong-seq fd00:5::a=foreign \
    fd00:5::e=impostor fd00:5::f=pad fd00:5::10=forge:fd00:5::b \
    fd00:5::11=forge-error:fd00:5::7 fd00:5::12=misquote
}

write_name_files() {
  local dir=/etc/netns/$1
  # Another run's `down` may remove an empty /etc/netns under our feet.
  for _ in 1 2 3; do mkdir -p "$dir" 2>/dev/null && break; done
  cat >"$dir/hosts" <<EOF
127.0.0.1 localhost
10.1.0.10 answer-one
10.1.0.11 answer-two
10.1.0.99 $LONG_NAME
10.2.0.10 silent-one
10.3.0.10 unreachable-one
10.5.0.3 corrupt-host
fd00:1::10 answer-one
fd00:1::20 v6-only
fd00:7::10 dual-far
10.7.0.10 dual-far
EOF
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$dir/resolv.conf"
  # Files first, then the resolver that fails fast; only where the host has
  # an nsswitch.conf to mount over.
  if [[ -e /etc/nsswitch.conf ]]; then
    printf 'hosts: files dns\n' >"$dir/nsswitch.conf"
  fi
}

up() {
  local name=$1
  shift
  local responder="" seconds=300
  while (($#)); do
    case $1 in
      --responder) responder=$2; shift 2 ;;
      --seconds) seconds=$2; shift 2 ;;
      *) die "unknown option $1" ;;
    esac
  done
  [[ -z $responder || -x $responder ]] || die "--responder must name the built fanecho_responder"
  local peer=${name}p link=${name}a gateway=${name}g router=${name}r state
  state=$(state_dir "$name")
  if ip netns list | grep -qE "^($name|$peer|$link|$gateway|$router)( |$)"; then
    die "a namespace of world $name exists already"
  fi
  # The directory is ours once mkdir succeeds; anything left half made by a
  # failure below is removed again.
  mkdir -m 700 "$state" || die "$state exists already"
  undo_on_exit=$name

  ip netns add "$name"
  ip netns add "$peer"
  ip -n "$name" link set lo up
  ip -n "$name" addr add 10.1.0.1/16 dev lo
  ip -n "$name" link add ifb0 type ifb
  # Long enough a queue that a burst of requests is dropped by the device
  # rather than refused by the queue (which would fail the send at once).
  ip -n "$name" link set ifb0 txqueuelen 20000 up
  ip -n "$name" addr add 10.255.255.1/30 dev ifb0
  ip -n "$name" route add 10.2.0.0/16 via 10.255.255.2 dev ifb0
  ip -n "$name" route add unreachable 10.3.0.0/16

  ip -n "$name" link add veth0 type veth peer name veth0 netns "$peer"
  ip -n "$name" addr add 10.5.0.1/24 dev veth0
  ip -n "$name" link set veth0 up
  ip -n "$peer" link set lo up
  local host
  for host in $(seq 2 22); do ip -n "$peer" addr add "10.5.0.$host/24" dev veth0; done
  ip -n "$peer" link set veth0 up
  ip netns exec "$peer" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  # The peer as a router that knows no way on: its errors come back at once
  # and unthrottled. An unreachable route's errors draw on a bucket per
  # sender (5 at once, then one a second: net.ipv4.route.error_burst and
  # error_cost, one pair for the whole machine), so a second run within
  # seconds lost some; a forward rule that rejects draws only on the
  # namespace's own ICMP budget (icmp_ratelimit per host, icmp_msgs_per_sec
  # and icmp_msgs_burst for all, ICMPv6 errors included), which is set here.
  local block
  for block in 10.4 10.15 10.16; do ip -n "$name" route add "$block.0.0/16" via 10.5.0.2; done
  if command -v nft >/dev/null; then
    ip -n "$peer" link add ifb0 type ifb
    ip -n "$peer" link set ifb0 up
    for block in 10.4 10.15 10.16; do ip -n "$peer" route add "$block.0.0/16" dev ifb0; done
    ip netns exec "$peer" nft -f - <<'EOF'
table ip fanecho_world {
  chain forward {
    type filter hook forward priority 0; policy accept;
    ip daddr 10.4.0.0/16 reject with icmp type host-unreachable
    ip daddr 10.15.0.0/16 reject with icmp type admin-prohibited
    ip daddr 10.16.0.0/16 reject with icmp type port-unreachable
  }
}
EOF
  else
    ip -n "$peer" route add unreachable 10.4.0.0/16
    ip -n "$peer" route add prohibit 10.15.0.0/16
    ip -n "$peer" route add prohibit 10.16.0.0/16
  fi
  ip netns exec "$peer" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 \
    net.ipv4.icmp_msgs_per_sec=100000 net.ipv4.icmp_msgs_burst=100000
  ip -n "$name" route add 10.6.0.0/16 via 10.5.0.2
  ip -n "$peer" route add local 10.6.0.0/16 dev lo

  # On-link block and slow link.
  ip netns add "$link"
  ip -n "$link" link set lo up
  ip -n "$link" route add local 10.7.0.0/16 dev lo
  ip -n "$link" route add local 10.8.0.0/16 dev lo
  ip -n "$name" link add veth1 type veth peer name veth1 netns "$link"
  ip -n "$name" link add veth3 type veth peer name veth3 netns "$link"
  ip -n "$name" addr add 10.70.0.1/24 dev veth1
  ip -n "$link" addr add 10.70.0.2/24 dev veth1
  ip -n "$name" addr add 10.80.0.1/24 dev veth3
  ip -n "$link" addr add 10.80.0.2/24 dev veth3
  ip netns exec "$name" tc qdisc add dev veth3 root tbf rate 20mbit burst 16kb limit 64kb
  local dev
  for dev in veth1 veth3; do
    ip -n "$name" link set "$dev" up
    ip -n "$link" link set "$dev" up
  done
  ip -n "$name" route add 10.7.0.0/16 dev veth1
  ip -n "$name" route add 10.8.0.0/16 via 10.80.0.2 dev veth3

  # Narrow link behind the peer.
  ip -n "$peer" link add veth4 type veth peer name veth4 netns "$link"
  ip -n "$peer" link set veth4 mtu 296 up
  ip -n "$link" link set veth4 mtu 296 up
  ip -n "$peer" addr add 10.110.0.1/24 dev veth4
  ip -n "$link" addr add 10.110.0.2/24 dev veth4
  ip -n "$link" route add local 10.11.0.0/16 dev lo
  ip -n "$link" route add 10.5.0.0/24 via 10.110.0.1
  ip -n "$peer" route add 10.11.0.0/16 via 10.110.0.2
  ip -n "$name" route add 10.11.0.0/16 via 10.5.0.2

  # Redirecting gateway on a bridged segment.
  ip netns add "$gateway"
  ip netns add "$router"
  ip -n "$router" link set lo up
  ip -n "$router" link add br0 type bridge
  ip -n "$name" link add veth2 type veth peer name port1 netns "$router"
  ip -n "$gateway" link add veth0 type veth peer name port2 netns "$router"
  local port
  for port in port1 port2; do
    ip -n "$router" link set "$port" master br0
    ip -n "$router" link set "$port" up
  done
  ip -n "$router" addr add 10.10.0.3/24 dev br0
  ip -n "$router" link set br0 up
  ip -n "$router" route add local 10.9.0.0/16 dev lo
  ip -n "$gateway" addr add 10.10.0.2/24 dev veth0
  ip -n "$gateway" link set veth0 up
  ip netns exec "$gateway" sysctl -qw net.ipv4.ip_forward=1
  ip -n "$gateway" route add 10.9.0.0/16 via 10.10.0.3
  ip netns exec "$name" sysctl -qw net.ipv4.conf.all.accept_redirects=0 \
    net.ipv4.conf.default.accept_redirects=0
  ip -n "$name" addr add 10.10.0.1/24 dev veth2
  ip -n "$name" link set veth2 up
  ip netns exec "$name" sysctl -qw net.ipv4.conf.veth2.accept_redirects=0
  ip -n "$name" route add 10.9.0.0/16 via 10.10.0.2

  up_ipv6 "$name" "$peer" "$link" "$gateway" "$router"

  # A firewall of this machine that refuses what is sent.
  if command -v nft >/dev/null; then
    ip -n "$name" route add 10.14.0.0/16 via 10.5.0.2
    ip -n "$name" -6 route add fd00:e::/64 via fd00:5::2
    ip netns exec "$name" nft -f - <<'EOF'
table inet fanecho_world {
  chain output {
    type filter hook output priority 0; policy accept;
    ip daddr 10.14.0.0/16 drop
    ip6 daddr fd00:e::/64 drop
  }
}
EOF
  fi

  write_name_files "$name"
  if command -v dnsmasq >/dev/null; then start_name_server "$name" "$state"; fi
  local ns
  for ns in "$name" "$peer" "$link" "$gateway" "$router"; do
    if ip -n "$ns" -4 route get 192.0.2.1 >/dev/null 2>&1; then die "namespace $ns has a route out"; fi
    if ip -n "$ns" -6 route get 2001:db8::1 >/dev/null 2>&1; then die "namespace $ns has an IPv6 route out"; fi
  done
  if [[ -z $responder ]]; then
    undo_on_exit=""
    return
  fi

  # ip netns exec replaces itself with the command, so $! is the responder.
  # shellcheck disable=SC2046
  ip netns exec "$peer" "$responder" --seconds "$seconds" --ready "$state/responder.pid" \
    $(responder_rules) >"$state/responder.log" 2>&1 &
  echo $! >"$state/responder.launched"
  for _ in $(seq 50); do
    [[ -s $state/responder.pid ]] && break
    kill -0 "$!" 2>/dev/null || die "responder failed: $(cat "$state/responder.log")"
    sleep 0.1
  done
  [[ -s $state/responder.pid ]] || die "responder did not start"
  # The veth needs a moment before it carries packets.
  for _ in $(seq 50); do
    ip -n "$name" link show veth0 | grep -q 'LOWER_UP' && break
    sleep 0.1
  done
  undo_on_exit=""
}

up_ipv6() {
  local name=$1 peer=$2 link=$3 gateway=$4 router=$5 host
  ip -n "$name" addr add fd00:1::1/64 dev lo nodad
  ip -n "$name" -6 route add local fd00:1::/64 dev lo
  ip -n "$name" addr add fd00:2::1/64 dev ifb0 nodad
  ip -n "$name" -6 route add unreachable fd00:3::/64
  ip -n "$name" addr add fd00:5::1/64 dev veth0 nodad
  for host in 2 3 4 5 6 7 8 9 a b c d e f 10 11 12; do
    ip -n "$peer" addr add "fd00:5::$host/64" dev veth0 nodad
  done
  # ICMPv6 errors draw on the namespace's net.ipv4.icmp_msgs_* budget too.
  ip netns exec "$peer" sysctl -qw net.ipv6.icmp.echo_ignore_all=1 \
    net.ipv6.conf.all.forwarding=1 net.ipv6.icmp.ratelimit=0
  ip -n "$name" -6 route add fd00:4::/64 via fd00:5::2
  ip -n "$peer" -6 route add unreachable fd00:4::/64
  ip -n "$name" addr add fd00:70::1/64 dev veth1 nodad
  ip -n "$link" addr add fd00:70::2/64 dev veth1 nodad
  ip -n "$link" -6 route add local fd00:7::/64 dev lo
  ip -n "$name" -6 route add fd00:7::/64 via fd00:70::2
  # Two hops, as 10.9.0.0/16, and its redirects ignored too.
  ip netns exec "$name" sysctl -qw net.ipv6.conf.all.accept_redirects=0 \
    net.ipv6.conf.default.accept_redirects=0 net.ipv6.conf.veth2.accept_redirects=0
  ip -n "$name" addr add fd00:10::1/64 dev veth2 nodad
  ip -n "$gateway" addr add fd00:10::2/64 dev veth0 nodad
  ip -n "$router" addr add fd00:10::3/64 dev br0 nodad
  ip netns exec "$gateway" sysctl -qw net.ipv6.conf.all.forwarding=1
  ip -n "$gateway" -6 route add fd00:9::/64 via fd00:10::3
  ip -n "$router" -6 route add local fd00:9::/64 dev lo
  ip -n "$name" -6 route add fd00:9::/64 via fd00:10::2
}

# A real DNS server with a few thousand names, in the foreground so that
# its pid is ours to stop.
start_name_server() {
  local name=$1 state=$2 i
  for ((i = 0; i < 2000; i++)); do
    echo "10.1.$((20 + i / 256)).$((i % 256)) host-$i.fanecho.test"
  done >"$state/dns-hosts"
  ip netns exec "$name" dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv \
    --no-hosts --addn-hosts="$state/dns-hosts" --listen-address=127.0.0.53 --bind-interfaces \
    --port=53 --user=root --pid-file= --log-facility=- --cache-size=10000 \
    >"$state/dnsmasq.log" 2>&1 &
  echo $! >"$state/dnsmasq.launched"
  for _ in $(seq 50); do
    ip netns exec "$name" ss -Hlun 'sport = :53' | grep -q . && return 0
    sleep 0.1
  done
  die "dnsmasq did not start: $(cat "$state/dnsmasq.log")"
}

kill_responder() {
  local state=$1 file pid
  for file in "$state/dnsmasq.launched"; do
    [[ -s $file ]] || continue
    pid=$(<"$file")
    if [[ $pid =~ ^[0-9]+$ ]] && tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF -- "$state/dns-hosts"; then
      kill "$pid" 2>/dev/null || true
    fi
  done
  for file in "$state/responder.pid" "$state/responder.launched"; do
    [[ -s $file ]] || continue
    pid=$(<"$file")
    [[ $pid =~ ^[0-9]+$ ]] || continue
    # Only the process we started: its command line names our state dir.
    if tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF -- "$state/responder.pid"; then
      kill "$pid" 2>/dev/null || true
    fi
  done
}

down() {
  local name=$1 state
  state=$(state_dir "$name")
  set +e
  [[ -d $state ]] && kill_responder "$state"
  local ns
  for ns in "$name" "${name}p" "${name}a" "${name}g" "${name}r"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "/etc/netns/$name"
  rmdir /etc/netns 2>/dev/null
  rm -rf "$state"
  return 0
}

# A failed `up` leaves nothing behind.
undo_on_exit=""
trap '[[ -z $undo_on_exit ]] || down "$undo_on_exit"' EXIT

(($# >= 2)) || die "usage: netns.sh up NAME [--responder PATH] [--seconds N] | down NAME"
command=$1
check_name "$2"
case $command in
  up) up "${@:2}" ;;
  down) down "$2" ;;
  *) die "unknown command $command" ;;
esac
