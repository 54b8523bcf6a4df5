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
# Inside the namespace, which nothing routes out of:
#   127.0.0.1      loopback
#   10.1.0.0/16    local on lo: every address answers
#   10.2.0.0/16    routed into an ifb device, which drops what it is sent:
#                  nothing answers (this kernel has no dummy links or netem)
#   10.255.255.0/30  the ifb device's own, with the gateway to 10.2.0.0/16
# fanecho runs in both ICMP modes, switched by the namespace's
# net.ipv4.ping_group_range: "0 2147483647" lets it open datagram sockets,
# "1 0" leaves it raw sockets (it runs as root). fping, as root, uses raw.
# On the cases in JSON_CASES fanecho also runs with /json (datagram), which
# writes an object for every target.
#
# Exit status: 0 done, 1 failure; with --quick 77 when root or a tool is
# missing (a skip for CTest).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
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
HAVE_GNUPLOT=1
command -v gnuplot >/dev/null || HAVE_GNUPLOT=0

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

NS=fanecho-bench-$$-$RANDOM
cleanup() {
  ip netns del "$NS" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

in_ns() { ip netns exec "$NS" "$@"; }

ip netns add "$NS"
in_ns ip link set lo up
in_ns ip addr add 10.1.0.1/16 dev lo
in_ns ip link add silent0 type ifb
# Long enough a queue that a burst of requests is dropped by the device
# rather than refused by the queue (which would fail the send at once).
in_ns ip link set silent0 txqueuelen 20000 up
# Behind a gateway, as silent hosts usually are: one neighbour entry, not
# one for each target.
in_ns ip addr add 10.255.255.1/30 dev silent0
in_ns ip route add 10.2.0.0/16 via 10.255.255.2 dev silent0
if in_ns ip -4 route get 192.0.2.1 >/dev/null 2>&1; then
  die "namespace $NS has a route out; refusing to send anything"
fi

set_mode() {
  case $1 in
    datagram) in_ns sysctl -qw net.ipv4.ping_group_range="0 2147483647" ;;
    raw) in_ns sysctl -qw net.ipv4.ping_group_range="1 0" ;;
  esac
}

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
  in_ns /usr/bin/time -f %M -o "$WORK/$id.rss" "$@" >"$WORK/$id.out" 2>&1 || true
  tail -n 1 "$WORK/$id.rss"
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
    local want
    if ((answering)); then
      want="all $targets machines are ok"
      ((targets == 1)) && want="machine is ok"
    else
      want="none of the $targets machines are ok"
      ((targets == 1)) && want="machine is not ok"
    fi
    grep -qx "$want" "$output"
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
    [[ ${programs[$v]} == fanecho ]] && set_mode "${modes[$v]%% *}"
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
      [[ ${programs[$v]} == fanecho ]] && set_mode "${modes[$v]%% *}"
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

DATE=$(date -u '+%Y-%m-%d %H:%M UTC')
CPU=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
MACHINE="$(nproc) x ${CPU:-unknown CPU}, Linux $(uname -r)"
REVISION=$(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo unknown)
FPING_VERSION=$(fping -v 2>&1 | sed -n 's/.*Version //p' | head -n 1)

# The median of fping at -i INTERVAL on the same case, or empty.
fping_median() {
  awk -F'\t' -v c="$1" -v m="-i $2" '$1 == c && $4 == "fping" && $5 == m { print $6 }' "$RESULTS"
}
median_of() {
  awk -F'\t' -v c="$1" -v p="$2" -v m="$3" '$1 == c && $4 == p && $5 == m { print $6 }' "$RESULTS"
}
rss_of() {
  awk -F'\t' -v c="$1" -v p="$2" -v m="$3" '$1 == c && $4 == p && $5 == m { print $10 }' "$RESULTS"
}

{
  echo "| case | program | ICMP socket | median (s) | min-max (s) | σ (s) | peak RSS (MiB) | targets/s | ÷ fping -i 0 | ÷ fping -i 1 |"
  echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|"
  while IFS=$'\t' read -r case targets answering program mode median min max stddev rss; do
    f0=$(fping_median "$case" 0)
    f1=$(fping_median "$case" 1)
    socket=$mode
    [[ $program == fping ]] && { socket=raw; program="fping $mode"; }
    [[ $mode == *" /json" ]] && { socket=${mode%% *}; program="fanecho /json"; }
    awk -v c="$case" -v p="$program" -v s="$socket" -v md="$median" -v lo="$min" -v hi="$max" \
      -v sd="$stddev" -v r="$rss" -v n="$targets" -v f0="$f0" -v f1="$f1" -v self="${program#fping }" '
      function ratio(ref) { return (ref == "" || self == "-i 0" || self == "-i 1") ? "" : sprintf("%.2f", md / ref) }
      BEGIN {
        printf "| %s | %s | %s | %.4f | %.4f-%.4f | %.4f | %.1f | %.0f | %s | %s |\n",
          c, p, s, md, lo, hi, sd, r / 1024, n / md, ratio(f0), ratio(f1)
      }'
  done <"$RESULTS"
} >"$WORK/table.md"

checks() {
  local a="10000 answering" s="10000 silent"
  local dg raw f0 f1 sdg sraw rdg rraw lo
  dg=$(median_of "$a" fanecho datagram)
  raw=$(median_of "$a" fanecho raw)
  f0=$(fping_median "$a" 0)
  f1=$(fping_median "$a" 1)
  sdg=$(median_of "$s" fanecho datagram)
  sraw=$(median_of "$s" fanecho raw)
  rdg=$(rss_of "$s" fanecho datagram)
  rraw=$(rss_of "$s" fanecho raw)
  lo=$(median_of loopback fanecho datagram)
  awk -v dg="$dg" -v raw="$raw" -v f0="$f0" -v f1="$f1" -v sdg="$sdg" -v sraw="$sraw" \
    -v rdg="$rdg" -v rraw="$rraw" -v lo="$lo" -v lor="$(median_of loopback fanecho raw)" \
    -v json="$(median_of "$a" fanecho "datagram /json")" '
    function row(what, got, limit, met) {
      printf "| %s | %s | %s | %s |\n", what, got, limit, met ? "yes" : "**no**"
    }
    function max(x, y) { return x > y ? x : y }
    BEGIN {
      print "| target | measured | limit | met |"
      print "|---|---:|---:|---|"
      row("10000 answering: fanecho ÷ fping -i 0", sprintf("%.2f (raw %.2f)", dg / f0, raw / f0),
          "≤ 3 (aim 2)", max(dg, raw) <= 3 * f0)
      row("10000 answering: fanecho ÷ fping -i 1", sprintf("%.3f (raw %.3f)", dg / f1, raw / f1),
          "far below 1", max(dg, raw) <= 0.25 * f1)
      row("10000 silent, /timeout:1: peak RSS", sprintf("%.1f MiB (raw %.1f)", rdg / 1024, rraw / 1024),
          "≤ 96 MiB", max(rdg, rraw) <= 96 * 1024)
      row("10000 silent, /timeout:1: wall time", sprintf("%.3f s (raw %.3f)", sdg, sraw),
          "≤ 1.5 s", max(sdg, sraw) <= 1.5)
      row("10000 answering: raw ÷ datagram", sprintf("%.2f", raw / dg), "≤ 1.5", raw <= 1.5 * dg)
      row("10000 answering: /json ÷ without (datagram)", sprintf("%.2f", json / dg), "≤ 1.1",
          json <= 1.1 * dg)
      row("one loopback target: wall time", sprintf("%.1f ms (raw %.1f)", lo * 1000, lor * 1000),
          "≤ 10 ms", max(lo, lor) <= 0.010)
    }'
}

{
  echo "# fanecho against fping"
  echo
  echo "$DATE; $MACHINE; fanecho $REVISION; fping $FPING_VERSION."
  echo "Wall time: single hyperfine runs, the programs taking turns so that a change in load falls"
  echo "on all alike; median, range and standard deviation. Peak RSS: the largest GNU time %M of"
  echo "the runs that checked each answer (three, one for the long fping -i 1 case)."
  echo "fanecho: \`fanecho /timeout:1 PATTERN\` (fanecho /json: \`fanecho /json /timeout:1 PATTERN\`);"
  echo "fping: \`fping -q -c 1 -t 1000 -r 0 -i N -f LIST\`."
  echo
  cat "$WORK/table.md"
  if ((!QUICK)); then
    echo
    checks
    echo
    echo "![wall time against targets](wall-time.png)"
  fi
} >"$OUT/results.md"

{
  printf 'case\ttargets\tanswering\tprogram\tmode\tmedian_s\tmin_s\tmax_s\tstddev_s\tpeak_rss_kib\n'
  cat "$RESULTS"
} >"$OUT/results.csv"

if ((HAVE_GNUPLOT)); then
  data=$WORK/plot.dat
  : >"$data"
  series=("fanecho datagram" "fanecho raw" "fping -i 0" "fping -i 1")
  for s in "${series[@]}"; do
    awk -F'\t' -v p="${s%% *}" -v m="${s#* }" \
      '$3 == 1 && $4 == p && $5 == m { print $2, $6, $7, $8 }' "$RESULTS" | sort -n >>"$data"
    printf '\n\n' >>"$data"
  done
  terminal="pngcairo size 900,560 noenhanced font ',10'"
  gnuplot -e 'set terminal pngcairo' >/dev/null 2>&1 || terminal="png size 900,560 noenhanced"
  plots=()
  for i in "${!series[@]}"; do
    # Only series that were measured: a quick run has no fping -i 1.
    awk -v i="$i" 'BEGIN { RS = "\n\n\n" } NR == i + 1 && NF > 0 { found = 1 } END { exit !found }' \
      "$data" && plots+=("'$data' index $i using 1:2:3:4 with yerrorlines lw 2 title '${series[$i]}'")
  done
  plot_list=$(IFS=,; echo "${plots[*]}")
  gnuplot <<EOF
set terminal $terminal
set output '$OUT/wall-time.png'
set title "Wall time against answering targets (1 = loopback)\n$DATE; $MACHINE"
set logscale xy
set xlabel 'targets'
set ylabel 'wall time (s): median, bars min-max'
set key top left
set grid
set xrange [0.7:15000]
plot $plot_list
EOF
else
  echo "bench: gnuplot is not installed; no plot" >&2
fi

echo
cat "$OUT/results.md"
if ((KEEP_OUT)); then
  echo
  echo "bench: written to $OUT"
fi
