# Helpers the shell suites share: tests/e2e/run_e2e.sh, tests/faults/run_faults.sh,
# tests/e2e/wine/run_wine_e2e.sh, tests/package/run_package_test.sh and
# bench/run.sh source this file after setting `progname`, the name their
# messages begin with, and `usage_lines` where they use `usage`.

support_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
netns_script=$support_dir/../e2e/netns.sh

# ---------------------------------------------------------------- set-up

# Writes lines $usage_lines (FIRST,LAST) of the script's header comment, its
# synopsis, and ends it with 2.
usage() {
  sed -n "${usage_lines}p" "$0" | sed 's/^# \{0,3\}//' >&2
  exit 2
}

# Ends the script with 77, which CTest counts as skipped.
skip() {
  echo "$progname: skipped: $*"
  exit 77
}

# The absolute path of an existing file.
absolute_path() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

# find_responder BINARY [RESPONDER]: RESPONDER, or the built fanecho_responder
# next to BINARY or in tests/e2e below it, where CMake puts it.
find_responder() {
  local binary=$1 responder=${2-}
  if [[ -z $responder ]]; then
    for responder in "$(dirname "$binary")"/{,tests/e2e/}fanecho_responder; do
      [[ -x $responder ]] && break
    done
  fi
  echo "$responder"
}

# Skips unless this is root on a machine where ip netns works.
require_netns() {
  ((EUID == 0)) || skip "network namespaces need root"
  local probe=fe-probe$$
  ip netns add "$probe" 2>/dev/null || skip "ip netns is not available here"
  ip netns del "$probe"
}

# world_up NAME [--responder PATH] [--seconds N]: the network world of
# tests/e2e/netns.sh; world_down NAME removes it (safe to call twice).
world_up() { "$netns_script" up "$@"; }
world_down() { "$netns_script" down "$1"; }

# ---------------------------------------------------------------- ICMP permission

# net.ipv4.ping_group_range that lets every group open ICMP datagram sockets,
# and the one that lets none, so that root falls back to raw sockets.
readonly range_datagram="0 2147483647" range_raw="1 0"

set_ping_range() { ip netns exec "$1" sysctl -qw "net.ipv4.ping_group_range=$2"; }

# set_icmp_mode NAMESPACE datagram|raw
set_icmp_mode() {
  case $2 in
    datagram) set_ping_range "$1" "$range_datagram" ;;
    raw) set_ping_range "$1" "$range_raw" ;;
  esac
}

# ---------------------------------------------------------------- timing

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Milliseconds as seconds with one decimal.
seconds_of() { printf '%d.%01d' $(($1 / 1000)) $(($1 % 1000 / 100)); }

# /usr/bin/time -f "$gnu_time_format" -o FILE COMMAND...: GNU time writes
# the wall seconds, system CPU seconds and peak RSS (KiB) of COMMAND to FILE.
readonly gnu_time_format='%e %S %M'
# time_field FILE elapsed|system|peak; time(1) puts a line about a non-zero
# status first, so the figures are on the last line.
time_field() {
  local field
  case $2 in elapsed) field=1 ;; system) field=2 ;; peak) field=3 ;; esac
  tail -n 1 "$1" | cut -d' ' -f"$field"
}

# ---------------------------------------------------------------- summaries

readonly summary_re='^(machine is (not )?ok|all [0-9]+ machines are ok|none of the [0-9]+ machines are ok|#machines sent / replied / timed-out = [0-9]+ / [0-9]+ / [0-9]+)$'

# summary_for OK SENT: the summary line and exit status fanecho owes, as
# LINE|STATUS.
summary_for() {
  local ok=$1 sent=$2
  if ((ok == sent)); then
    ((sent == 1)) && echo "machine is ok|0" || echo "all $sent machines are ok|0"
  elif ((ok == 0)); then
    ((sent == 1)) && echo "machine is not ok|2" || echo "none of the $sent machines are ok|2"
  else
    echo "#machines sent / replied / timed-out = $sent / $ok / $((sent - ok))|1"
  fi
}

# ---------------------------------------------------------------- results

passed=0 failed=0

# result NAME [PROBLEM...]: "ok    NAME" when there is no problem, else
# "FAIL  NAME" and the problems below it, one a line.
result() {
  local name=$1
  shift
  if (($# == 0)); then
    passed=$((passed + 1))
    echo "ok    $name"
  else
    failed=$((failed + 1))
    echo "FAIL  $name"
    printf '      %s\n' "$@"
  fi
}

# The last line of a suite; true when nothing failed.
finish() {
  echo "$passed passed, $failed failed"
  ((failed == 0))
}
