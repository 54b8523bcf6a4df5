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
#                 unreachable: the error arrives from the network
#   10.5.0.0/24   the veth to NAMEp (10.5.0.1 on our side). NAMEp holds
#                 10.5.0.2-15, its kernel ignores echo requests and
#                 fanecho_responder answers instead (without --responder
#                 nobody does):
#                   .2 normal     .3 corrupt    .4 truncate   .5 duplicate
#                   .6 late:1500  .7 delay:200  .8 wrong-id   .9 wrong-seq
#                   .10 foreign   .11 no rule (silent)        .12 alternate:300
#                   .13 bad-checksum  .14 impostor  .15 pad
#   10.6.0.0/16   routed via NAMEp, where the whole block is local and
#                 fanecho_responder answers every address: thousands of
#                 slow hosts. 10.6.255.0/24 delay:200, the rest delay:1000
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
    10.5.0.15=pad 10.6.0.0/16=delay:1000 10.6.255.0/24=delay:200
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
  local peer=${name}p state
  state=$(state_dir "$name")
  if ip netns list | grep -qE "^($name|$peer)( |$)"; then die "namespace $name or $peer exists already"; fi
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
  for host in $(seq 2 15); do ip -n "$peer" addr add "10.5.0.$host/24" dev veth0; done
  ip -n "$peer" link set veth0 up
  ip netns exec "$peer" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  # The peer as a router that knows no way on: its errors come back at once
  # and unthrottled.
  ip -n "$name" route add 10.4.0.0/16 via 10.5.0.2
  ip -n "$peer" route add unreachable 10.4.0.0/16
  ip netns exec "$peer" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0
  ip -n "$name" route add 10.6.0.0/16 via 10.5.0.2
  ip -n "$peer" route add local 10.6.0.0/16 dev lo

  write_name_files "$name"
  local ns
  for ns in "$name" "$peer"; do
    if ip -n "$ns" -4 route get 192.0.2.1 >/dev/null 2>&1; then die "namespace $ns has a route out"; fi
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

kill_responder() {
  local state=$1 file pid
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
  local name=$1 peer=${1}p state
  state=$(state_dir "$name")
  set +e
  [[ -d $state ]] && kill_responder "$state"
  ip netns del "$name" 2>/dev/null
  ip netns del "$peer" 2>/dev/null
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
