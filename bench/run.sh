#!/usr/bin/env bash
# fanecho against fping on the same targets, in a network namespace of its own.
#
#   bench/run.sh [--quick] [--fanecho PATH] [--out DIR] [--runs N] [--cases LIST]
#
#   --quick     one tiny case, a few runs: a check that the bench still works
#   --fanecho   the binary to measure; without it build/bench is built first
#   --out       where results.md, results.csv and wall-time.png go
#               (default bench/results; with --quick a temporary directory)
#   --runs      timed runs of each short case (default 10); long ones take fewer
#   --cases     only these cases, comma-separated: "one target", "100 answering",
#               "1000 answering", "10000 answering", "10000 answering IPv6",
#               "10000 silent", "30000 silent", "65536 silent", "65536 answering",
#               "rate"
#
# Needs root (for the namespace and the memory cgroups), iproute2, fping,
# iputils ping, hyperfine and a C compiler (for bench/floor.c); gnuplot for
# the plot. Times come from hyperfine, one run at a time with the programs
# taking turns. Memory is the whole run's, user and kernel (thread stacks,
# task records, socket buffers): each run that checks the answers goes into
# a memory cgroup made for it alone, whose peak is read after it ends
# (memory.max_usage_in_bytes on cgroup v1, memory.peak on v2). A wrong
# answer fails the run.
#
# The world is the end-to-end tests' (tests/e2e/netns.sh, no responder),
# which nothing routes out of:
#   127.0.0.1      loopback
#   10.1.0.0/16    local on lo: every address answers
#   10.2.0.0/16    routed into an ifb device, which drops what it is sent:
#                  nothing answers (this kernel has no dummy links or netem)
#   10.11.0.0/16   local on lo too, added here: a whole /16 that answers, as
#                  10.1.0.0/16 holds its broadcast address 10.1.255.255
# bench/report.sh draws the report from the measurements. fanecho runs in
# both ICMP modes, switched by the namespace's net.ipv4.ping_group_range:
# "0 2147483647" lets it open datagram sockets, "1 0" leaves it raw sockets
# (it runs as root). fping, as root, uses raw. On the cases in JSON_CASES
# fanecho also runs with /json (datagram), which writes an object for every
# target. On the 10000-target cases bench/floor.c runs too: a bare thread
# and ICMP datagram socket per target, the floor under fanecho's figures.
# "one target" runs fanecho, fping -q, ping -c1 and /bin/true on 127.0.0.1,
# one request each, 300 times each (hyperfine -N, in rounds that take turns).
#
# Exit status: 0 done, 1 failure; with --quick 77 when root, a tool or a
# memory cgroup is missing (a skip for CTest).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
progname=bench
# shellcheck source=../tests/support/testlib.sh
source "$ROOT/tests/support/testlib.sh"
QUICK=0
FANECHO=""
OUT=""
RUNS=10
CASES=""

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
    --cases) CASES=${2:?--cases needs a list}; shift ;;
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
for tool in ip fping ping hyperfine cc; do
  command -v "$tool" >/dev/null || missing "$tool is not installed"
done

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

# ---- memory: a cgroup of its own for each measured run ---------------------

# The runs' cgroups are made under MEMORY_PARENT, one at a time, and
# MEMORY_PEAK names the file that holds a cgroup's peak in bytes.
MEMORY_PARENT=""
MEMORY_PEAK=""
CGROUP_NAME=fanecho-bench$$

# Finds the hierarchy that has the memory controller (v1: a "cgroup" mount
# with the memory option; v2: a "cgroup2" mount) and, in it, the bench's own
# cgroup, so that the runs stay inside whatever limits the bench runs under.
# Where a child of that cannot count memory (on v2, a cgroup that holds
# processes cannot pass the controller down) it takes the hierarchy's root.
find_memory_parent() {
  local version mount own parent peak
  while read -r version mount; do
    if ((version == 1)); then
      peak=memory.max_usage_in_bytes
      own=$(awk -F: '$2 ~ /(^|,)memory(,|$)/ { print $3 }' /proc/self/cgroup)
    else
      # A v2 hierarchy beside v1 ones ("hybrid") has no memory controller.
      grep -qw memory "$mount/cgroup.controllers" 2>/dev/null || continue
      peak=memory.peak
      own=$(awk -F: '$1 == "0" { print $3 }' /proc/self/cgroup)
    fi
    for parent in "$mount${own%/}" "$mount"; do
      if [[ ! -d $parent ]] || ! mkdir "$parent/$CGROUP_NAME" 2>/dev/null; then continue; fi
      if [[ -f $parent/$CGROUP_NAME/$peak ]]; then
        rmdir "$parent/$CGROUP_NAME"
        MEMORY_PARENT=$parent
        MEMORY_PEAK=$peak
        return 0
      fi
      rmdir "$parent/$CGROUP_NAME"
    done
  done < <(awk '{
      for (i = 7; $i != "-"; i++) {}
      if ($(i + 1) == "cgroup" && $(i + 3) ~ /(^|,)memory(,|$)/) print 1, $5
      else if ($(i + 1) == "cgroup2") print 2, $5
    }' /proc/self/mountinfo)
  return 1
}

# Removes the run's cgroup, first ending what an interrupted run left in it.
remove_cgroup() {
  local cgroup=$MEMORY_PARENT/$CGROUP_NAME pid tries
  [[ -n $MEMORY_PARENT && -d $cgroup ]] || return 0
  for ((tries = 0; tries < 50; tries++)); do
    rmdir "$cgroup" 2>/dev/null && return 0
    while read -r pid; do kill -KILL "$pid" 2>/dev/null || true; done <"$cgroup/cgroup.procs"
    sleep 0.1
  done
  echo "bench: could not remove the memory cgroup $cgroup" >&2
}

NS=fbench$$
cleanup() {
  remove_cgroup
  world_down "$NS"
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

find_memory_parent || missing "no memory cgroup can be made here (cgroup v1 memory or v2 memory.peak)"

in_ns() { ip netns exec "$NS" "$@"; }

# in_memory_cgroup ID COMMAND...: runs COMMAND in the namespace, alone in a
# memory cgroup made for it, its output going through a pipe into ID.out
# (so that no page of the file is charged to it); adds the cgroup's peak in
# KiB to ID.memory. The process joins the cgroup through a descriptor opened
# outside, since `ip netns exec` mounts a /sys of its own, and only then
# becomes COMMAND.
in_memory_cgroup() {
  local id=$1
  shift
  local cgroup=$MEMORY_PARENT/$CGROUP_NAME
  mkdir "$cgroup" || die "could not make the memory cgroup $cgroup"
  # shellcheck disable=SC2016 # $$ and $@ are the inner shell's
  in_ns sh -c 'echo $$ >&3 && exec 3>&- && exec "$@"' sh "$@" 3>"$cgroup/cgroup.procs" \
    > >(cat >"$WORK/$id.out") 2>&1 || true
  wait $!
  echo $(($(<"$cgroup/$MEMORY_PEAK") / 1024)) >>"$WORK/$id.memory"
  rmdir "$cgroup"
}

world_up "$NS" || die "could not build the namespace"
in_ns ip route add local 10.11.0.0/16 dev lo || die "could not route 10.11.0.0/16 to lo"

FLOOR=$WORK/floor
cc -O2 -pthread -o "$FLOOR" "$ROOT/bench/floor.c" || die "could not build bench/floor.c"

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
# case targets answering program mode median min max stddev peak_memory_kib
RESULTS=$WORK/results.tsv
: >"$RESULTS"

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

# The IPv6 form: PREFIX:LO-HI, the last group a hexadecimal range.
expand6() {
  local prefix=${1%:*} range=${1##*:} i
  for ((i = 16#${range%-*}; i <= 16#${range#*-}; i++)); do printf '%s:%x\n' "$prefix" "$i"; done
}

JSON_CASES=("10 answering" "10000 answering")

# True when the output says what it should: every target answered, or none.
# fanecho refuses no target; run several times over parts of the targets
# (MODE "... N runs"), its summaries add up to them.
check_answer() {
  local program=$1 targets=$2 answering=$3 output=$4 mode=${5-}
  if [[ $program == fanecho ]] && grep -q '^too many addresses' "$output"; then
    return 1
  fi
  if [[ $program == fanecho && $mode == *" runs" ]]; then
    local word=none runs=${mode% runs}
    ((answering)) && word=all
    awk -v word="$word" -v runs="${runs##* }" -v n="$targets" '
      /^$/ { next }
      word == "all" && /^all [0-9]+ machines are ok$/ { sum += $2; count++; next }
      word == "none" && /^none of the [0-9]+ machines are ok$/ { sum += $4; count++; next }
      { bad = 1 }
      END { exit !(!bad && count == runs && sum == n) }' "$output"
  elif [[ $program == fanecho && $(tail -n 1 "$output") == '{"type":"summary"'* ]]; then
    local ok=$((answering ? targets : 0)) status=$((answering ? 0 : 2))
    grep -qx "{\"type\":\"summary\",\"targets\":$targets,\"ok\":$ok,\"failed\":$((targets - ok)),\"exit_status\":$status}" "$output" &&
      (($(grep -c '^{"type":"target",' "$output") == targets))
  elif [[ $program == fanecho ]]; then
    grep -qxF "$(summary_for $((answering ? targets : 0)) "$targets" | cut -d'|' -f1)" "$output"
  elif [[ $program == floor ]]; then
    grep -q "^$targets threads: $((answering ? targets : 0)) replies," "$output"
  else
    local replied
    replied=$(grep -c 'xmt/rcv/%loss = 1/1/' "$output" || true)
    ((replied == (answering ? targets : 0))) && (($(grep -c 'xmt/rcv' "$output") == targets))
  fi
}

# bench_case CASE PATTERN ANSWERING RUNS FLOOR FPING_INTERVALS...
# fanecho in both modes, bench/floor.c when FLOOR is 1 and fping at each
# interval on the same targets. Each first runs for its memory and answer
# (which also warms up), then the timed runs go round the programs in turn,
# so that a change in the load of a shared machine falls on all of them
# alike.
bench_case() {
  local case=$1 pattern=$2 answering=$3 runs=$4 floor=$5
  shift 5
  local list=$WORK/${case// /_}.list
  local -a family=() fping6=()
  if [[ $pattern == *:* ]]; then
    expand6 "$pattern" >"$list"
    family=(/ip:6)
    fping6=(-6)
  else
    expand "$pattern" >"$list"
  fi
  local targets
  targets=$(wc -l <"$list")
  local -a programs=() modes=() rounds=() commands=()
  local mode interval
  for mode in datagram raw; do
    programs+=(fanecho)
    modes+=("$mode")
    rounds+=("$runs")
    commands+=("$(printf '%q ' "$FANECHO" "${family[@]}" /timeout:1 "$pattern")")
  done
  local json_case
  for json_case in "${JSON_CASES[@]}"; do
    [[ $json_case == "$case" ]] || continue
    programs+=(fanecho)
    modes+=("datagram /json")
    rounds+=("$runs")
    commands+=("$(printf '%q ' "$FANECHO" /json /timeout:1 "$pattern")")
  done
  if ((floor)); then
    # Its addresses are those of 10.NET.0-39.1-250, in the same order.
    programs+=(floor)
    modes+=(datagram)
    rounds+=("$runs")
    commands+=("$(printf '%q ' "$FLOOR" "$targets" "$(cut -d. -f2 <<<"$pattern")")")
  fi
  for interval in "$@"; do
    programs+=(fping)
    modes+=("-i $interval")
    # 10000 targets 1 ms apart take over ten seconds a run.
    if ((interval > 0 && targets * interval >= 5000)); then rounds+=(3); else rounds+=("$runs"); fi
    commands+=("$(printf '%q ' fping "${fping6[@]}" -q -c 1 -t 1000 -r 0 -i "$interval" -f "$list")")
  done

  measure "$case" "$targets" "$answering" "$runs"
}

# measure CASE TARGETS ANSWERING RUNS: the programs, modes, rounds and
# commands that the caller put in the arrays of those names, measured as
# bench_case says.
measure() {
  local case=$1 targets=$2 answering=$3 runs=$4
  local v id i memory_runs most=0
  local -a command ids=()
  for v in "${!programs[@]}"; do
    id=${case// /_}-${programs[$v]}-${modes[$v]// /}
    id=${id//\//}
    ids+=("$id")
    : >"$WORK/$id.times"
    : >"$WORK/$id.memory"
    eval "command=(${commands[$v]})"
    echo "bench: $case: ${programs[$v]} (${modes[$v]}): memory and answer" >&2
    [[ ${programs[$v]} == fping ]] || set_icmp_mode "$NS" "${modes[$v]%% *}"
    memory_runs=3
    ((QUICK || rounds[v] < runs)) && memory_runs=1
    for ((i = 0; i < memory_runs; i++)); do
      in_memory_cgroup "$id" "${command[@]}"
      check_answer "${programs[$v]}" "$targets" "$answering" "$WORK/$id.out" "${modes[$v]}" || {
        tail -n 5 "$WORK/$id.out" >&2
        die "${programs[$v]} (${modes[$v]}) gave the wrong answer on $case"
      }
    done
    ((rounds[v] > most)) && most=${rounds[v]}
  done

  local round
  for ((round = 1; round <= most; round++)); do
    echo "bench: $case: timed round $round of $most" >&2
    for v in "${!programs[@]}"; do
      ((round <= rounds[v])) || continue
      eval "command=(${commands[$v]})"
      [[ ${programs[$v]} == fping ]] || set_icmp_mode "$NS" "${modes[$v]%% *}"
      time_once "${ids[$v]}" "${command[@]}"
    done
  done

  for v in "${!programs[@]}"; do
    summarize "$case" "$targets" "$answering" "${programs[$v]}" "${modes[$v]}" "$WORK/${ids[$v]}.times" \
      "$(median <"$WORK/${ids[$v]}.memory")"
  done
}

# queue_case CASE PATTERN ANSWERING RUNS [PARTS]: fanecho /queue in datagram
# mode on the targets of PATTERN, more than one run may take; and with
# PARTS, beside it the same targets in that many runs without /queue, one
# after another, each a slice of the pattern's third field (10.N.A-B.C-D),
# and fping, which is not timed: what it says is kept for the report.
queue_case() {
  local case=$1 pattern=$2 answering=$3 runs=$4 parts=${5-}
  local list=$WORK/${case// /_}.list
  expand "$pattern" >"$list"
  local targets
  targets=$(wc -l <"$list")
  local -a programs=(fanecho) modes=() rounds=() commands=()
  modes=("datagram /queue")
  rounds=("$runs")
  commands=("$(printf '%q ' "$FANECHO" /queue /timeout:1 "$pattern")")
  if [[ -n $parts ]]; then
    local -a f
    IFS=. read -r -a f <<<"$pattern"
    local low=${f[2]%-*} high=${f[2]#*-} each script="" part
    each=$(((high - low + parts) / parts))
    for ((part = low; part <= high; part += each)); do
      local last=$((part + each - 1))
      ((last > high)) && last=$high
      script+="$(printf '%q ' "$FANECHO" /timeout:1 "${f[0]}.${f[1]}.$part-$last.${f[3]}");"
    done
    programs+=(fanecho)
    modes+=("datagram $parts runs")
    rounds+=("$runs")
    commands+=("$(printf '%q ' sh -c "$script")")
    echo "bench: $case: fping -i 0 on all $targets" >&2
    in_ns fping -q -c 1 -t 1000 -r 0 -i 0 -f "$list" >"$WORK/${case// /_}.fping" 2>&1 || true
    {
      printf '%s\t' "$case"
      head -n 1 "$WORK/${case// /_}.fping" | tr -d '\t'
    } >>"$WORK/fping-refusals.tsv"
  fi
  measure "$case" "$targets" "$answering" "$runs"
}

# The median of the numbers on standard input, one a line.
median() {
  sort -g | awk '{ t[NR] = $1 } END { if (NR) print NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# summarize CASE TARGETS ANSWERING PROGRAM MODE TIMES MEMORY: adds a line
# to the results from the seconds in the file TIMES.
summarize() {
  sort -g "$6" | awk -v c="$1" -v n="$2" -v a="$3" -v p="$4" -v m="$5" -v r="$7" '
    { t[NR] = $1; sum += $1 }
    END {
      median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      mean = sum / NR
      for (i = 1; i <= NR; i++) dev += (t[i] - mean) ^ 2
      sd = NR > 1 ? sqrt(dev / (NR - 1)) : 0
      printf "%s\t%s\t%s\t%s\t%s\t%.6f\t%.6f\t%.6f\t%.6f\t%s\n", c, n, a, p, m, median, t[1], t[NR], sd, r
    }' >>"$RESULTS"
}

# one_target RUNS TURNS: one loopback target, one request, the commonest
# call from a script: fanecho (datagram), fping -q, ping -c1 and /bin/true
# (what starting any program costs), each RUNS times under hyperfine -N, in
# TURNS rounds that take turns. Each must succeed first.
one_target() {
  local runs=$1 turns=$2
  local -a programs=(fanecho fping ping /bin/true) modes=(datagram -q -c1 -)
  local -a commands=("$FANECHO 127.0.0.1" "fping -q 127.0.0.1" "ping -c1 127.0.0.1" /bin/true)
  local v round
  set_icmp_mode "$NS" datagram
  for v in "${!commands[@]}"; do
    # shellcheck disable=SC2086 # the commands are words
    in_ns ${commands[$v]} >"$WORK/one.out" 2>&1 || {
      cat "$WORK/one.out" >&2
      die "one target: '${commands[$v]}' failed"
    }
    : >"$WORK/one-$v.times"
  done
  for ((round = 1; round <= turns; round++)); do
    echo "bench: one target: round $round of $turns" >&2
    if ! in_ns hyperfine -N --style none --warmup 3 --runs $(((runs + turns - 1) / turns)) \
      --export-json "$WORK/one.json" -- "${commands[@]}" >"$WORK/one.hyperfine" 2>&1; then
      cat "$WORK/one.hyperfine" >&2
      die "hyperfine failed on one target"
    fi
    # Each command's "times": [ ... ] in turn, one number a line.
    awk -v work="$WORK" '
      /"times": \[/ { inside = 1; next }
      inside && /\]/ { inside = 0; v++; next }
      inside { gsub(/[ ,]/, ""); print >>(work "/one-" (v + 0) ".times") }' "$WORK/one.json"
  done
  for v in "${!commands[@]}"; do
    summarize "one target" 1 1 "${programs[$v]}" "${modes[$v]}" "$WORK/one-$v.times" ""
  done
}

# rate_case RUNS: 1000 answering targets under /rate:500 and /rate:5000,
# the rate asked against the requests a second measured (1000 over the
# median wall time, start-up included), as a table of its own for the
# report.
RATE_TABLE=$WORK/rate.md
rate_case() {
  local runs=$1 rate i median
  set_icmp_mode "$NS" datagram
  printf '| /rate: asked | measured, requests/s | median wall time, s |\n|---|---|---|\n' >"$RATE_TABLE"
  for rate in 500 5000; do
    echo "bench: rate: /rate:$rate, $runs runs" >&2
    in_ns "$FANECHO" /rate:$rate 10.1.0-3.1-250 >"$WORK/rate.out" 2>&1
    check_answer fanecho 1000 1 "$WORK/rate.out" || die "rate: /rate:$rate gave a wrong answer"
    : >"$WORK/rate-$rate.times"
    for ((i = 0; i < runs; i++)); do time_once "rate-$rate" "$FANECHO" /rate:$rate 10.1.0-3.1-250; done
    median=$(median <"$WORK/rate-$rate.times")
    awk -v r="$rate" -v m="$median" 'BEGIN { printf "| %d | %.0f | %.3f |\n", r, 1000 / m, m }' >>"$RATE_TABLE"
  done
}

long_runs=$(((RUNS + 1) / 2))
((long_runs < 3)) && long_runs=3
if ((QUICK)); then
  RUNS=3
  one_target 10 2
  bench_case "10 answering" 10.1.0.1-10 1 3 1 0
else
  wanted() { [[ -z $CASES || ",$CASES," == *",$1,"* ]]; }
  if wanted "one target"; then one_target 300 5; fi
  if wanted "100 answering"; then bench_case "100 answering" 10.1.0.1-100 1 "$RUNS" 0 0 1; fi
  if wanted "1000 answering"; then bench_case "1000 answering" 10.1.0-3.1-250 1 "$RUNS" 0 0 1; fi
  if wanted "10000 answering"; then bench_case "10000 answering" 10.1.0-39.1-250 1 "$RUNS" 1 0 1; fi
  # fd00:1::/64 is local on lo in the namespace, as 10.1.0.0/16 is.
  if wanted "10000 answering IPv6"; then bench_case "10000 answering IPv6" fd00:1::1-2710 1 "$RUNS" 0 0; fi
  if wanted "10000 silent"; then bench_case "10000 silent" 10.2.0-39.1-250 0 "$long_runs" 1 0; fi
  # /queue: three times the targets of the 10000 silent case; a /16 of
  # silent ones beside seven runs of 10000 or fewer and fping; a /16 of
  # answering ones.
  if wanted "30000 silent"; then queue_case "30000 silent" 10.2.0-119.1-250 0 "$long_runs"; fi
  if wanted "65536 silent"; then queue_case "65536 silent" 10.2.0-255.0-255 0 3 7; fi
  if wanted "65536 answering"; then queue_case "65536 answering" 10.11.0-255.0-255 1 "$long_runs"; fi
  if wanted "rate"; then rate_case "$long_runs"; fi
  [[ -s $RESULTS || -s $RATE_TABLE ]] || die "no case in '$CASES'"
fi

# ---- report ---------------------------------------------------------------

{
  printf 'case\ttargets\tanswering\tprogram\tmode\tmedian_s\tmin_s\tmax_s\tstddev_s\tpeak_memory_kib\n'
  cat "$RESULTS"
} >"$OUT/results.csv"
# What fping said where it was not timed.
[[ -s $WORK/fping-refusals.tsv ]] && cp "$WORK/fping-refusals.tsv" "$OUT/fping-refusals.tsv"
CPU=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
ABOUT="$(date -u '+%Y-%m-%d %H:%M UTC')|$(nproc) x ${CPU:-unknown CPU}, Linux $(uname -r)"
ABOUT+="|$(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo unknown)"
ABOUT+="|$(fping -v 2>&1 | sed -n 's/.*Version //p' | head -n 1)"
quick=()
((QUICK)) && quick=(--quick)
if [[ -s $RESULTS ]]; then
  "$ROOT/bench/report.sh" "${quick[@]}" --about "$ABOUT" "$OUT/results.csv" "$OUT"
else
  : >"$OUT/results.md"
fi
if [[ -s $RATE_TABLE ]]; then
  printf '\n## /rate: asked and measured\n\n' >>"$OUT/results.md"
  cat "$RATE_TABLE" >>"$OUT/results.md"
fi

echo
cat "$OUT/results.md"
if ((KEEP_OUT)); then
  echo
  echo "bench: written to $OUT"
fi
