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

# Left out: the permission group (Linux ping_group_range and user 65534; a
# wine prefix belongs to one user), many.few_descriptors (a Linux open file
# limit, and 300 echoes in flight, where wine allows 256 per prefix),
# responder.bad_checksum and responder.all_at_once, which includes it (wine
# hands on replies with a wrong ICMP checksum, which Windows drops and the
# ICMP API never shows), and many.limit, whose time limit is Linux's: wine
# creates threads several times slower. The large runs below take its place.
default_cases="-permission,-many.few_descriptors,-many.few_descriptors_include,-responder.bad_checksum,-responder.all_at_once,-many.limit"

usage() {
  sed -n '5p' "${BASH_SOURCE[0]}" | sed 's/^# *//' >&2
  exit 2
}

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

skip() {
  echo "run_wine_e2e.sh: skipped: $*"
  exit 77
}
((EUID == 0)) || skip "network namespaces need root"
command -v wine >/dev/null && command -v wineserver >/dev/null || skip "wine is not installed"
if [[ -n $build ]]; then
  command -v i686-w64-mingw32-g++-posix >/dev/null || command -v i686-w64-mingw32-g++ >/dev/null ||
    skip "the mingw-w64 i686 compiler is not installed"
fi
probe_ns=fe-wine-probe$$
ip netns add "$probe_ns" 2>/dev/null || skip "ip netns is not available here"
ip netns del "$probe_ns"

if [[ -n $build ]]; then
  echo "=== building fanecho.exe in $build"
  cmake --preset win32 -S "$top" -B "$build" >/dev/null || exit 1
  cmake --build "$build" -j 2 || exit 1
  binary=$build/fanecho.exe
fi
[[ -f $binary ]] || { echo "run_wine_e2e.sh: no binary at '$binary'" >&2; exit 2; }
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")

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
trap 'cleanup; "$here/../netns.sh" down "$world"' EXIT
"$here/../netns.sh" up "$world" --responder "$responder" --seconds 600 || exit 1
only_passed=0 only_failed=0

# Built beside fanecho.exe by the win32 preset.
checks=$(dirname "$binary")/tests/win32/platform_win32_test.exe
if [[ -f $checks ]]; then
  if report=$(timeout 120 ip netns exec "$world" "$here/wine_runner.sh" "$checks"); then
    only_passed=$((only_passed + 1))
    echo "ok    wine.platform_win32 ($(grep -c '^ok' <<<"$report") checks)"
  else
    only_failed=$((only_failed + 1))
    echo "FAIL  wine.platform_win32"
    sed 's/\r$//; s/^/      /' <<<"$report"
  fi
else
  echo "skip  wine.platform_win32 (no $checks)"
fi

# large NAME SECONDS SUMMARY REFUSALS -- ARGUMENTS...: exit status 0, the
# summary line, and REFUSALS "too many addresses" lines before it.
large() {
  local name=$1 limit=$2 summary=$3 others=$4
  shift 5
  local out start elapsed status problems=""
  out=$(mktemp)
  start=$(date +%s%N)
  timeout "$limit" ip netns exec "$world" "$here/wine_runner.sh" "$binary" "$@" |
    sed 's/\r$//' >"$out"
  status=${PIPESTATUS[0]}
  elapsed=$((($(date +%s%N) - start) / 1000000))
  ((status == 0)) || problems+="exit status $status; "
  [[ $(tail -n 1 "$out") == "$summary" ]] || problems+="last line '$(tail -n 1 "$out")'; "
  (($(wc -l <"$out") == others + 2)) || problems+="$(wc -l <"$out") lines, expected $((others + 2)); "
  head -n -2 "$out" | grep -qv '^too many addresses; ignoring ' && problems+="unexpected lines; "
  rm -f "$out"
  if [[ -z $problems ]]; then
    only_passed=$((only_passed + 1))
    echo "ok    $name ($((elapsed / 1000)).$((elapsed % 1000 / 100)) s)"
  else
    only_failed=$((only_failed + 1))
    echo "FAIL  $name ($((elapsed / 1000)).$((elapsed % 1000 / 100)) s): fanecho $*"
    echo "      $problems"
  fi
}
large wine.answering_2048 120 "all 2048 machines are ok" 0 -- /report:error 10.1.0-7.0-255
# 10240 addresses and a name: the last 240 and the name are refused.
large wine.limit_10000 300 "all 10000 machines are ok" 241 -- /report:error 10.1.0-39.0-255 answer-one
echo "wine only: $only_passed passed, $only_failed failed"
((status == 0 && only_failed == 0))
