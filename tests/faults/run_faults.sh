#!/usr/bin/env bash
# Fault injection: fanecho in the end-to-end world (tests/e2e/netns.sh) with
# packet loss, other programs' echo traffic, few descriptors, far too many
# addresses, hostile include files and signals. Each fault is checked for
# what fanecho did: its lines, its summary and its exit status.
#
#   run_faults.sh --binary PATH [--responder PATH] [--faults LIST]
#                 [--write-doc FILE]
#
#   --faults     fault names (see `faults` below), separated by commas
#   --write-doc  write the reliability table, with this run's figures, to FILE
#
# One line per fault and mode, then "N passed, N failed". Exit status: 0 all
# passed, 1 a fault was mishandled or the world could not be built, 2 bad
# usage, 77 this machine cannot run it (not root, no ip netns, no nft).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage_lines=7,8
progname=run_faults.sh
# shellcheck source=../support/testlib.sh
source "$here/../support/testlib.sh"

binary="" responder="" only="" doc=""
while (($#)); do
  case $1 in
    --binary) binary=${2-}; shift 2 || usage ;;
    --responder) responder=${2-}; shift 2 || usage ;;
    --faults) only=${2-}; shift 2 || usage ;;
    --write-doc) doc=${2-}; shift 2 || usage ;;
    *) usage ;;
  esac
done
[[ -f $binary ]] || { echo "run_faults.sh: no binary at '$binary'" >&2; exit 2; }
binary=$(absolute_path "$binary")
responder=$(find_responder "$binary" "$responder")
[[ -x $responder ]] || { echo "run_faults.sh: no fanecho_responder at '$responder'" >&2; exit 2; }
[[ -z $doc ]] || doc=$(cd "$(dirname "$doc")" && pwd)/$(basename "$doc")

require_netns
command -v nft >/dev/null || skip "nft (package nftables) is not installed"

world=fflt$$
work=$(mktemp -d "${TMPDIR:-/tmp}/fanecho-faults.XXXXXX")
declare -a started=()  # pids of our background processes
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  world_down "$world"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

world_up "$world" --responder "$responder" --seconds 900 || { echo "run_faults.sh: could not build the test namespace"; exit 1; }
cd "$work" || exit 1

# ---------------------------------------------------------------- helpers

# fe ARGUMENTS...: fanecho in the world, through $wrap (words run before it,
# e.g. prlimit); output in $work/out, exit status in $rc. Two minutes at most.
wrap=()
fe() {
  timeout -k 5 120 /usr/bin/time -f "$gnu_time_format" -o "$work/time" \
    ip netns exec "$world" "${wrap[@]}" "$binary" "$@" >"$work/out" 2>"$work/err"
  rc=$?
}
elapsed() { time_field "$work/time" elapsed; }
system_cpu() { time_field "$work/time" system; }
peak_kib() { time_field "$work/time" peak; }

# Waits up to $2 s for pid $1 to end, then kills it; true when it ended.
bounded_wait() {
  local pid=$1 limit=$(($2 * 20)) i state
  for ((i = 0; i < limit; i++)); do
    state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)
    [[ -z $state || $state == Z ]] && return 0
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null
  return 1
}

# Every line fanecho can write; the help text is added from the binary.
readonly known_re='^(.+ (is ok(; (RTT = [0-9.e+]+|min/avg/max RTT = [0-9]+/[0-9.e+]+/[0-9]+) msec)?|could not be reached|replied with invalid data|could not be translated)|illegal IP address|invalid control argument .*; try fanecho /\? for more help|expected all, ok or error|file .* not found|include file .* nested too deep; ignoring it|too many addresses; ignoring .*|machine is (not )?ok|all [0-9]+ machines are ok|none of the [0-9]+ machines are ok|#machines sent / replied / timed-out = [0-9]+ / [0-9]+ / [0-9]+|)$'
ip netns exec "$world" "$binary" '/?' >"$work/help.txt"

# Lines of file $1 that are none of fanecho's; also a last line without end.
unknown_lines() {
  LC_ALL=C grep -avxE "$known_re" "$1" | LC_ALL=C grep -avxF -f "$work/help.txt"
  [[ ! -s $1 || $(tail -c 1 "$1" | od -An -c | tr -d ' ') == '\n' ]] || echo "(no newline at the end)"
}

problems=() figures=""
problem() { problems+=("$*"); }
expect_rc() { ((rc == $1)) || problem "exit status $rc, expected $1"; }
expect_sorted() {  # the output, in any order, is exactly the file $1
  if ! cmp -s <(LC_ALL=C sort "$1") <(LC_ALL=C sort "$work/out"); then
    problem "output differs (- expected, + actual):"
    local line
    while IFS= read -r line; do problem "  $line"; done < <(
      diff <(LC_ALL=C sort "$1") <(LC_ALL=C sort "$work/out") | grep '^[<>]' | head -n 12 |
        sed 's/^</-/; s/^>/+/')
  fi
}

# ---------------------------------------------------------------- faults

declare -A how=(
  [loss]='nftables drops 30% of the echo replies (`numgen random mod 10 < 3 drop`) from 200 responder hosts answering after 200 ms, and every reply from 10 more; a dynamic set records each host one of whose replies got through. `/report:all /verbose /times:5 /timeout:1`'
  [others]='Two fanecho runs and two iputils pings (`-s 100 -i 0.2`) at once against the same 16 responder hosts, `/timeout:2 /times:2`. nftables in the peer drops the first run'"'"'s requests (300 bytes) to 8 of them and the second run'"'"'s (`/size:56`) to the other 8, so a reply counted for the wrong process turns "could not be reached" into "replied with invalid data". The first run holds 31 descriptors per pid of difference open before it starts: raw identifiers made of pid·31 and the descriptor would be the same in both runs'
  [descriptors]='`prlimit --nofile=256:256`, 2000 responder hosts that answer after 1000 ms: 8 times more waiting workers than descriptors'
  [many]='`/report:error /timeout:1 10.1-2.0-199.0-249`: 100000 addresses in one pattern, the first 10000 answered by the kernel on lo; peak RSS from `/usr/bin/time -f %M`, bound 256 MiB'
  [include.random]='An include file of 1 MiB of pseudo-random bytes (NULs, no line structure), after three known lines and before a known last one'
  [include.long_line]='An include file with one line of 10 MiB: 105919 pieces of 99 characters, each `/bad` and blanks, then `10.1.0.9`; a second line `10.1.0.10`'
  [include.vanishing]='The include file is a FIFO whose writer sends two lines, unlinks the FIFO, sends a line and half of the next, waits, sends the rest and stops; the same name is included again afterwards'
  [signal]='3000 silent targets (ifb) and 2000 answering after 1000 ms, `/report:all /verbose /timeout:5`; SIGINT or SIGTERM 1.2 s after the start, while replies arrive'
)

fault_loss() {
  ip netns exec "$world" nft -f - <<'EOF'
table ip fault_loss {
  set answered { type ipv4_addr; flags dynamic; size 1024; }
  chain in {
    type filter hook input priority 0; policy accept;
    ip saddr 10.6.255.201-10.6.255.210 icmp type echo-reply drop
    ip saddr 10.6.255.0/24 icmp type echo-reply numgen random mod 10 < 3 counter drop
    ip saddr 10.6.255.0/24 icmp type echo-reply add @answered { ip saddr } counter
  }
}
EOF
  fe /report:all /verbose /times:5 /timeout:1 10.6.255.1-210
  local counts answered i line dropped through
  counts=$(ip netns exec "$world" nft list chain ip fault_loss in | grep -o 'packets [0-9]*' | cut -d' ' -f2 | tr '\n' ' ')
  ip netns exec "$world" nft list set ip fault_loss answered | grep -oE '10\.6\.255\.[0-9]+' >"$work/answered"
  ip netns exec "$world" nft delete table ip fault_loss
  read -r dropped through <<<"$counts"
  answered=$(wc -l <"$work/answered")
  # Every host with a reply through is ok, every other one unreachable.
  {
    for i in $(seq 210); do
      if grep -qx "10.6.255.$i" "$work/answered"; then
        echo "10.6.255.$i (?) is ok; min/avg/max RTT = N msec"
      else
        echo "10.6.255.$i could not be reached"
      fi
    done
    echo
    summary_for "$answered" 210 | cut -d'|' -f1
  } >"$work/want"
  expect_rc "$(summary_for "$answered" 210 | cut -d'|' -f2)"
  # Round trips count the replies only: none below the delay, none at the
  # time-out.
  local low=99999 high=0 min avg max
  while IFS= read -r line; do
    [[ $line =~ RTT\ =\ ([0-9]+)/([0-9.]+)/([0-9]+)\ msec$ ]] || continue
    min=${BASH_REMATCH[1]} avg=${BASH_REMATCH[2]} max=${BASH_REMATCH[3]}
    awk -v a="$min" -v b="$avg" -v c="$max" 'BEGIN { exit !(190 <= a && a <= b && b <= c && c < 1000) }' ||
      problem "round trips not within 190 <= min <= avg <= max < 1000: $line"
    ((min < low)) && low=$min
    ((max > high)) && high=$max
  done <"$work/out"
  sed -Ei 's#RTT = [0-9]+/[0-9.]+/[0-9]+ msec$#RTT = N msec#' "$work/out"
  expect_sorted "$work/want"
  ((dropped > 0)) || problem "nftables dropped nothing"
  figures="$dropped of $((dropped + through)) replies dropped; $answered of 210 hosts had a reply through and exactly those are ok: \"$(tail -n 1 "$work/out")\", exit $rc; RTT $low-$high ms"
}

fault_others() {
  ip netns exec "${world}p" nft -f - <<'EOF'
table ip fault_others {
  chain in {
    type filter hook input priority 0; policy accept;
    ip daddr 10.6.255.0-10.6.255.127 icmp type echo-request ip length 328 counter drop
    ip daddr 10.6.255.128-10.6.255.255 icmp type echo-request ip length 84 counter drop
  }
}
EOF
  local targets=(/report:all /timeout:2 /times:2 10.6.255.1-8 10.6.255.129-136) pid_a pid_b fifo=$work/pid-b
  rm -f "$fifo" && mkfifo "$fifo"
  # Run A waits for B's pid, then holds descriptors open until its sockets'
  # numbers make up for the difference in pids.
  bash -c 'read -r b <"$1"; n=$(((31 * (b - $$)) % 65536)); ((n >= 0 && n <= 4000)) || n=0
    echo "$n" >"$2"; ulimit -n $((n + 1024)) 2>/dev/null
    for ((fd = 3; fd < 3 + n; fd++)); do [[ -e /proc/self/fd/$fd ]] || eval "exec $fd</dev/null"; done
    shift 2; exec "$@"' _ "$fifo" "$work/aligned" ip netns exec "$world" "$binary" "${targets[@]}" \
    >"$work/out-a" 2>&1 &
  pid_a=$!
  started+=("$pid_a")
  ip netns exec "$world" "$binary" /size:56 "${targets[@]}" >"$work/out-b" 2>&1 &
  pid_b=$!
  started+=("$pid_b")
  echo "$pid_b" >"$fifo"
  local pings=() target pinged=""
  if command -v ping >/dev/null; then
    for target in 10.6.255.1 10.6.255.129; do
      ip netns exec "$world" ping -n -q -s 100 -i 0.2 -c 15 -w 8 "$target" >"$work/ping-$target" 2>&1 &
      pings+=($!)
      started+=($!)
    done
  fi
  bounded_wait "$pid_a" 30 || problem "run A did not end"
  bounded_wait "$pid_b" 30 || problem "run B did not end"
  local status_a status_b
  wait "$pid_a"; status_a=$?
  wait "$pid_b"; status_b=$?
  for target in "${pings[@]}"; do bounded_wait "$target" 15; done
  for target in 10.6.255.1 10.6.255.129; do
    [[ -f $work/ping-$target ]] &&
      pinged+="${pinged:+, }$(grep -oE '[0-9]+ received' "$work/ping-$target" | cut -d' ' -f1)/15"
  done
  ip netns exec "${world}p" nft delete table ip fault_others
  local run status quiet answering i
  figures=""
  for run in a b; do
    if [[ $run == a ]]; then status=$status_a quiet=1 answering=129; else status=$status_b quiet=129 answering=1; fi
    {
      for i in $(seq 0 7); do
        echo "10.6.255.$((quiet + i)) could not be reached"
        echo "10.6.255.$((answering + i)) is ok"
      done
      printf '\n#machines sent / replied / timed-out = 16 / 8 / 8\n'
    } >"$work/want"
    cp "$work/out-$run" "$work/out"
    rc=$status
    expect_rc 1
    expect_sorted "$work/want"
    figures+="run ${run^^}: $(grep -c ' is ok$' "$work/out") ok, $(grep -c ' could not be reached$' "$work/out") could not be reached, $(grep -c ' replied with invalid data$' "$work/out") replied with invalid data, exit $rc; "
  done
  figures=${figures%; }
  [[ -n $pinged ]] && figures+="; the pings got $pinged replies" || figures+="; no ping installed, pings left out"
  [[ $(cat "$work/aligned" 2>/dev/null) =~ ^[1-9] ]] && figures+="; run A held $(cat "$work/aligned") descriptors"
}

fault_descriptors() {
  wrap=(prlimit --nofile=256:256)
  fe /report:error 10.6.0-7.0-249
  wrap=()
  printf '\nall 2000 machines are ok\n' >"$work/want"
  expect_rc 0
  expect_sorted "$work/want"
  figures="$(tail -n 1 "$work/out"), exit $rc, in $(elapsed) s ($(system_cpu) s of system CPU)"
}

fault_many() {
  fe /report:error /timeout:1 10.1-2.0-199.0-249
  # In order: the main thread writes every refusal before any summary.
  awk 'BEGIN { for (a = 1; a <= 2; a++) for (b = 0; b < 200; b++) for (c = 0; c < 250; c++)
                 if (++n > 10000) printf "too many addresses; ignoring 10.%d.%d.%d\n", a, b, c
               printf "\nall 10000 machines are ok\n" }' >"$work/want"
  expect_rc 0
  cmp -s "$work/want" "$work/out" ||
    problem "output differs from 90000 refusals in order and the summary: $(diff "$work/want" "$work/out" | head -n 4 | tr '\n' ' ')"
  local kib
  kib=$(peak_kib)
  ((kib <= 256 * 1024)) || problem "peak RSS $kib KiB, more than 256 MiB"
  figures="$(grep -c '^too many addresses' "$work/out") refusal lines, $(tail -n 1 "$work/out"), exit $rc; peak RSS $((kib / 1024)) MiB, $(elapsed) s"
}

fault_include.random() {
  {
    printf '/report:all\n/timeout:1\n10.1.0.77\n'
    LC_ALL=C awk 'BEGIN { srand(20240607); for (i = 0; i < 1048576; i++) printf "%c", int(rand() * 256) }'
    printf '\n/end-of-random-bytes\n'
  } >random.txt
  fe /include:random.txt
  ((rc <= 2 || rc == 255)) || problem "exit status $rc"
  grep -qx '10.1.0.77 is ok' "$work/out" || problem "the target before the random bytes was not probed"
  grep -qx 'invalid control argument /end-of-random-bytes; try fanecho /? for more help' "$work/out" ||
    problem "the line after the random bytes was not dispatched"
  local unknown
  unknown=$(unknown_lines "$work/out")
  [[ -z $unknown ]] || problem "lines of no known form: $(head -n 3 <<<"$unknown" | cat -v)"
  figures="exit $rc; $(wc -l <"$work/out") lines, summary \"$(tail -n 1 "$work/out" | cat -v)\"; the lines before and after the bytes were dispatched"
}

fault_include.long_line() {
  {
    echo /report:ok
    awk 'BEGIN { piece = sprintf("%-99s", "/bad"); for (i = 0; i < 105919; i++) printf "%s", piece
                 print "10.1.0.9"; print "10.1.0.10" }'
  } >long.txt
  fe /include:long.txt
  {
    yes 'invalid control argument /bad; try fanecho /? for more help' | head -n 105919
    printf '10.1.0.9 is ok\n10.1.0.10 is ok\n\nall 2 machines are ok\n'
  } >"$work/want"
  expect_rc 0
  expect_sorted "$work/want"
  figures="$(grep -c '^invalid control argument /bad;' "$work/out") pieces dispatched as /bad, then both targets ok, exit $rc, $(elapsed) s"
}

fault_include.vanishing() {
  rm -f vanish.fifo && mkfifo vanish.fifo
  (
    printf '/report:all\n10.1.0.20\n'
    sleep 0.3
    rm -f vanish.fifo
    printf '10.1.0.21\n10.1.0.2'
    sleep 0.3
    printf '2'
  ) >vanish.fifo &
  started+=($!)
  fe /include:vanish.fifo /include:vanish.fifo
  printf '%s\n' 'file vanish.fifo not found' '10.1.0.20 is ok' '10.1.0.21 is ok' '10.1.0.22 is ok' '' \
    'all 3 machines are ok' >"$work/want"
  expect_rc 0
  expect_sorted "$work/want"
  figures="every line the writer sent was dispatched (3 targets ok), the name then not found, exit $rc"
}

fault_signal() {
  local signal=$1 pid start sent status
  start=$(now_ms)
  # A shell starts background commands with SIGINT ignored; env undoes that.
  ip netns exec "$world" env --default-signal=INT,TERM "$binary" /report:all /verbose /timeout:5 \
    10.2.0-11.0-249 10.6.0-7.0-249 >"$work/out" 2>"$work/err" &
  pid=$!
  started+=("$pid")
  sleep 1.2
  kill "-$signal" "$pid"
  sent=$(now_ms)
  bounded_wait "$pid" 10 || problem "still running 10 s after SIG$signal"
  local took=$(($(now_ms) - sent))
  wait "$pid"
  status=$?
  ((took <= 2000)) || problem "ended $took ms after SIG$signal; the time-out is 5000 ms"
  local unknown
  unknown=$(unknown_lines "$work/out")
  [[ -z $unknown ]] || problem "torn or unknown lines: $(head -n 3 <<<"$unknown" | cat -v)"
  figures="SIG$signal $((sent - start)) ms after the start: ended $took ms later, status $status, $(wc -l <"$work/out") whole lines and no other"
}

# ---------------------------------------------------------------- running

# fault  modes (one line each)  extra argument
faults=(
  "loss datagram raw"
  "others datagram raw"
  "descriptors datagram raw"
  "many datagram raw"
  "include.random raw"
  "include.long_line raw"
  "include.vanishing raw"
  "signal datagram:INT datagram:TERM raw:INT raw:TERM"
)

declare -A did=() verdict=()
suite_start=$(now_ms)
echo "fanecho faults: binary $binary"
for entry in "${faults[@]}"; do
  read -r fault modes <<<"$entry"
  if [[ -n $only && ",$only," != *",$fault,"* && ",$only," != *",${fault%%.*},"* ]]; then continue; fi
  for mode in $modes; do
    problems=() figures=""
    set_icmp_mode "$world" "${mode%%:*}"
    start=$(now_ms)
    if [[ $mode == *:* ]]; then "fault_$fault" "${mode#*:}"; else "fault_$fault"; fi
    took=$((($(now_ms) - start) / 100))
    name="$fault (${mode%%:*})"
    did[$fault]+="${did[$fault]:+<br>}${modes:+${mode%%:*}: }$figures"
    ((${#problems[@]} == 0)) || verdict[$fault]="FAILED: "
    result "$name $((took / 10)).$((took % 10)) s: $figures" "${problems[@]}"
  done
done
seconds=$((($(now_ms) - suite_start) / 1000))
echo "fanecho faults: took $seconds s"

if [[ -n $doc ]]; then
  row() { printf '| %s | %s | %s |\n' "$1" "$2" "$3"; }
  {
    cat <<EOF
# Reliability

What fanecho was put through, how, and what it did. The fault rows come from
one run of \`tests/faults/run_faults.sh --binary build/default/fanecho --write-doc docs/RELIABILITY.md\`
(as root; it builds its own network world with \`tests/e2e/netns.sh\`, $seconds s);
\`ctest -R faults\` runs the same checks. Where a fault is already one of the
end-to-end or unit cases, the row names the case instead.

| fault | how it is tried | what fanecho did |
|---|---|---|
EOF
    row "30% packet loss" "${how[loss]}" "${verdict[loss]:-}${did[loss]:-not run}"
    row "late replies, duplicates, reordering" "Responder hosts: late:1500 with \`/timeout:1\`, also while a second request waits; duplicate with \`/times:3\`. A target has one request out at a time, so a reordered reply is either a late one or a duplicate" "Never counted: e2e cases \`responder.late\`, \`responder.late_for_next\`, \`responder.duplicate\`, \`responder.foreign_first\`, \`responder.wrong_reply\`"
    row "replies for another process" "${how[others]}" "${verdict[others]:-}${did[others]:-not run}"
    row "corrupt and truncated replies" "Responder hosts flip bytes, cut the data, pad it, spoil the checksum, answer from the wrong address" "\"replied with invalid data\" or (checksum, impostor) ignored: e2e cases \`responder.invalid\`, \`responder.invalid_verbose\`, \`options.size_one\`, \`responder.bad_checksum\`, \`responder.impostor\`, \`responder.long_replies\`"
    row "forged replies and errors" "A responder host that sees one request forges 1089 replies \"from\" a silent target and 1089 host unreachable errors about a live one, with every identifier and sequence number within 16 of the request's; another answers first with an error quoting the request as sent to another host" "Never counted: e2e cases \`responder.forged_replies\`, \`responder.forged_errors\`, \`ipv6.forged_replies\`, \`ipv6.forged_errors\`, \`responder.misquoted_error\`, \`ipv6.misquoted_error\`"
    row "descriptors limited" "${how[descriptors]}" "${verdict[descriptors]:-}${did[descriptors]:-not run}"
    row "thread starts refused" "The fake platform refuses thread starts (unit tests)" "Started again once the others ended, or counted failed; the wait ends only then: \`unit.Run.AThreadThatCannotStartIsStartedAgainAfterTheOthers\`, \`unit.Run.ATargetWhoseThreadNeverStartsIsCountedFailed\`, \`unit.Run.AFailedWaitSleepsOnceAndStopsWaiting\`"
    row "100000 addresses in one pattern" "${how[many]}" "${verdict[many]:-}${did[many]:-not run}"
    row "include file: 1 MiB of random bytes" "${how[include.random]}" "${verdict[include.random]:-}${did[include.random]:-not run}"
    row "include file: a 10 MiB line" "${how[include.long_line]}" "${verdict[include.long_line]:-}${did[include.long_line]:-not run}"
    row "include file: eleven-deep self inclusion" "A file that includes itself" "Eleven levels read, the twelfth refused with one line: e2e case \`include.self\`"
    row "include file vanishes while read" "${how[include.vanishing]}" "${verdict[include.vanishing]:-}${did[include.vanishing]:-not run}"
    row "SIGINT and SIGTERM while thousands wait" "${how[signal]}" "${verdict[signal]:-}${did[signal]:-not run}"
    row "memory errors, undefined behaviour" "\`ctest --preset asan\`: the unit, stress and end-to-end suites built with AddressSanitizer and UndefinedBehaviorSanitizer" "Clean"
    row "data races" "\`ctest --preset tsan\`: the same suites under ThreadSanitizer (the e2e run without its 10000-worker case, beyond TSan's thread limit), with a stress case of 2051 real workers while control arguments change the settings" "Clean"
    row "fuzzing" "libFuzzer targets octet_set, pattern, control and include (\`ctest --preset fuzz\`: 20 s each; \`scripts/fuzz-long.sh\` for long runs), seed corpus in \`fuzz/\`" "No findings so far"
    cat <<'EOF'

## Found by these faults, and fixed

- **Another fanecho's replies counted as ours (raw sockets).** A raw socket's
  identifier was pid·31 plus its descriptor number, and every process
  numbered its requests from 1. A run whose descriptors were 31 per pid of
  difference higher than another run's had the same identifiers and sequence
  numbers: in the `others` fault, run A reported hosts that never answered it
  as "replied with invalid data", having taken run B's 56-byte replies. Now
  both start at random (`src/platform/linux/icmp_linux.cpp`).
- **Waiting for a descriptor burnt the CPU.** A worker that found no
  descriptor free slept 5 ms and tried again; with 2000 slow targets and 256
  descriptors about 1750 workers did so, 15-31 s of system CPU in runs of
  11-23 s, and the responder on the same machine answered so late that in
  four runs of five 128 to 558 of the 2000 targets came out "could not be
  reached". Now a worker sleeps until one of fanecho's sockets closes (at
  most 100 ms): 1.2-1.6 s of system CPU, 9 s, all 2000 ok.
EOF
  } >"$doc"
  echo "fanecho faults: wrote $doc"
fi
finish
