#!/usr/bin/env bash
# The end-to-end cases against fanecho.exe, the 32-bit Windows program,
# under wine; where 32-bit wine cannot run (a kernel without 32-bit user
# code), against a 64-bit test build of the same sources under wine64.
#
#   run_wine_e2e.sh (--binary PATH | --build DIR) --responder PATH [--cases LIST]
#
#   --binary     a built fanecho.exe; a 64-bit one (win64 preset) runs
#                under wine64.
#   --build      configure and build into DIR first and test DIR/fanecho.exe:
#                the win32 preset where 32-bit wine runs, else win64.
#   --responder  the built fanecho_responder (a Linux program).
#   --cases      passed on to run_e2e.sh; the default is every case that
#                means something on Windows (see below).
#
# The first line says which build runs under which wine. Each run gets a
# throwaway wine prefix (WINEDEBUG=-all), prepared in an empty namespace of
# its own and removed at the end. The cases then run through
# wine_runner.sh, which keeps the wineserver inside the test namespace:
# wine sends echo requests from the server's process.
# Exit status as run_e2e.sh's: 0 passed, 1 failed, 2 usage, 77 skipped.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../../.." && pwd)
usage_lines=6
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
# ipv6: wine has no ICMPv6 echo; wine.ipv6_missing below tries that path,
# and the wine.ipv6_standin rows the echo itself, through a stand-in DLL.
# unreachable.refused_json and unreachable.firewall_json: the ICMP helper API
# does not say whether a request it failed at once ever left, so fanecho.exe
# counts it sent. responder.forged_replies and responder.forged_errors: the
# API, not fanecho.exe, picks identifiers and sequence numbers.
# responder.misquoted_error: wine's ICMP code matches errors to requests.
# responder.long_replies: the wrong checksum again. many.waiting_at_once:
# 2000 in flight, beyond wine's 256. many.inherited_descriptors: a Linux
# open-file limit. realnet.narrow_link_first and realnet.narrow_link_again:
# wine's ICMP code sends with the Linux default of Don't Fragment, where
# Windows' clears it unless asked, so what the path gives depends on what the
# kernel learnt of it before. request: the Windows back end's own rows
# below try /source: and /ttl:; Windows has no choice of interface.
# reason.here, reason.firewall, reason.router,
# reason.json, reason.ipv6 and retry.answered_and_refused: wine's ICMP code
# reports a send refused here as a host unreachable that left (so neither
# no_route_here nor blocked_here), and an administratively prohibited one as
# host unreachable too; the reasons Windows' own statuses give are tried by
# the unit tests and the stand-in row below.
default_cases="-reason.here,-reason.firewall,-reason.router,-reason.json,-reason.ipv6,-retry.answered_and_refused,-ipv6,-permission,-many.few_descriptors,-many.few_descriptors_include,-responder.bad_checksum,-responder.all_at_once,-many.limit,-realnet.neighbour_table_full,-realnet.stdout_closed,-progress.json,-unreachable.refused_json,-unreachable.firewall_json,-responder.forged_replies,-responder.forged_errors,-responder.misquoted_error,-responder.long_replies,-many.waiting_at_once,-many.inherited_descriptors,-realnet.narrow_link_first,-realnet.narrow_link_again,-request"
# Under wine64 (the 64-bit test build) also realnet.dns_names and
# realnet.dns_reverse: wine64 spends about 7 ms of CPU on a worker, name or
# not (2000 plain addresses cost as much), so 2000 of them outlast the 6 s
# in which a lost query's 5 s retry would show. wine.dns_names and
# wine.dns_reverse below take their place in that mode. And wine.limit_10000,
# whose point is 10000 worker stacks in the address space of a 32-bit
# program: a 64-bit one has room for them, and the limit itself is the
# core's (many.limit on Linux); there it costs a minute of CPU.
win64_left_out=",-realnet.dns_names,-realnet.dns_reverse"

binary="" build="" responder="" cases="" cases_given=0
while (($#)); do
  case $1 in
    --binary) binary=${2-}; shift 2 || usage ;;
    --build) build=${2-}; shift 2 || usage ;;
    --responder) responder=${2-}; shift 2 || usage ;;
    --cases) cases=${2-} cases_given=1; shift 2 || usage ;;
    *) usage ;;
  esac
done
[[ -n $binary || -n $build ]] && [[ -z $binary || -z $build ]] || usage
[[ -x $responder ]] || { echo "run_wine_e2e.sh: no fanecho_responder at '$responder'" >&2; exit 2; }
[[ -z $binary || -f $binary ]] || { echo "run_wine_e2e.sh: no binary at '$binary'" >&2; exit 2; }

# The machine a Windows program is built for, from its PE header: 14c
# (i386) or 8664 (x86-64).
pe_machine() {
  local header
  header=$(od -An -tu4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [[ -n $header ]] && od -An -tx2 -j $((header + 4)) -N 2 "$1" 2>/dev/null | tr -d ' '
}
# The 64-bit loader: Debian keeps it out of PATH, and its wine command
# starts the 32-bit one whenever that is installed.
find_wine64() {
  local candidate
  for candidate in "$(command -v wine64)" /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
    [[ -n $candidate && -x $candidate ]] && { echo "$candidate"; return 0; }
  done
  return 1
}

require_netns
command -v wine >/dev/null && command -v wineserver >/dev/null || skip "wine is not installed"
# A kernel without 32-bit user code (IA-32 emulation off) cannot run wine's
# 32-bit loader: execve answers ENOEXEC.
why_not_32=""
wine --version >/dev/null 2>&1 || why_not_32="32-bit wine does not run here: $(wine --version 2>&1 | tail -n 1)"
# Debian's wine wrapper falls back to wine64 where wine32 is missing (a
# mirror may keep the i386 packages from installing), and wine --version
# answers all the same.
if [[ -z $why_not_32 && -x /usr/lib/wine/wine64 && ! -x /usr/lib/wine/wine ]]; then
  why_not_32="32-bit wine is not installed (wine32:i386)"
fi
wine64=$(find_wine64) && "$wine64" --version >/dev/null 2>&1 || wine64=""
machine=""
[[ -n $binary ]] && machine=$(pe_machine "$binary")
if [[ $machine == 8664 ]] || [[ -z $binary && -n $why_not_32 ]]; then
  bits=64
  [[ -n $wine64 ]] || skip "${why_not_32:-a 64-bit fanecho.exe needs wine64}; wine64 is not installed or does not run"
else
  bits=32
  [[ -z $why_not_32 ]] || skip "$why_not_32"
fi
if [[ -n $build ]]; then
  if ((bits == 32)); then
    preset=win32 compiler=i686-w64-mingw32 toolchain=toolchain-mingw-i686.cmake
  else
    preset=win64 compiler=x86_64-w64-mingw32 toolchain=toolchain-mingw-x86_64.cmake
  fi
  command -v "$compiler-g++-posix" >/dev/null || command -v "$compiler-g++" >/dev/null ||
    skip "the mingw-w64 ${compiler%%-*} compiler is not installed${why_not_32:+ ($why_not_32)}"
fi

if ((bits == 32)); then
  wine=wine
  echo "wine suite: fanecho.exe, the 32-bit Windows program, under $(wine --version 2>&1)"
  export WINEARCH=win32
else
  # wine_runner.sh starts programs with FANECHO_WINE; WINELOADER is what
  # wine starts further processes with.
  wine=$wine64
  export FANECHO_WINE=$wine64 WINELOADER=$wine64
  echo "wine suite: a 64-bit test build of the Windows back end under $wine64 ($("$wine64" --version 2>&1))${why_not_32:+, as $why_not_32}"
  default_cases+=$win64_left_out
  export WINEARCH=win64
fi
export WINEDEBUG=-all
((cases_given)) || cases=$default_cases

if [[ -n $build ]]; then
  echo "=== building fanecho.exe in $build ($preset preset)"
  # A tree configured with the other preset would keep its compiler.
  fresh=()
  if [[ -f $build/CMakeCache.txt ]] &&
    ! grep -q "^CMAKE_TOOLCHAIN_FILE:.*/$toolchain\$" "$build/CMakeCache.txt"; then
    fresh=(--fresh)
  fi
  # Warnings are errors here when they are in the build that runs this.
  cmake --preset "$preset" "${fresh[@]}" -S "$top" -B "$build" \
    -DFANECHO_WERROR="${FANECHO_WERROR:-OFF}" >/dev/null || exit 1
  cmake --build "$build" -j 2 || exit 1
  binary=$build/fanecho.exe
fi
[[ -f $binary ]] || { echo "run_wine_e2e.sh: no binary at '$binary'" >&2; exit 2; }
binary=$(absolute_path "$binary")

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
# wine64's wineboot says it cannot start the 32-bit rundll32, and goes on.
start=$(date +%s%N)
ip netns add "$init_ns" || exit 1
ip netns exec "$init_ns" "$wine" wineboot --init >/dev/null 2>&1 || { echo "run_wine_e2e.sh: wineboot failed"; exit 1; }
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
# The figure the checks measured: a worker's deepest stack use.
stack_use() { sed -n 's/.*deepest path took \([0-9]*\) bytes.*/worker stack \1 bytes/p' | tr -d '\r'; }
if [[ -f $checks ]]; then
  if report=$(timeout 120 ip netns exec "$world" "$here/wine_runner.sh" "$checks"); then
    result "wine.platform_win32 ($(grep -c '^ok' <<<"$report") checks; $(stack_use <<<"$report"))"
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

# /ttl: and /source: through wine's own IcmpSendEcho2Ex. 10.9.0.0/16 is two
# routers away: a TTL of 1 expires at the first (10.10.0.2), 2 gets there.
# wine 8 sets the TTL but sends from the address the route picks, whatever
# source it is given: only a source that is that address is tried here.
# row_of EXE NAME STATUS EXPECTED -- ARGUMENTS...: EXE under wine in the
# world, with exit status STATUS and the lines EXPECTED in any order (the
# summary last). row_env, where set, goes into its environment.
row_of() {
  local exe=$1 name=$2 want_status=$3 want=$4 file out status
  shift 5
  file=$(mktemp)
  timeout 60 ip netns exec "$world" env ${row_env:-} "$here/wine_runner.sh" "$exe" "$@" \
    >"$file" 2>&1
  status=$?
  out=$(sed 's/\r$//' "$file")
  rm -f "$file"
  if ((status == want_status)) && [[ $(sort <<<"$out") == "$(sort <<<"$want")" ]] &&
    [[ $(tail -n 1 <<<"$out") == "$(tail -n 1 <<<"$want")" ]]; then
    result "$name"
  else
    result "$name" "fanecho $*" "exit status $status, output:" "$out"
  fi
}

# world_row NAME STATUS EXPECTED -- ARGUMENTS...: the row with fanecho.exe.
world_row() { row_of "$binary" "$@"; }
world_row wine.ttl_expired 1 "10.9.0.1 could not be reached
10.9.0.2 could not be reached
10.5.0.2 is ok

#machines sent / replied / timed-out = 3 / 1 / 2" -- /report:all /timeout:2 /ttl:1 10.9.0.1 10.9.0.2 10.5.0.2
world_row wine.ttl_enough 0 "10.9.0.1 is ok

machine is ok" -- /report:all /timeout:2 /ttl:2 10.9.0.1
world_row wine.source_world 0 "10.5.0.2 is ok
10.1.0.1 is ok

all 2 machines are ok" -- /report:all /timeout:2 /source:10.5.0.1 10.5.0.2 10.1.0.1

# IPv6 echo through the stand-in iphlpapi.dll of tests/win32, which writes
# Icmp6SendEcho2's reply as Microsoft documents it and answers fd00:N::
# addresses by N (see its source); it sends nothing. A copy of fanecho.exe
# beside it loads it in place of wine's own. Output to a file, as above.
standin=$(dirname "$binary")/tests/win32/stand_in/iphlpapi.dll
# standin_row NAME STATUS EXPECTED -- ARGUMENTS...: the row with the copy
# of fanecho.exe that loads the stand-in.
standin_row() { row_env=WINEDLLOVERRIDES=iphlpapi=n row_of "$standin_dir/fanecho.exe" "$@"; }
if [[ -f $standin ]]; then
  # In the prefix, which the cleanup removes.
  standin_dir=$(mktemp -d "$WINEPREFIX/stand-in.XXXXXX")
  cp "$binary" "$standin_dir/fanecho.exe" && cp "$standin" "$standin_dir/"
  # Echoed data from offset 36 of the reply; a short echo, other data and
  # another host's reply are no answer. The old record packed to 34 bytes
  # read every answer as invalid data.
  standin_row wine.ipv6_standin 1 "fd00:1::1 is ok
fd00:2::1 could not be reached
fd00:4::1 replied with invalid data
fd00:5::1 replied with invalid data
fd00:6::1 could not be reached

#machines sent / replied / timed-out = 5 / 1 / 4" -- \
    /report:all /timeout:1 /ip:6 fd00:1::1 fd00:2::1 fd00:4::1 fd00:5::1 fd00:6::1
  # RoundTripTime from offset 32: the old record read 1 ms as 65536.
  standin_row wine.ipv6_standin_rtt 0 '{"type":"target","target":"fd00:3::2a","kind":"address","address":"fd00:3::2a","family":6,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":42.000,"rtt_avg_ms":42.000,"rtt_max_ms":42.000}
{"type":"target","target":"fd00:1::1","kind":"address","address":"fd00:1::1","family":6,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":1.000,"rtt_avg_ms":1.000,"rtt_max_ms":1.000}
{"type":"summary","targets":2,"ok":2,"failed":0,"exit_status":0}' -- \
    /json /size:0 /ip:6 fd00:3::2a fd00:1::1
  # Windows refuses a time-out of 0 (ERROR_INVALID_PARAMETER): the request
  # never left, and is not counted as sent.
  standin_row wine.ipv6_standin_refused 2 '{"type":"target","target":"fd00:1::1","kind":"address","address":"fd00:1::1","family":6,"result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":1,"ok":0,"failed":1,"exit_status":2}' -- \
    /json /timeout:0 /ip:6 fd00:1::1
  # The errors the stand-in gives for fd00:8::S and 10.99.0.S, read from the
  # reply record of each family: sent, and failed.
  # The same status values mean other things for each family: 11002 and
  # 11003 are IPv6's no route and address unreachable, 11004 IPv6's
  # prohibited but IPv4's protocol unreachable.
  standin_row wine.standin_errors 2 "$(
    reasons6=(net_unreachable host_unreachable admin_prohibited no_response time_exceeded)
    reasons4=(net_unreachable host_unreachable protocol_unreachable no_response time_exceeded)
    i=0
    for target in fd00:8::2 fd00:8::3 fd00:8::4 fd00:8::10 fd00:8::13; do
      from='"fd00:8::ffff"'
      [[ ${reasons6[i]} == no_response ]] && from=null
      echo '{"type":"target","target":"'$target'","kind":"address","address":"'$target'","family":6,"result":"unreachable","reason":"'${reasons6[i]}'","from":'$from',"sent":1,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}'
      i=$((i + 1))
    done
    i=0
    for target in 10.99.0.2 10.99.0.3 10.99.0.4 10.99.0.10 10.99.0.13; do
      from='"10.99.0.254"'
      [[ ${reasons4[i]} == no_response ]] && from=null
      echo '{"type":"target","target":"'$target'","kind":"address","address":"'$target'","family":4,"result":"unreachable","reason":"'${reasons4[i]}'","from":'$from',"sent":1,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}'
      i=$((i + 1))
    done
    echo '{"type":"summary","targets":10,"ok":0,"failed":10,"exit_status":2}'
  )" -- /json /timeout:1 /ip:6 fd00:8::2 fd00:8::3 fd00:8::4 fd00:8::10 fd00:8::13 \
    10.99.0.2 10.99.0.3 10.99.0.4 10.99.0.10 10.99.0.13
  # The stand-in has no IcmpSendEcho2Ex: with a source asked for, an IPv4
  # request is refused here rather than sent from another address.
  standin_row wine.standin_source_without_ex 2 '{"type":"target","target":"10.99.0.2","kind":"address","address":"10.99.0.2","result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":1,"ok":0,"failed":1,"exit_status":2}' -- /json /source:10.1.0.1 10.99.0.2
  # What reached Icmp6SendEcho2: the source and hop limit asked for, and
  # neither where none was.
  standin_log=$(mktemp)
  export FANECHO_STAND_IN_LOG="Z:$standin_log"
  standin_row wine.standin_source_ttl 0 "fd00:1::1 is ok

machine is ok" -- /report:all /source:fd00:1::99 /ttl:7 /ip:6 fd00:1::1
  standin_row wine.standin_default_options 0 "fd00:1::2 is ok

machine is ok" -- /report:all /ip:6 fd00:1::2
  unset FANECHO_STAND_IN_LOG
  log_want="to fd00:1:0:0:0:0:0:1 from fd00:1:0:0:0:0:0:99 hop limit 7
to fd00:1:0:0:0:0:0:2 from 0:0:0:0:0:0:0:0 hop limit default"
  if [[ $(cat "$standin_log") == "$log_want" ]]; then
    result wine.standin_options_arrive
  else
    result wine.standin_options_arrive "the stand-in was given:" "$(cat "$standin_log")"
  fi
  rm -f "$standin_log"
  # A worker's deepest stack use again, now that an IPv6 echo gets its reply.
  if [[ -f $checks ]]; then
    cp "$checks" "$standin_dir/"
    if report=$(WINEDLLOVERRIDES=iphlpapi=n timeout 120 ip netns exec "$world" \
      "$here/wine_runner.sh" "$standin_dir/platform_win32_test.exe" stack); then
      result "wine.worker_stack_ipv6 ($(stack_use <<<"$report"))"
    else
      result wine.worker_stack_ipv6 "$(sed 's/\r$//' <<<"$report")"
    fi
  fi
  rm -rf "$standin_dir"
else
  echo "skip  wine.ipv6_standin (no $standin)"
fi
large wine.answering_2048 120 "all 2048 machines are ok" 0 -- /report:error 10.1.0-7.0-255
# realnet.dns_names and realnet.dns_reverse where wine64 is too slow for
# their time limit: the resolver tries once, so that a query the name
# server lost fails its name instead of costing a retry.
# dns_row NAME EXPECTED -- ARGUMENTS...: exit status 0 and the lines
# EXPECTED in any order (the summary last).
dns_row() {
  local name=$1 want=$2 dir out status start elapsed i
  shift 3
  local resolv=/etc/netns/$world/resolv.conf
  dir=$(mktemp -d)
  for ((i = 0; i < 2000; i++)); do echo "host-$i.fanecho.test"; done >"$dir/dns-names.txt"
  cp "$resolv" "$dir/resolv.saved"
  printf 'nameserver 127.0.0.53\noptions attempts:1\n' >"$resolv"
  start=$(now_ms)
  (cd "$dir" && timeout 120 ip netns exec "$world" "$here/wine_runner.sh" "$binary" "$@") \
    >"$dir/out" 2>&1
  status=$?
  elapsed=$(($(now_ms) - start))
  cp "$dir/resolv.saved" "$resolv"
  out=$(sed 's/\r$//; s/RTT = [0-9]* msec/RTT = N msec/' "$dir/out")
  rm -rf "$dir"
  if ((status == 0)) && [[ $(sort <<<"$out") == "$(sort <<<"$want")" ]] &&
    [[ $(tail -n 1 <<<"$out") == "$(tail -n 1 <<<"$want")" ]]; then
    result "$name ($(seconds_of "$elapsed") s)"
  else
    result "$name ($(seconds_of "$elapsed") s)" "fanecho $*" "exit status $status, output:" \
      "$(diff <(sort <<<"$want") <(sort <<<"$out") | head -n 20)"
  fi
}
if ((bits == 64)) && command -v dnsmasq >/dev/null; then
  dns_row wine.dns_names $'\nall 2000 machines are ok' -- /include:dns-names.txt
  dns_row wine.dns_reverse "$(
    for ((i = 0; i < 2048; i++)); do
      name="host-$i.fanecho.test"
      ((i < 2000)) || name="?"
      echo "10.1.$((20 + i / 256)).$((i % 256)) ($name) is ok; RTT = N msec"
    done
    printf '\nall 2048 machines are ok'
  )" -- /report:ok /verbose 10.1.20-27.0-255
fi
if ((bits == 32)); then
  # 10240 addresses and a name: the last 240 and the name are refused.
  large wine.limit_10000 300 "all 10000 machines are ok" 241 -- /report:error 10.1.0-39.0-255 answer-one
else
  echo "skip  wine.limit_10000 (it tries 10000 stacks in a 32-bit address space)"
fi
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
