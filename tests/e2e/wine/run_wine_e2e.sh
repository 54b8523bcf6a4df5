#!/usr/bin/env bash
# The end-to-end cases against fanecho.exe, the 32-bit Windows program,
# under wine.
#
#   run_wine_e2e.sh (--binary PATH | --build DIR) --responder PATH [--cases LIST]
#
#   --binary     a built fanecho.exe.
#   --build      configure and build the win32 preset into DIR first and
#                test DIR/fanecho.exe.
#   --responder  the built fanecho_responder (a Linux program).
#   --cases      passed on to run_e2e.sh; the default is every case that
#                means something on Windows (see below).
#
# Each run gets a throwaway wine prefix (WINEDEBUG=-all), prepared in an
# empty namespace of its own and removed at the end. The cases then run
# through wine_runner.sh, which keeps the wineserver inside the test
# namespace: wine sends echo requests from the server's process.
# Exit status as run_e2e.sh's: 0 passed, 1 failed, 2 usage, 77 skipped.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../../.." && pwd)
usage_lines=5
progname=run_wine_e2e.sh
# shellcheck source=../../support/testlib.sh
source "$top/tests/support/testlib.sh"

# Left out: the permission group (Linux ping_group_range and user 65534; a
# wine prefix belongs to one user), many.few_descriptors (a Linux open file
# limit, and 300 echoes in flight, where wine allows 256 per prefix),
# responder.bad_checksum and responder.all_at_once, which includes it (wine
# hands on replies with a wrong ICMP checksum, which Windows drops and the
# ICMP API never shows), and many.limit, whose time limit is Linux's: wine
# creates threads several times slower. The large runs below take its place.
# realnet.neighbour_table_full too: wine turns every failed send but
# EHOSTUNREACH into IP_GENERAL_FAILURE, so a full neighbour table looks like
# any other send error, and whether some request finds all 256 of wine's
# ICMP handles taken depends on how fast wine starts threads.
# wine.handles_full below takes them all for sure. realnet.stdout_closed:
# the descriptor it guards is Linux's. progress.json: on a terminal, wine's
# console breaks lines at its 80 columns, and a target's object is longer.
# ipv6: wine has no ICMPv6 echo; wine.ipv6_missing below tries that path.
default_cases="-ipv6,-permission,-many.few_descriptors,-many.few_descriptors_include,-responder.bad_checksum,-responder.all_at_once,-many.limit,-realnet.neighbour_table_full,-realnet.stdout_closed,-progress.json"


binary="" build="" responder="" cases=$default_cases
while (($#)); do
  case $1 in
    --binary) binary=${2-}; shift 2 || usage ;;
    --build) build=${2-}; shift 2 || usage ;;
    --responder) responder=${2-}; shift 2 || usage ;;
    --cases) cases=${2-}; shift 2 || usage ;;
    *) usage ;;
  esac
done
[[ -n $binary || -n $build ]] && [[ -z $binary || -z $build ]] || usage
[[ -x $responder ]] || { echo "run_wine_e2e.sh: no fanecho_responder at '$responder'" >&2; exit 2; }

require_netns
command -v wine >/dev/null && command -v wineserver >/dev/null || skip "wine is not installed"
if [[ -n $build ]]; then
  command -v i686-w64-mingw32-g++-posix >/dev/null || command -v i686-w64-mingw32-g++ >/dev/null ||
    skip "the mingw-w64 i686 compiler is not installed"
fi

if [[ -n $build ]]; then
  echo "=== building fanecho.exe in $build"
  # Warnings are errors here when they are in the build that runs this.
  cmake --preset win32 -S "$top" -B "$build" -DFANECHO_WERROR="${FANECHO_WERROR:-OFF}" >/dev/null ||
    exit 1
  cmake --build "$build" -j 2 || exit 1
  binary=$build/fanecho.exe
fi
[[ -f $binary ]] || { echo "run_wine_e2e.sh: no binary at '$binary'" >&2; exit 2; }
binary=$(absolute_path "$binary")

export WINEDEBUG=-all WINEARCH=win32
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/fanecho-wine.XXXXXX")
export WINEPREFIX
init_ns=fe-wine-init$$

stop_server() {
  # Only the server of our own prefix: -k talks to it through the prefix.
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
}
cleanup() {
  stop_server
  ip netns del "$init_ns" 2>/dev/null
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A new prefix takes several seconds; made here, so that no case's time
# limit pays for it. An empty namespace: nothing of it may reach a network.
start=$(date +%s%N)
ip netns add "$init_ns" || exit 1
ip netns exec "$init_ns" wineboot --init >/dev/null 2>&1 || { echo "run_wine_e2e.sh: wineboot failed"; exit 1; }
stop_server
ip netns del "$init_ns"
echo "wine prefix $WINEPREFIX made in $((($(date +%s%N) - start) / 1000000)) ms"

"$here/../run_e2e.sh" --mode raw --binary "$binary" --responder "$responder" \
  --runner "$here/wine_runner.sh" --cases "$cases"
status=$?
[[ $cases == "$default_cases" ]] || exit $status

# The Win32 back end's own checks, and large runs of answering targets with
# no time limit but the overall one. The suite's namespace is gone, and
# wine_runner.sh would refuse a server left running in it: start afresh in
# a world of our own.
stop_server
world=fe-wine$$
trap 'cleanup; world_down "$world"' EXIT
world_up "$world" --responder "$responder" --seconds 600 || exit 1

# Built beside fanecho.exe by the win32 preset.
checks=$(dirname "$binary")/tests/win32/platform_win32_test.exe
if [[ -f $checks ]]; then
  if report=$(timeout 120 ip netns exec "$world" "$here/wine_runner.sh" "$checks"); then
    result "wine.platform_win32 ($(grep -c '^ok' <<<"$report") checks)"
  else
    result "wine.platform_win32" "$(sed 's/\r$//' <<<"$report")"
  fi
else
  echo "skip  wine.platform_win32 (no $checks)"
fi

# large NAME SECONDS SUMMARY REFUSALS [RC STDERR] -- ARGUMENTS...: exit
# status RC (0), the summary line, REFUSALS "too many addresses" lines before
# it, and standard error empty or one line matching the regular expression
# STDERR.
large() {
  local name=$1 limit=$2 summary=$3 others=$4 rc=0 err_re=""
  shift 4
  [[ $1 == -- ]] || { rc=$1 err_re=$2; shift 2; }
  shift
  local out err start elapsed status problems=""
  out=$(mktemp) err=$(mktemp)
  start=$(now_ms)
  timeout "$limit" ip netns exec "$world" "$here/wine_runner.sh" "$binary" "$@" 2>"$err" |
    sed 's/\r$//' >"$out"
  status=${PIPESTATUS[0]}
  elapsed=$(($(now_ms) - start))
  ((status == rc)) || problems+="exit status $status, expected $rc; "
  local err_ok=1
  if [[ -z $err_re ]]; then
    [[ -s $err ]] && err_ok=0
  elif (($(wc -l <"$err") != 1)) || ! grep -qE -- "$err_re" "$err"; then
    err_ok=0
  fi
  ((err_ok)) || problems+="standard error: '$(head -c 600 "$err")'; "
  rm -f "$err"
  [[ $(tail -n 1 "$out") == "$summary" ]] || problems+="last line '$(tail -n 1 "$out")'; "
  (($(wc -l <"$out") == others + 2)) || problems+="$(wc -l <"$out") lines, expected $((others + 2)); "
  head -n -2 "$out" | grep -qv '^too many addresses; ignoring ' && problems+="unexpected lines; "
  rm -f "$out"
  if [[ -z $problems ]]; then
    result "$name ($(seconds_of "$elapsed") s)"
  else
    result "$name ($(seconds_of "$elapsed") s)" "fanecho $*" "$problems"
  fi
}
# wine 8 has no Icmp6CreateFile: one line says so, the IPv6 target fails
# without a request and the IPv4 one goes on. To a file: a wineserver that
# this call starts would hold a pipe open.
v6_file=$(mktemp)
timeout 60 ip netns exec "$world" "$here/wine_runner.sh" "$binary" /report:all /ip:6 ::1 10.1.0.1 \
  >"$v6_file" 2>&1
v6_status=$?
v6_out=$(sed 's/\r$//' "$v6_file")
rm -f "$v6_file"
v6_want="fanecho: IPv6 echo is not available on this system; IPv6 targets are counted as failed
::1 could not be reached
10.1.0.1 is ok

#machines sent / replied / timed-out = 2 / 1 / 1"
if ((v6_status == 1)) && [[ $(sort <<<"$v6_out") == "$(sort <<<"$v6_want")" ]] &&
  [[ $(head -n 1 <<<"$v6_out") == "$(head -n 1 <<<"$v6_want")" ]]; then
  result wine.ipv6_missing
else
  result wine.ipv6_missing "exit status $v6_status, output:" "$v6_out"
fi
large wine.answering_2048 120 "all 2048 machines are ok" 0 -- /report:error 10.1.0-7.0-255
# 10240 addresses and a name: the last 240 and the name are refused.
large wine.limit_10000 300 "all 10000 machines are ok" 241 -- /report:error 10.1.0-39.0-255 answer-one
# wine's 256 ICMP handles are the whole prefix's. While one run holds them
# all for its silent targets, another run's requests cannot leave: a local
# limit, said once on standard error, and those targets counted as failed.
timeout 90 ip netns exec "$world" "$here/wine_runner.sh" "$binary" /timeout:40 \
  10.2.1.0-255 10.2.2.0-49 >/dev/null 2>&1 &
holder=$!
sleep 8
large wine.handles_full 30 "none of the 20 machines are ok" 0 \
  2 'could not leave this machine.*ICMP helper API' -- /report:ok /timeout:2 10.2.0.1-20
stop_server
wait "$holder"
echo "wine only: $passed passed, $failed failed"
((status == 0 && failed == 0))
