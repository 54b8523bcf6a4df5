#!/usr/bin/env bash
# fanecho against fping on the same targets, in a network namespace of its own.
#
#   bench/run.sh [--quick] [--fanecho PATH] [--out DIR] [--runs N]
#
#   --quick     one tiny case, a few runs: a check that the bench still works
#   --fanecho   the binary to measure; without it build/bench is built first
#   --out       where results.md, results.csv and wall-time.png go
#               (default bench/results; with --quick a temporary directory)
#   --runs      timed runs of each short case (default 10); long ones take fewer
#
# Needs root (for the namespace), iproute2, fping, hyperfine and GNU time
# (/usr/bin/time); gnuplot for the plot. Times come from hyperfine, one run
# at a time with the programs taking turns; peak resident memory from GNU
# time, in runs that also check each answer: a wrong one fails the run.
#
# The world is the end-to-end tests' (tests/e2e/netns.sh, no responder),
# which nothing routes out of:
#   127.0.0.1      loopback
#   10.1.0.0/16    local on lo: every address answers
#   10.2.0.0/16    routed into an ifb device, which drops what it is sent:
#                  nothing answers (this kernel has no dummy links or netem)
# bench/report.sh draws the report from the measurements. fanecho runs in both ICMP modes, switched by the namespace's
# net.ipv4.ping_group_range: "0 2147483647" lets it open datagram sockets,
# "1 0" leaves it raw sockets (it runs as root). fping, as root, uses raw.
# On the cases in JSON_CASES fanecho also runs with /json (datagram), which
# writes an object for every target.
#
# Exit status: 0 done, 1 failure; with --quick 77 when root or a tool is
# missing (a skip for CTest).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
progname=bench
# shellcheck source=../tests/support/testlib.sh
source "$ROOT/tests/support/testlib.sh"
QUICK=0
FANECHO=""
OUT=""
RUNS=10

die() {
  echo "bench: $*" >&2
  exit 1
}

while (($# > 0)); do
  case $1 in
    --quick) QUICK=1 ;;
    --fanecho) FANECHO=${2:?--fanecho needs a path}; shift ;;
    --out) OUT=${2:?--out needs a directory}; shift ;;
    --runs) RUNS=${2:?--runs needs a number}; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
  shift
done
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "--runs wants a positive number"

missing() {
  if ((QUICK)); then
    echo "bench: skipped: $*"
    exit 77
  fi
  die "$*"
}

(($(id -u) == 0)) || missing "needs root to make a network namespace"
for tool in ip fping hyperfine; do
  command -v "$tool" >/dev/null || missing "$tool is not installed"
done
/usr/bin/time -f %M true >/dev/null 2>&1 || missing "GNU time (/usr/bin/time) is not installed"

if [[ -z $FANECHO ]]; then
  if [[ ! -f $ROOT/build/bench/CMakeCache.txt ]]; then
    generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    cmake -S "$ROOT" -B "$ROOT/build/bench" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DFANECHO_TESTS=OFF >/dev/null
  fi
  cmake --build "$ROOT/build/bench" --target fanecho -j 2 >/dev/null
  FANECHO=$ROOT/build/bench/fanecho
fi
[[ -x $FANECHO ]] || die "no fanecho at $FANECHO"
FANECHO=$(cd "$(dirname "$FANECHO")" && pwd)/$(basename "$FANECHO")

WORK=$(mktemp -d "${TMPDIR:-/tmp}/fanecho-bench.XXXXXX")
KEEP_OUT=1
if [[ -z $OUT ]]; then
  if ((QUICK)); then
    OUT=$WORK/results
    KEEP_OUT=0
  else
    OUT=$ROOT/bench/results
  fi
fi
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

NS=fbench$$
cleanup() {
  world_down "$NS"
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

in_ns() { ip netns exec "$NS" "$@"; }

world_up "$NS" || die "could not build the namespace"

# One address a line, in the order fanecho expands the same pattern; each
# field of the pattern is a number or a range lo-hi.
expand() {
  local -a f
  IFS=. read -r -a f <<<"$1"
  local a b c d
  for a in $(seq "${f[0]%-*}" "${f[0]#*-}"); do
    for b in $(seq "${f[1]%-*}" "${f[1]#*-}"); do
      for c in $(seq "${f[2]%-*}" "${f[2]#*-}"); do
        for d in $(seq "${f[3]%-*}" "${f[3]#*-}"); do
          echo "$a.$b.$c.$d"
        done
      done
    done
  done
}

# Results, one line a measurement:
# case targets answering program mode median min max stddev peak_rss_kib
RESULTS=$WORK/results.tsv
: >"$RESULTS"

# run_for_memory ID COMMAND...: one run under GNU time; prints its peak RSS
# in KiB and leaves its output in ID.out.
run_for_memory() {
  local id=$1
  shift
  in_ns /usr/bin/time -f "$gnu_time_format" -o "$WORK/$id.rss" "$@" >"$WORK/$id.out" 2>&1 || true
  time_field "$WORK/$id.rss" peak
}

# time_once ID COMMAND...: one run timed by hyperfine; adds its seconds to
# ID.times.
time_once() {
  local id=$1
  shift
  local quoted
  quoted=$(printf '%q ' "$@")
  if ! in_ns hyperfine -N -i --style none --runs 1 --export-csv "$WORK/$id.csv" -- "$quoted" \
    >"$WORK/$id.hyperfine" 2>&1; then
    cat "$WORK/$id.hyperfine" >&2
    die "hyperfine failed on: $*"
  fi
  # command,mean,stddev,median,user,system,min,max: the mean of one run.
  tail -n 1 "$WORK/$id.csv" | awk -F, '{ print $(NF - 6) }' >>"$WORK/$id.times"
}

JSON_CASES=("10 answering" "10000 answering")

# True when the output says what it should: every target answered, or none.
check_answer() {
  local program=$1 targets=$2 answering=$3 output=$4
  if [[ $program == fanecho && $(tail -n 1 "$output") == '{"type":"summary"'* ]]; then
    local ok=$((answering ? targets : 0)) status=$((answering ? 0 : 2))
    grep -qx "{\"type\":\"summary\",\"targets\":$targets,\"ok\":$ok,\"failed\":$((targets - ok)),\"exit_status\":$status}" "$output" &&
      (($(grep -c '^{"type":"target",' "$output") == targets))
  elif [[ $program == fanecho ]]; then
    grep -qxF "$(summary_for $((answering ? targets : 0)) "$targets" | cut -d'|' -f1)" "$output"
  else
    local replied
    replied=$(grep -c 'xmt/rcv/%loss = 1/1/' "$output" || true)
    ((replied == (answering ? targets : 0))) && (($(grep -c 'xmt/rcv' "$output") == targets))
  fi
}

# bench_case CASE PATTERN ANSWERING RUNS FPING_INTERVALS...
# fanecho in both modes and fping at each interval on the same targets. Each
# first runs for its memory and answer (which also warms up), then the timed
# runs go round the programs in turn, so that a change in the load of a
# shared machine falls on all of them alike.
bench_case() {
  local case=$1 pattern=$2 answering=$3 runs=$4
  shift 4
  local list=$WORK/${case// /_}.list
  expand "$pattern" >"$list"
  local targets
  targets=$(wc -l <"$list")
  local -a programs=() modes=() rounds=() commands=()
  local mode interval
  for mode in datagram raw; do
    programs+=(fanecho)
    modes+=("$mode")
    rounds+=("$runs")
    commands+=("$(printf '%q ' "$FANECHO" /timeout:1 "$pattern")")
  done
  local json_case
  for json_case in "${JSON_CASES[@]}"; do
    [[ $json_case == "$case" ]] || continue
    programs+=(fanecho)
    modes+=("datagram /json")
    rounds+=("$runs")
    commands+=("$(printf '%q ' "$FANECHO" /json /timeout:1 "$pattern")")
  done
  for interval in "$@"; do
    programs+=(fping)
    modes+=("-i $interval")
    # 10000 targets 1 ms apart take over ten seconds a run.
    if ((interval > 0 && targets * interval >= 5000)); then rounds+=(3); else rounds+=("$runs"); fi
    commands+=("$(printf '%q ' fping -q -c 1 -t 1000 -r 0 -i "$interval" -f "$list")")
  done

  local v id rss max_rss i memory_runs most=0
  local -a command ids=() peaks=()
  for v in "${!programs[@]}"; do
    id=${case// /_}-${programs[$v]}-${modes[$v]// /}
    id=${id//\//}
    ids+=("$id")
    : >"$WORK/$id.times"
    eval "command=(${commands[$v]})"
    echo "bench: $case: ${programs[$v]} (${modes[$v]}): memory and answer" >&2
    [[ ${programs[$v]} == fanecho ]] && set_icmp_mode "$NS" "${modes[$v]%% *}"
    memory_runs=3
    ((QUICK || rounds[v] < runs)) && memory_runs=1
    max_rss=0
    for ((i = 0; i < memory_runs; i++)); do
      rss=$(run_for_memory "$id" "${command[@]}")
      ((rss > max_rss)) && max_rss=$rss
    done
    peaks+=("$max_rss")
    check_answer "${programs[$v]}" "$targets" "$answering" "$WORK/$id.out" || {
      tail -n 5 "$WORK/$id.out" >&2
      die "${programs[$v]} (${modes[$v]}) gave the wrong answer on $case"
    }
    ((rounds[v] > most)) && most=${rounds[v]}
  done

  local round
  for ((round = 1; round <= most; round++)); do
    echo "bench: $case: timed round $round of $most" >&2
    for v in "${!programs[@]}"; do
      ((round <= rounds[v])) || continue
      eval "command=(${commands[$v]})"
      [[ ${programs[$v]} == fanecho ]] && set_icmp_mode "$NS" "${modes[$v]%% *}"
      time_once "${ids[$v]}" "${command[@]}"
    done
  done

  for v in "${!programs[@]}"; do
    sort -g "$WORK/${ids[$v]}.times" | awk -v c="$case" -v n="$targets" -v a="$answering" \
      -v p="${programs[$v]}" -v m="${modes[$v]}" -v r="${peaks[$v]}" '
      { t[NR] = $1; sum += $1 }
      END {
        median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        mean = sum / NR
        for (i = 1; i <= NR; i++) dev += (t[i] - mean) ^ 2
        sd = NR > 1 ? sqrt(dev / (NR - 1)) : 0
        printf "%s\t%s\t%s\t%s\t%s\t%.6f\t%.6f\t%.6f\t%.6f\t%s\n", c, n, a, p, m, median, t[1], t[NR], sd, r
      }' >>"$RESULTS"
  done
}

long_runs=$(((RUNS + 1) / 2))
((long_runs < 3)) && long_runs=3
if ((QUICK)); then
  RUNS=3
  bench_case "10 answering" 10.1.0.1-10 1 3 0
else
  bench_case "loopback" 127.0.0.1 1 $((RUNS * 2)) 0
  bench_case "100 answering" 10.1.0.1-100 1 "$RUNS" 0 1
  bench_case "1000 answering" 10.1.0-3.1-250 1 "$RUNS" 0 1
  bench_case "10000 answering" 10.1.0-39.1-250 1 "$RUNS" 0 1
  bench_case "10000 silent" 10.2.0-39.1-250 0 "$long_runs" 0
fi

# ---- report ---------------------------------------------------------------

{
  printf 'case\ttargets\tanswering\tprogram\tmode\tmedian_s\tmin_s\tmax_s\tstddev_s\tpeak_rss_kib\n'
  cat "$RESULTS"
} >"$OUT/results.csv"
CPU=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
ABOUT="$(date -u '+%Y-%m-%d %H:%M UTC')|$(nproc) x ${CPU:-unknown CPU}, Linux $(uname -r)"
ABOUT+="|$(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo unknown)"
ABOUT+="|$(fping -v 2>&1 | sed -n 's/.*Version //p' | head -n 1)"
quick=()
((QUICK)) && quick=(--quick)
"$ROOT/bench/report.sh" "${quick[@]}" --about "$ABOUT" "$OUT/results.csv" "$OUT"

echo
cat "$OUT/results.md"
if ((KEEP_OUT)); then
  echo
  echo "bench: written to $OUT"
fi
