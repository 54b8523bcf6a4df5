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
# (/usr/bin/time); gnuplot for the plot. Times come from hyperfine, peak
# resident memory from GNU time; every case is also checked for the answer
# it should give, and a wrong one fails the run.
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
# case targets answering program mode median min max stddev rss_kib user system
RESULTS=$WORK/results.tsv
: >"$RESULTS"

# measure CASE TARGETS ANSWERING PROGRAM MODE RUNS WARMUP COMMAND...
# Times the command with hyperfine inside the namespace, then runs it under
# GNU time for its peak memory and checks what it answered.
measure() {
  local case=$1 targets=$2 answering=$3 program=$4 mode=$5 runs=$6 warmup=$7
  shift 7
  local id=$case-$program-$mode
  id=${id// /_}
  echo "bench: $case: $program ($mode), $runs runs" >&2
  [[ $program == fanecho ]] && set_mode "$mode"
  if ! in_ns hyperfine -N -i --style none --runs "$runs" --warmup "$warmup" \
    --export-csv "$WORK/$id.csv" -- "$*" >"$WORK/$id.hyperfine" 2>&1; then
    cat "$WORK/$id.hyperfine" >&2
    die "hyperfine failed on: $*"
  fi
  local rss max_rss=0 i memory_runs=3
  ((QUICK)) && memory_runs=1
  for ((i = 0; i < memory_runs; i++)); do
    in_ns /usr/bin/time -f %M -o "$WORK/$id.rss" "$@" >"$WORK/$id.out" 2>&1 || true
    rss=$(tail -n 1 "$WORK/$id.rss")
    ((rss > max_rss)) && max_rss=$rss
  done
  check_answer "$program" "$targets" "$answering" "$WORK/$id.out" || {
    tail -n 5 "$WORK/$id.out" >&2
    die "$program ($mode) gave the wrong answer on $case"
  }
  # command,mean,stddev,median,user,system,min,max
  local median min max stddev user system
  IFS=, read -r _ _ stddev median user system min max < <(tail -n 1 "$WORK/$id.csv")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$case" "$targets" "$answering" \
    "$program" "$mode" "$median" "$min" "$max" "$stddev" "$max_rss" "$user" "$system" >>"$RESULTS"
}

# True when the output says what it should: every target answered, or none.
check_answer() {
  local program=$1 targets=$2 answering=$3 output=$4
  if [[ $program == fanecho ]]; then
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
bench_case() {
  local case=$1 pattern=$2 answering=$3 runs=$4
  shift 4
  local list=$WORK/${case// /_}.list
  expand "$pattern" >"$list"
  local targets
  targets=$(wc -l <"$list")
  local mode
  for mode in datagram raw; do
    measure "$case" "$targets" "$answering" fanecho "$mode" "$runs" 1 \
      "$FANECHO" /timeout:1 "$pattern"
  done
  local interval fping_runs warmup
  for interval in "$@"; do
    fping_runs=$runs
    warmup=1
    # 10000 targets 1 ms apart take over ten seconds a run.
    if ((interval > 0 && targets * interval >= 5000)); then
      fping_runs=3
      warmup=0
    fi
    measure "$case" "$targets" "$answering" fping "-i $interval" "$fping_runs" "$warmup" \
      fping -q -c 1 -t 1000 -r 0 -i "$interval" -f "$list"
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
  while IFS=$'\t' read -r case targets answering program mode median min max stddev rss _ _; do
    f0=$(fping_median "$case" 0)
    f1=$(fping_median "$case" 1)
    socket=$mode
    [[ $program == fping ]] && { socket=raw; program="fping $mode"; }
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
    -v rdg="$rdg" -v rraw="$rraw" -v lo="$lo" -v lor="$(median_of loopback fanecho raw)" '
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
      row("one loopback target: wall time", sprintf("%.1f ms (raw %.1f)", lo * 1000, lor * 1000),
          "≤ 10 ms", max(lo, lor) <= 0.010)
    }'
}

{
  echo "# fanecho against fping"
  echo
  echo "$DATE; $MACHINE; fanecho $REVISION; fping $FPING_VERSION."
  echo "Median of hyperfine runs; peak RSS the largest of GNU time's %M over the memory runs."
  echo "fanecho: \`fanecho /timeout:1 PATTERN\`; fping: \`fping -q -c 1 -t 1000 -r 0 -i N -f LIST\`."
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
  printf 'case\ttargets\tanswering\tprogram\tmode\tmedian_s\tmin_s\tmax_s\tstddev_s\tpeak_rss_kib\tuser_s\tsystem_s\n'
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
