#!/usr/bin/env bash
# fanecho's end-to-end cases: the built binary probes a throwaway network
# world (see netns.sh) and its lines, summary and exit status are checked.
#
#   run_e2e.sh --mode datagram|raw --binary PATH [--responder PATH]
#              [--runner "CMD"] [--cases LIST] [--list]
#
#   --mode       datagram: net.ipv4.ping_group_range in the namespace lets
#                everyone open ICMP datagram sockets. raw: the range stays
#                "1 0", so fanecho (run as root) falls back to raw sockets.
#                The mode sets that sysctl and nothing else.
#   --binary     the fanecho to test.
#   --responder  the built fanecho_responder (default: next to the binary
#                or in tests/e2e below it, as CMake puts it).
#   --runner     a command the binary is run through, e.g. "wine" for
#                fanecho.exe; carriage returns in its output are dropped.
#   --cases      case names or groups (the part before the dot), separated
#                by commas; "-NAME" leaves a case or group out.
#   --list       print the case names and stop.
#
# Result lines come in completion order, so they are compared as a sorted
# set; the summary line and the exit status must match exactly. Round-trip
# times are checked for their form (and range where a case asks) and then
# written as N. Exit status: 0 all passed, 1 a case failed or the world
# could not be built, 2 bad usage, 77 this machine cannot run the suite.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage_lines=5,6
progname=run_e2e.sh
# shellcheck source=../support/testlib.sh
source "$here/../support/testlib.sh"

mode="" binary="" responder="" runner="" cases="" list_only=0
while (($#)); do
  case $1 in
    --mode) mode=${2-}; shift 2 || usage ;;
    --binary) binary=${2-}; shift 2 || usage ;;
    --responder) responder=${2-}; shift 2 || usage ;;
    --runner) runner=${2-}; shift 2 || usage ;;
    --cases) cases=${2-}; shift 2 || usage ;;
    --list) list_only=1; shift ;;
    *) usage ;;
  esac
done
[[ $mode == datagram || $mode == raw ]] || usage
read -ra runner_words <<<"$runner"

if ((!list_only)); then
  [[ -f $binary ]] || { echo "run_e2e.sh: no binary at '$binary'" >&2; exit 2; }
  binary=$(absolute_path "$binary")
  responder=$(find_responder "$binary" "$responder")
  [[ -x $responder ]] || { echo "run_e2e.sh: no fanecho_responder at '$responder'" >&2; exit 2; }
  require_netns
fi

world=fe2e$$
work=""
cleanup() {
  [[ -n $work ]] || return 0
  world_down "$world"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------- checking

declare -A item_used=()

selected() {
  local name=$1 group=${1%%.*} item included=0 any_include=0
  [[ -z $cases ]] && return 0
  local items
  IFS=', ' read -ra items <<<"$cases"
  for item in "${items[@]}"; do
    if [[ $item == -* ]]; then
      [[ ${item#-} == "$name" || ${item#-} == "$group" ]] && return 1
    else
      any_include=1
      if [[ $item == "$name" || $item == "$group" ]]; then
        included=1
        item_used[$item]=1
      fi
    fi
  done
  ((!any_include || included))
}

readonly json_summary_re='^\{"type":"summary",.*"exit_status":([0-9]+)\}$'

# Exit status the summary line (or /json's summary object) stands for; 255
# when there is none.
status_for() {
  local last second
  last=$(tail -n 1 "$1")
  second=$(tail -n 2 "$1" | head -n 1)
  if [[ $last =~ $json_summary_re ]]; then
    echo "${BASH_REMATCH[1]}"
  elif (($(wc -l <"$1") < 2)) || [[ -n $second || ! $last =~ $summary_re ]]; then
    echo 255
  elif [[ $last == "machine is ok" || $last == all* ]]; then
    echo 0
  elif [[ $last == "machine is not ok" || $last == none* ]]; then
    echo 2
  else
    echo 1
  fi
}

# Result lines sorted, then the summary as written; in file order for
# --ordered cases.
canonical() {
  local file=$1 ordered=$2
  if ((ordered)); then
    cat "$file"
  elif [[ $(tail -n 1 "$file") =~ $json_summary_re ]]; then
    head -n -1 "$file" | LC_ALL=C sort
    echo "--- summary"
    tail -n 1 "$file"
  elif [[ $(status_for "$file") != 255 ]]; then
    head -n -2 "$file" | LC_ALL=C sort
    echo "--- summary"
    tail -n 2 "$file"
  else
    LC_ALL=C sort "$file"
  fi
}

# Checks the 19 help lines from line $2 on; prints what is wrong.
check_help() {
  local file=$1 at=$2 i
  local -a lines
  mapfile -t lines < <(tail -n "+$at" "$file" | head -n 19)
  local -a fixed=(
    [2]="usage: fanecho {ctrl-args} {IP-address | hostname}"
    [3]="where ctrl-args may be any combination of the following:"
    [4]="  /report:all     - to show successes & failures"
    [5]="  /report:ok      - show successes only"
    [6]="  /report:error   - show failures only"
    [7]="  /timeout:<secs> - set timeout value (default is 5 seconds)"
    [8]="  /size:<bytes>   - set buffer size of ping message (max 300)"
    [9]="  /verbose        - show detailed info (alt address, round trip time)"
    [10]="  /times:<number> - specify number of messages to be sent"
    [11]="  /include:<file> - name of file with more arguments"
    [12]="IP-address is of the form"
    [13]='  numseq"."numseq"."numseq"."numseq'
    [14]='  numseq = num ["-" num] ["," numseq]'
    [15]="  num = a decimal number between 0 and 255"
    [16]=""
    [18]=""
  )
  if ((${#lines[@]} < 19)); then
    echo "help has ${#lines[@]} lines, not 19"
    return
  fi
  local title=${lines[0]}
  if ((${#title} != 68)) || [[ $title != fanecho* || $title != *"   Version "* ]]; then
    echo "help line 1 is not the 68-character title: '$title'"
  fi
  for i in "${!fixed[@]}"; do
    [[ ${lines[i - 1]} == "${fixed[i]}" ]] || echo "help line $i is '${lines[i - 1]}'"
  done
  [[ ${lines[16]} =~ ^e\.g\.\ fanecho\ /report:ok\ 193\.124\.242-245\.7,8,9,10\ [^[:space:]]+$ ]] ||
    echo "help line 17 is '${lines[16]}'"
  [[ -n ${lines[18]} ]] || echo "help line 19 is empty"
}

# Checks every round-trip figure: its form, min <= avg <= max, and the
# range MIN-MAX when given.
check_rtts() {
  local file=$1 range=$2 line figures low=0 high=999999 min avg max value
  [[ -n $range ]] && { low=${range%-*}; high=${range#*-}; }
  while IFS= read -r line; do
    figures=""
    if [[ $line =~ \;\ RTT\ =\ ([0-9]+(\.[0-9]+)?)\ msec$ ]]; then
      figures=${BASH_REMATCH[1]}
    elif [[ $line =~ \;\ min/avg/max\ RTT\ =\ ([0-9]+)/([0-9]+(\.[0-9]+)?)/([0-9]+)\ msec$ ]]; then
      min=${BASH_REMATCH[1]} avg=${BASH_REMATCH[2]} max=${BASH_REMATCH[4]}
      figures="$min $avg $max"
      awk -v a="$min" -v b="$avg" -v c="$max" 'BEGIN { exit !(a <= b && b <= c) }' ||
        echo "min/avg/max out of order: $line"
    elif [[ $line == *RTT* ]]; then
      echo "round-trip figures of unexpected form: $line"
    fi
    for value in $figures; do
      awk -v v="$value" -v l="$low" -v h="$high" 'BEGIN { exit !(v >= l && v <= h) }' ||
        echo "round trip $value ms outside $low-$high: $line"
    done
  done <"$file"
}

# Lines that are not one JSON object each, if any.
check_json() {
  python3 -c '
import json, sys
for number, line in enumerate(sys.stdin.buffer.read().split(b"\n")[:-1], 1):
    try:
        if not isinstance(json.loads(line.decode("utf-8")), dict):
            raise ValueError("not an object")
    except ValueError as error:
        print(f"line {number} is not a JSON object ({error}): {line!r}")
' <"$1" 2>&1
}

normalise() {
  sed -E -e 's/; RTT = [0-9]+(\.[0-9]+)? msec$/; RTT = N msec/' \
    -e 's/"rtt_(min|avg|max)_ms":[0-9]+\.[0-9]{3}([,}])/"rtt_\1_ms":N\2/g' \
    -e 's#; min/avg/max RTT = [0-9]+/[0-9]+(\.[0-9]+)?/[0-9]+ msec$#; min/avg/max RTT = N/N/N msec#' \
    -e 's/^(fanecho: no permission to send ICMP echo requests).*/\1 .../'
}

# What a terminal shows at the end of the text it was sent: a carriage
# return goes back to the start of the row, later text overwrites earlier,
# blanks at the end of a row do not show. wine's console draws with the
# escape sequences handled here. The rows as they stood before each
# carriage return, line end or erase go to the file $1.
render_screen() {
  python3 -c '
import re, sys
data = sys.stdin.buffer.read().decode("utf-8", "replace")
rows, row, column, seen = [[]], 0, 0, []
def note():
    seen.append("".join(rows[row]).rstrip(" "))
def put(char):
    global column
    line = rows[row]
    line.extend(" " * (column + 1 - len(line)))
    line[column] = char
    column += 1
position = 0
while position < len(data):
    char = data[position]
    position += 1
    if char == "\r":
        note()
        column = 0
    elif char == "\n":
        note()
        row += 1
        column = 0
        if row == len(rows):
            rows.append([])
    elif char == "\b":
        column = max(column - 1, 0)
    elif char == "\x1b":
        control = re.compile(r"\[([0-9;?]*)([@-~])|\][^\x07\x1b]*(\x07|\x1b\\)|.").match(data, position)
        position = control.end()
        if control.group(2) is None:
            continue
        numbers = [int(n) for n in control.group(1).lstrip("?").split(";") if n]
        count = numbers[0] if numbers else 0
        final = control.group(2)
        if final == "K":
            note()
            line = rows[row]
            if count == 0:
                del line[column:]
            elif count == 1:
                line[:column + 1] = " " * min(column + 1, len(line))
            else:
                line.clear()
        elif final == "C":
            column += max(count, 1)
        elif final == "D":
            column = max(column - max(count, 1), 0)
        elif final == "G":
            column = max(count - 1, 0)
    elif char >= " ":
        put(char)
note()
lines = ["".join(line).rstrip(" ") for line in rows]
if lines[-1] == "":
    lines.pop()
sys.stdout.write("".join(line + "\n" for line in lines))
with open(sys.argv[1], "w") as drawn:
    drawn.write("".join(line + "\n" for line in seen))
' "$1"
}

# Runs fanecho in the world; the output lands in $work/out, CRs removed
# (under --tty: the screen as the terminal shows it at the end).
run_fanecho() {
  local as_nobody=$1 nofile=$2 nproc=$3 inherit=$4
  shift 4
  local -a command=(ip netns exec "$world")
  local program=$binary
  if ((as_nobody)); then
    command+=(setpriv --reuid=65534 --regid=65534 --clear-groups env "${nobody_env[@]}")
    program=$work/bin/$(basename "$binary")
  fi
  [[ -n $nofile ]] && command+=(prlimit "--nofile=$nofile:$nofile")
  [[ -n $nproc ]] && command+=(prlimit "--nproc=$nproc:$nproc")
  if [[ -n $inherit ]]; then
    # shellcheck disable=SC2016
    command+=(bash -c 'for ((fd = 3; fd < 3 + $1; fd++)); do eval "exec $fd</dev/null"; done
      shift; exec "$@"' inherit "$inherit")
  fi
  command+=("${runner_words[@]}" "$program" "$@")
  if [[ -n ${tty_re-} ]]; then
    # Standard output and error share a pseudo-terminal; script(1) passes
    # on what the program writes to it.
    (cd "$work" && script -qec "$(printf '%q ' "${command[@]}")" /dev/null) \
      </dev/null >"$work/raw-out" 2>"$work/err"
  elif [[ ${stdout_to-} == closed ]]; then
    (cd "$work" && "${command[@]}" >&-) 2>"$work/err"
  elif [[ -n ${stdout_to-} ]]; then
    (cd "$work" && "${command[@]}") >"$stdout_to" 2>"$work/err"
  else
    (cd "$work" && "${command[@]}") >"$work/raw-out" 2>"$work/err"
  fi
  local status=$?
  [[ -z ${stdout_to-} ]] || : >"$work/raw-out"
  if [[ -n ${tty_re-} ]]; then
    render_screen "$work/drawn" <"$work/raw-out" >"$work/out"
  else
    sed 's/\r$//' "$work/raw-out" >"$work/out"
  fi
  return $status
}

# t NAME [options] -- ARGUMENTS... <EXPECTED
# EXPECTED is the whole output, result lines in any order. Options:
#   --rc N        exit status, if not the one the summary line stands for
#   --nobody      run as user and group 65534 with no other groups
#   --range "A B" net.ipv4.ping_group_range for this case
#   --only MODE   run in this mode only
#   --within S    seconds the run may take (beyond a bare start-up)
#   --at-least MS milliseconds the run must take at least
#   --json        every line must be one JSON object
#   --rtt MIN-MAX range of every round-trip figure, in ms
#   --nofile N    limit on open files
#   --inherit N   N descriptors more than the standard three open when
#                 fanecho starts, as a parent may leave them
#   --nproc N     limit on processes (threads count) of the user it runs as
#   --native      skip the case under --runner
#   --help-at L   the help starts at line L; EXPECTED shows it as <help>
#   --ordered     compare the output in order
#   --match       EXPECTED lines are extended regular expressions
#   --stderr RE   standard error is one line that matches RE (else it
#                 is not checked)
#   --stdout FILE standard output goes to FILE (e.g. /dev/full); "closed" closes it
#   --tty RE      standard output and error share a pseudo-terminal; the
#                 output compared is what it shows at the end, and a line
#                 drawn after a carriage return must match RE somewhere
#   --no-stderr   nothing is written to standard error
#   --resolv TEXT the namespace's resolv.conf for this case
#   --needs PROG  skip the case where PROG is not installed
#   --before CMD  run CMD before the case
#   --after CMD   run CMD after the case, whatever its outcome
t() {
  local name=$1
  shift
  local rc="" as_nobody=0 range="" only="" within="" rtt="" nofile="" nproc="" help_at="" ordered=0
  local at_least="" json=0 inherit="" native=0
  local match=0 stderr_re="" stdout_to="" resolv="" needs="" before="" after="" tty_re="" no_stderr=0
  while [[ $1 != -- ]]; do
    case $1 in
      --match) match=1; shift ;;
      --stderr) stderr_re=$2; shift 2 ;;
      --stdout) stdout_to=$2; shift 2 ;;
      --tty) tty_re=$2; needs=script; shift 2 ;;
      --no-stderr) no_stderr=1; shift ;;
      --resolv) resolv=$2; shift 2 ;;
      --needs) needs=$2; shift 2 ;;
      --before) before=$2; shift 2 ;;
      --after) after=$2; shift 2 ;;
      --rc) rc=$2; shift 2 ;;
      --nobody) as_nobody=1; shift ;;
      --range) range=$2; shift 2 ;;
      --only) only=$2; shift 2 ;;
      --within) within=$2; shift 2 ;;
      --at-least) at_least=$2; shift 2 ;;
      --json) json=1; shift ;;
      --rtt) rtt=$2; shift 2 ;;
      --nofile) nofile=$2; shift 2 ;;
      --inherit) inherit=$2; shift 2 ;;
      --nproc) nproc=$2; shift 2 ;;
      --native) native=1; shift ;;
      --help-at) help_at=$2; shift 2 ;;
      --ordered) ordered=1; shift ;;
      *) echo "case $name: unknown option $1" >&2; exit 2 ;;
    esac
  done
  shift
  if ! selected "$name"; then cat >/dev/null; return; fi
  if ((list_only)); then cat >/dev/null; echo "$name"; return; fi
  if [[ -n $only && $only != "$mode" ]]; then
    cat >/dev/null
    echo "skip  $name ($only mode only)"
    return
  fi
  if ((native)) && [[ -n $runner ]]; then
    cat >/dev/null
    echo "skip  $name (not under a runner)"
    return
  fi
  if [[ -n $needs ]] && ! command -v "$needs" >/dev/null; then
    cat >/dev/null
    echo "skip  $name ($needs is not installed)"
    return
  fi
  cat >"$work/expected"
  [[ -n $rc ]] || rc=$(status_for "$work/expected")

  [[ -n $range ]] && set_ping_range "$world" "$range"
  local resolv_file=/etc/netns/$world/resolv.conf
  if [[ -n $resolv ]]; then
    cp "$resolv_file" "$work/resolv.saved"
    printf '%s\n' "$resolv" >"$resolv_file"
  fi
  [[ -n $before ]] && eval "$before"
  local start status elapsed
  start=$(now_ms)
  run_fanecho "$as_nobody" "$nofile" "$nproc" "$inherit" "$@"
  status=$?
  elapsed=$(($(now_ms) - start))
  [[ -n $range ]] && set_icmp_mode "$world" "$mode"
  [[ -n $resolv ]] && cp "$work/resolv.saved" "$resolv_file"
  [[ -n $after ]] && eval "$after"

  local -a problems=()
  ((status == rc)) || problems+=("exit status $status, expected $rc")
  if [[ -n $within ]] && ((elapsed > within * 1000 + startup_ms)); then
    problems+=("took ${elapsed} ms, allowed $((within * 1000 + startup_ms)) ms")
  fi
  if [[ -n $at_least ]] && ((elapsed < at_least)); then
    problems+=("took ${elapsed} ms, less than $at_least ms")
  fi
  local output=$work/out
  if ((json)); then
    while IFS= read -r problem; do problems+=("$problem"); done < <(check_json "$output")
  fi
  if [[ -n $help_at ]]; then
    local problem
    while IFS= read -r problem; do problems+=("$problem"); done < <(check_help "$output" "$help_at")
    awk -v at="$help_at" 'NR == at { print "<help>" } NR < at || NR >= at + 19' "$output" >"$work/out-help"
    output=$work/out-help
  fi
  while IFS= read -r problem; do problems+=("$problem"); done < <(check_rtts "$output" "$rtt")
  normalise <"$output" >"$work/out-normal"
  canonical "$work/expected" "$ordered" >"$work/want"
  canonical "$work/out-normal" "$ordered" >"$work/got"
  if [[ -n $stderr_re ]] && { (($(wc -l <"$work/err") != 1)) || ! grep -qE -- "$stderr_re" "$work/err"; }; then
    problems+=("standard error is not one line matching '$stderr_re'")
  fi
  if ((no_stderr)) && [[ -s $work/err ]]; then
    problems+=("standard error is not empty")
  fi
  if [[ -n $tty_re ]] && ! grep -qE -- "^($tty_re)" "$work/drawn"; then
    problems+=("no line drawn on the terminal matches '$tty_re'")
  fi
  if ((match)) && matches "$work/want" "$work/got"; then
    :
  elif ! cmp -s "$work/want" "$work/got"; then
    problems+=("output differs (- expected, + actual):")
    problems+=("$(diff -U 3 "$work/want" "$work/got" | tail -n +3 | head -n 40 | sed 's/^/      /')")
  fi

  if ((${#problems[@]})); then
    problems=("fanecho $*" "${problems[@]}")
    if [[ -s $work/err ]]; then
      problems+=("standard error:")
      while IFS= read -r problem; do problems+=("  $problem"); done < <(head -n 5 "$work/err")
    fi
  fi
  result "$name ($(seconds_of "$elapsed") s)" "${problems[@]}"
}

# True when every line of $2 matches the expression on the same line of $1.
matches() {
  local -a want got
  local i
  mapfile -t want <"$1"
  mapfile -t got <"$2"
  ((${#want[@]} == ${#got[@]})) || return 1
  for i in "${!want[@]}"; do [[ ${got[i]} =~ ^${want[i]}$ ]] || return 1; done
}

# Expected result lines for a run of addresses: lines PREFIX FIRST LAST TEXT
lines() {
  local i
  for ((i = $2; i <= $3; i++)); do echo "$1.$i$4"; done
}

# ---------------------------------------------------------------- the world

if ((!list_only)); then
  work=$(mktemp -d "${TMPDIR:-/tmp}/fanecho-e2e-work.XXXXXX")
  chmod 755 "$work"
  mkdir "$work/bin"
  # A copy that user 65534 may run, wherever the build lives (a checkout
  # under /root is closed to others), and copies of the files that sanitizer
  # options name (suppressions=PATH), which that user must read too.
  install -m 755 "$binary" "$work/bin/"
  nobody_env=()
  for var in TSAN_OPTIONS ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    value=${!var-}
    if [[ $value =~ (^|[ :,])suppressions=([^ :,]+) && -f ${BASH_REMATCH[2]} ]]; then
      install -m 644 "${BASH_REMATCH[2]}" "$work/bin/$var.supp"
      value=${value/"suppressions=${BASH_REMATCH[2]}"/suppressions=$work/bin/$var.supp}
    fi
    [[ -z $value ]] || nobody_env+=("$var=$value")
  done
  if ! world_up "$world" --responder "$responder" --seconds 600; then
    echo "run_e2e.sh: could not build the test namespace"
    exit 1
  fi
  set_icmp_mode "$world" "$mode"
  # Include files, named relative to the working directory.
  printf '# targets and options from a file\n/report:all\n\n   10.1.0.1\t\nanswer-one\n' >"$work/targets.txt"
  printf '/include:inner.txt\n10.1.0.2\n' >"$work/outer.txt"
  printf '/report:all\n/timeout:1\n10.2.0.1\n' >"$work/inner.txt"
  printf '/report:all\r\n10.1.0.3\r\n  # a note\r\nanswer-two\r\n' >"$work/crlf.txt"
  printf '/include:self.txt\n10.1.0.4\n' >"$work/self.txt"
  printf 'answer-one # a remark\n/report:all /verbose\n10.1.0.5' >"$work/whole-lines.txt"
  # 99 characters of comment, then the rest of the line as a piece of its own.
  printf '#%s10.1.0.6\n' "$(printf 'x%.0s' $(seq 98))" >"$work/long-line.txt"
  # A surrogate and an overlong form, neither of them UTF-8, on the second line.
  printf 'a"b\\c\td\001\037\177\377\303 \303\251\n\355\240\200\300\257\n' >"$work/odd-names.txt"
  printf '10.1.0.1\nanswer-one\n' >"$work/two-targets.txt"
  # A line that would retitle the terminal, and an argument that would clear it.
  printf 'bad\033]0;x\007name\n/bad\033[2J\n' >"$work/steering.txt"
  for ((i = 0; i < 2000; i++)); do echo "host-$i.fanecho.test"; done >"$work/dns-names.txt"

  # What a bare start costs (wine takes a while): added to every time limit.
  startup_ms=0
  for _ in 1 2; do
    start=$(now_ms)
    run_fanecho 0 "" "" ""
    elapsed=$(($(now_ms) - start))
    ((elapsed > startup_ms)) && startup_ms=$elapsed
  done
  echo "fanecho e2e: $mode mode, binary $binary${runner:+, runner $runner}"
fi
suite_start=$(now_ms)

# ---------------------------------------------------------------- cases

# Summary forms and exit statuses.
t summary.one_ok -- /report:all 10.1.0.1 <<'EOF'
10.1.0.1 is ok

machine is ok
EOF
t summary.one_not_ok -- /report:all /timeout:1 10.2.0.1 <<'EOF'
10.2.0.1 could not be reached

machine is not ok
EOF
t summary.two_ok -- 10.1.0.1 127.0.0.1 <<'EOF'

all 2 machines are ok
EOF
t summary.two_none -- /timeout:1 10.2.0.1 10.2.0.2 <<'EOF'

none of the 2 machines are ok
EOF
t summary.mixed -- /report:all /timeout:1 10.1.0.1 10.2.0.1 10.3.0.1 <<'EOF'
10.1.0.1 is ok
10.2.0.1 could not be reached
10.3.0.1 could not be reached

#machines sent / replied / timed-out = 3 / 1 / 2
EOF
t summary.no_target -- </dev/null
t summary.only_control -- /report:all /timeout:1 /verbose /times:2 </dev/null

# Host names from the namespace's hosts file; unknown names fail fast.
t names.ok -- /report:all answer-one localhost <<'EOF'
answer-one is ok
localhost is ok

all 2 machines are ok
EOF
t names.untranslatable --within 4 -- nosuch-host answer-one <<'EOF'
nosuch-host could not be translated

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t names.none_translated --within 4 -- /report:ok nosuch-a nosuch-b.test <<'EOF'
nosuch-a could not be translated
nosuch-b.test could not be translated

none of the 2 machines are ok
EOF
t names.silent -- /report:error /timeout:1 silent-one answer-two <<'EOF'
silent-one could not be reached

#machines sent / replied / timed-out = 2 / 1 / 1
EOF

# Address patterns.
t patterns.range -- /report:all 10.1.0.1-4 <<'EOF'
10.1.0.1 is ok
10.1.0.2 is ok
10.1.0.3 is ok
10.1.0.4 is ok

all 4 machines are ok
EOF
t patterns.lists -- /report:ok 10.1.2-1.7,5-6 <<'EOF'
10.1.1.5 is ok
10.1.1.6 is ok
10.1.1.7 is ok
10.1.2.5 is ok
10.1.2.6 is ok
10.1.2.7 is ok

all 6 machines are ok
EOF
t patterns.mixed -- /report:all /timeout:1 10.1-2.0.5-6 <<'EOF'
10.1.0.5 is ok
10.1.0.6 is ok
10.2.0.5 could not be reached
10.2.0.6 could not be reached

#machines sent / replied / timed-out = 4 / 2 / 2
EOF
t patterns.illegal -- /report:ok 10.1.0 10.1.0.1.2 "10.1.0.1 x" 10.1.0.1 <<'EOF'
illegal IP address
illegal IP address
illegal IP address
10.1.0.1 is ok

machine is ok
EOF
t patterns.illegal_only -- 10.1.0 <<'EOF'
illegal IP address
EOF
t patterns.odd_forms -- /report:ok 10.1..0..7 010.001.000.008 10.1.0.9. 10.1.0.300 10.1.0.x <<'EOF'
10.1.0.7 is ok
10.1.0.8 is ok
10.1.0.9 is ok
10.1.0.255 is ok
10.1.0.0 is ok

all 5 machines are ok
EOF
t patterns.hundreds -- /report:ok 10.1.1.1-254 < <(lines 10.1.1 1 254 " is ok"; printf '\nall 254 machines are ok\n')
t patterns.long -- /report:ok "10.1.3.$(seq -s, 1 60)" < <(lines 10.1.3 1 60 " is ok"; printf '\nall 60 machines are ok\n')

# An unreachable route fails at once, without waiting for the time-out.
t unreachable.fast --within 4 -- /report:all /timeout:10 10.3.0.1-3 unreachable-one <<'EOF'
10.3.0.1 could not be reached
10.3.0.2 could not be reached
10.3.0.3 could not be reached
unreachable-one could not be reached

none of the 4 machines are ok
EOF
# An ICMP error from a router ends the wait as well.
t unreachable.icmp_error --within 4 -- /report:all /timeout:10 10.4.0.1-3 <<'EOF'
10.4.0.1 could not be reached
10.4.0.2 could not be reached
10.4.0.3 could not be reached

none of the 3 machines are ok
EOF
# As many errors as requests, however many rows asked before: an error
# that the router's rate limits swallow would cost this row its time-out.
t unreachable.icmp_errors_many --within 4 -- /report:all /timeout:10 10.4.1.1-40 < <(
  lines 10.4.1 1 40 " could not be reached"
  printf '\nnone of the 40 machines are ok\n'
)
t unreachable.counted --within 4 -- /report:error /timeout:10 10.3.0.1 10.1.0.1 <<'EOF'
10.3.0.1 could not be reached

#machines sent / replied / timed-out = 2 / 1 / 1
EOF

# A request the kernel refused here never left: an unreachable route
# (EHOSTUNREACH), no route (ENETUNREACH), a firewall of this machine
# (EPERM). Such a target is unreachable with nothing sent, at once, and no
# notice, which is for shortages that may pass.
t unreachable.refused_json --json --no-stderr --within 4 -- /json /timeout:10 /times:2 10.3.0.1 \
  10.13.0.1 <<'EOF'
{"type":"target","target":"10.3.0.1","kind":"address","address":"10.3.0.1","result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"10.13.0.1","kind":"address","address":"10.13.0.1","result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":2,"ok":0,"failed":2,"exit_status":2}
EOF
t unreachable.firewall_json --json --no-stderr --within 4 --needs nft -- /json /timeout:10 10.14.0.1 \
  10.1.0.1 <<'EOF'
{"type":"target","target":"10.14.0.1","kind":"address","address":"10.14.0.1","result":"unreachable","reason":"blocked_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"10.1.0.1","kind":"address","address":"10.1.0.1","result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"summary","targets":2,"ok":1,"failed":1,"exit_status":1}
EOF
t unreachable.firewall --within 4 --needs nft -- /report:all /timeout:10 10.14.0.1 <<'EOF'
10.14.0.1 could not be reached

machine is not ok
EOF

# Replies that only the responder in the peer namespace gives.
t responder.normal -- /report:all 10.5.0.2 <<'EOF'
10.5.0.2 is ok

machine is ok
EOF
t responder.invalid -- /report:error /timeout:1 10.5.0.2-4,15 <<'EOF'
10.5.0.3 replied with invalid data
10.5.0.4 replied with invalid data
10.5.0.15 replied with invalid data

#machines sent / replied / timed-out = 4 / 1 / 3
EOF
t responder.invalid_verbose -- /report:all /verbose corrupt-host 10.5.0.4 <<'EOF'
corrupt-host (10.5.0.3) replied with invalid data
10.5.0.4 (?) replied with invalid data

none of the 2 machines are ok
EOF
t responder.duplicate -- /report:all /times:3 10.5.0.5 10.5.0.2 <<'EOF'
10.5.0.5 is ok
10.5.0.2 is ok

all 2 machines are ok
EOF
t responder.late -- /report:all /timeout:1 10.5.0.6 <<'EOF'
10.5.0.6 could not be reached

machine is not ok
EOF
# The reply to the first request arrives while the second one waits.
t responder.late_for_next -- /report:all /timeout:1 /times:2 10.5.0.6 <<'EOF'
10.5.0.6 could not be reached

machine is not ok
EOF
# The late reply lands in the socket a later worker is handed: it must be
# passed over there, not taken for that worker's answer or lost with it.
t responder.late_for_next_worker -- /report:all /timeout:1 /interval:1700 10.5.0.6 10.5.0.3 <<'EOF'
10.5.0.6 could not be reached
10.5.0.3 replied with invalid data

none of the 2 machines are ok
EOF
t responder.wrong_reply -- /report:all /timeout:1 10.5.0.8-9 <<'EOF'
10.5.0.8 could not be reached
10.5.0.9 could not be reached

none of the 2 machines are ok
EOF
# The kernel hands a datagram socket such packets; fanecho must refuse them.
t responder.bad_checksum -- /report:all /timeout:1 10.5.0.13 <<'EOF'
10.5.0.13 could not be reached

machine is not ok
EOF
# Replies longer than fanecho reads in one piece (428 bytes): one is our
# reply with data too long, the other is dropped for its checksum.
t responder.long_replies -- /report:all /timeout:1 10.5.0.19 10.5.0.20 <<'EOF'
10.5.0.19 replied with invalid data
10.5.0.20 could not be reached

none of the 2 machines are ok
EOF
t responder.impostor -- /report:all /timeout:1 10.5.0.14 <<'EOF'
10.5.0.14 could not be reached

machine is not ok
EOF
# A hostile host that sees one request of the run forges 1089 replies
# "from" a target that never answers, and 1089 host unreachable errors
# about a live one, with the identifiers and sequence numbers a sender that
# counts them would use beside its own: none of them may pass.
t responder.forged_replies -- /report:all /timeout:1 10.5.0.16 10.5.0.11 <<'EOF'
10.5.0.16 is ok
10.5.0.11 could not be reached

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t responder.forged_errors -- /report:all /timeout:2 10.5.0.17 10.5.0.7 <<'EOF'
10.5.0.17 is ok
10.5.0.7 is ok

all 2 machines are ok
EOF
# An error that quotes our request as sent to another host does not answer
# for the target: its reply, 500 ms later, does.
t responder.misquoted_error -- /report:all 10.5.0.18 <<'EOF'
10.5.0.18 is ok

machine is ok
EOF
t responder.foreign_first --within 4 -- /report:all /timeout:10 10.5.0.10 <<'EOF'
10.5.0.10 is ok

machine is ok
EOF
t responder.kernel_quiet -- /report:all /timeout:1 10.5.0.11 <<'EOF'
10.5.0.11 could not be reached

machine is not ok
EOF
t responder.delay --rtt 190-1500 -- /report:all /verbose 10.5.0.7 <<'EOF'
10.5.0.7 (?) is ok; RTT = N msec

machine is ok
EOF
t responder.all_at_once -- /report:error /timeout:1 10.5.0.2-15 <<'EOF'
10.5.0.3 replied with invalid data
10.5.0.4 replied with invalid data
10.5.0.6 could not be reached
10.5.0.8 could not be reached
10.5.0.9 could not be reached
10.5.0.11 could not be reached
10.5.0.13 could not be reached
10.5.0.14 could not be reached
10.5.0.15 replied with invalid data

#machines sent / replied / timed-out = 14 / 5 / 9
EOF

# Several requests per target and their statistics.
t times.stats -- /report:all /verbose /times:3 10.1.0.1 localhost <<'EOF'
10.1.0.1 (?) is ok; min/avg/max RTT = N/N/N msec
localhost (127.0.0.1) is ok; min/avg/max RTT = N/N/N msec

all 2 machines are ok
EOF
t times.stats_delayed --rtt 190-1500 -- /report:ok /verbose /times:3 /timeout:2 10.5.0.7 <<'EOF'
10.5.0.7 (?) is ok; min/avg/max RTT = N/N/N msec

machine is ok
EOF
# Only every other request is answered: the missed one adds no 0 ms.
t times.missed_replies --rtt 290-1500 -- /report:ok /verbose /times:3 /timeout:1 10.5.0.12 <<'EOF'
10.5.0.12 (?) is ok; min/avg/max RTT = N/N/N msec

machine is ok
EOF
t times.zero -- /report:all /times:0 10.1.0.1 answer-one <<'EOF'
10.1.0.1 could not be reached
answer-one could not be reached

none of the 2 machines are ok
EOF

# Control options.
t options.report_ok -- /report:ok /timeout:1 10.1.0.1 10.2.0.1 <<'EOF'
10.1.0.1 is ok

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t options.report_error -- /report:error /timeout:1 10.1.0.1 10.2.0.1 <<'EOF'
10.2.0.1 could not be reached

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t options.upper_case -- /REPORT:ALL /TIMEOUT:1 10.1.0.1 10.2.0.1 <<'EOF'
10.1.0.1 is ok
10.2.0.1 could not be reached

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t options.dash -- -Report:Ok -timeout:1 10.1.0.1 10.2.0.1 <<'EOF'
10.1.0.1 is ok

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t options.report_bad -- /report:ok /report:al /report: /report:alls "/report: all" /timeout:1 10.1.0.1 10.2.0.1 <<'EOF'
expected all, ok or error
expected all, ok or error
expected all, ok or error
expected all, ok or error
10.1.0.1 is ok

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t options.invalid -- /bogus -x / - --verbose /timeout /verb 10.1.0.1 <<'EOF'
invalid control argument /bogus; try fanecho /? for more help
invalid control argument -x; try fanecho /? for more help
invalid control argument /; try fanecho /? for more help
invalid control argument -; try fanecho /? for more help
invalid control argument --verbose; try fanecho /? for more help
invalid control argument /timeout; try fanecho /? for more help
invalid control argument /verb; try fanecho /? for more help

machine is ok
EOF
t options.verbose_spelling -- /VERBOSE:no /report:ok 10.1.0.12 <<'EOF'
10.1.0.12 (?) is ok; RTT = N msec

machine is ok
EOF
t options.help --help-at 1 -- /? <<'EOF'
<help>
EOF
t options.help_then_targets --ordered --help-at 1 -- /?x /report:ok 10.1.0.1 <<'EOF'
<help>
10.1.0.1 is ok

machine is ok
EOF
t options.size_zero -- /size:0 /report:all 10.1.0.1 10.5.0.2 localhost <<'EOF'
10.1.0.1 is ok
10.5.0.2 is ok
localhost is ok

all 3 machines are ok
EOF
t options.size_one -- /size:1 /report:error 10.5.0.4 10.5.0.2 <<'EOF'
10.5.0.4 replied with invalid data

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t options.timeout -- /report:all /timeout:2 10.5.0.6 <<'EOF'
10.5.0.6 is ok

machine is ok
EOF

# Include files.
t include.targets -- /include:targets.txt <<'EOF'
10.1.0.1 is ok
answer-one is ok

all 2 machines are ok
EOF
# Settings made in a nested file hold after it ends.
t include.nested -- /include:outer.txt 10.1.0.3 <<'EOF'
10.2.0.1 could not be reached
10.1.0.2 is ok
10.1.0.3 is ok

#machines sent / replied / timed-out = 3 / 2 / 1
EOF
t include.missing -- /report:all /include:nosuch.txt /include: /include:. 10.1.0.1 <<'EOF'
file nosuch.txt not found
file  not found
file . not found
10.1.0.1 is ok

machine is ok
EOF
t include.crlf -- /include:crlf.txt <<'EOF'
10.1.0.3 is ok
answer-two is ok

all 2 machines are ok
EOF
t include.self -- /report:ok /include:self.txt < <(
  echo "include file self.txt nested too deep; ignoring it"
  for _ in $(seq 11); do echo "10.1.0.4 is ok"; done
  printf '\nall 11 machines are ok\n'
)
t include.whole_lines -- /include:whole-lines.txt <<'EOF'
answer-one # a remark could not be translated
expected all, ok or error

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t include.long_line -- /report:ok /include:long-line.txt <<'EOF'
10.1.0.6 is ok

machine is ok
EOF

# Verbose labels.
t verbose.names -- /report:all /verbose answer-one localhost <<'EOF'
answer-one (10.1.0.10) is ok; RTT = N msec
localhost (127.0.0.1) is ok; RTT = N msec

all 2 machines are ok
EOF
t verbose.reverse -- /report:all /verbose 10.1.0.10-12 127.0.0.1 <<'EOF'
10.1.0.10 (answer-one) is ok; RTT = N msec
10.1.0.11 (answer-two) is ok; RTT = N msec
10.1.0.12 (?) is ok; RTT = N msec
127.0.0.1 (localhost) is ok; RTT = N msec

all 4 machines are ok
EOF
# The hosts file names 10.1.0.99 with more than 99 characters.
long_name=""
((list_only)) || long_name=$(awk '$1 == "10.1.0.99" { print $2 }' "/etc/netns/$world/hosts")
((list_only || ${#long_name} > 99)) || echo "netns.sh no longer gives 10.1.0.99 a long name" >&2
t verbose.long_name -- /report:ok /verbose 10.1.0.99 <<EOF
10.1.0.99 (${long_name:0:99}) is ok; RTT = N msec

machine is ok
EOF
t verbose.bare_failures -- /report:all /verbose /timeout:1 silent-one 10.2.0.10 nosuch-host <<'EOF'
silent-one could not be reached
10.2.0.10 could not be reached
nosuch-host could not be translated

none of the 3 machines are ok
EOF

# ICMP permission.
t permission.none --nobody --range "1 0" --rc 3 -- /report:all 10.1.0.1 answer-one <<'EOF'
fanecho: no permission to send ICMP echo requests ...
EOF
t permission.help --nobody --range "1 0" --help-at 1 -- /? <<'EOF'
<help>
EOF
t permission.datagram_user --nobody --only datagram -- /report:ok 10.1.0.1 answer-one <<'EOF'
10.1.0.1 is ok
answer-one is ok

all 2 machines are ok
EOF

# /interval: spaces the starts (five gaps of 200 ms) and changes no line.
t interval.spaced --at-least 1000 -- /report:all /interval:200 10.1.0.1-5 answer-one <<'EOF'
10.1.0.1 is ok
10.1.0.2 is ok
10.1.0.3 is ok
10.1.0.4 is ok
10.1.0.5 is ok
answer-one is ok

all 6 machines are ok
EOF

# /progress on a terminal: one line on standard error, kept current while a
# target waits and erased around every line of output and before the
# summary, so that the screen ends up showing the output alone.
t progress.terminal --tty 'fanecho: 2 started, 1 finished: 1 ok, 0 failed; [0-9]+ s' -- \
  /progress /report:all /timeout:2 10.1.0.1 10.2.0.1 <<'EOF'
10.1.0.1 is ok
10.2.0.1 could not be reached

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t progress.json --json --tty 'fanecho: 0 started' -- /json /progress 10.1.0.1 <<'EOF'
{"type":"target","target":"10.1.0.1","kind":"address","address":"10.1.0.1","result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"summary","targets":1,"ok":1,"failed":0,"exit_status":0}
EOF
# Standard error not a terminal: nothing written to it.
t progress.not_a_terminal --no-stderr -- /progress /report:all 10.1.0.1 <<'EOF'
10.1.0.1 is ok

machine is ok
EOF
# The run stops at its first target: the line goes before the message.
t permission.progress --nobody --range "1 0" --rc 3 --tty 'fanecho: 0 started' -- /progress /report:all 10.1.0.1 <<'EOF'
fanecho: no permission to send ICMP echo requests ...
EOF

# /json: an object for every target whatever /report: says, the summary
# object last with no empty line before it, the exit status as in text.
t json.mixed --json -- /json /report:error /verbose /timeout:1 10.1.0.1 10.2.0.1 10.5.0.4 corrupt-host nosuch-host <<'EOF'
{"type":"target","target":"10.1.0.1","kind":"address","address":"10.1.0.1","name":null,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"10.2.0.1","kind":"address","address":"10.2.0.1","result":"unreachable","reason":"no_response","from":null,"sent":1,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"10.5.0.4","kind":"address","address":"10.5.0.4","name":null,"result":"invalid_data","reason":"wrong_size","from":null,"sent":1,"good":0,"wrong":1,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"corrupt-host","kind":"host_name","address":"10.5.0.3","result":"invalid_data","reason":"wrong_data","from":null,"sent":1,"good":0,"wrong":1,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"nosuch-host","kind":"host_name","address":null,"result":"not_translated","reason":null,"from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":5,"ok":1,"failed":4,"exit_status":1}
EOF
t json.messages --json -- /json /bogus 10.1.0 /report:al /include:nosuch.txt /report:ok 10.1.0.1 <<'EOF'
{"type":"message","message":"invalid_argument","argument":"/bogus","text":"invalid control argument /bogus; try fanecho /? for more help"}
{"type":"message","message":"illegal_address","argument":"10.1.0","text":"illegal IP address"}
{"type":"message","message":"expected_report_value","argument":"/report:al","text":"expected all, ok or error"}
{"type":"message","message":"file_not_found","file":"nosuch.txt","text":"file nosuch.txt not found"}
{"type":"target","target":"10.1.0.1","kind":"address","address":"10.1.0.1","result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"summary","targets":1,"ok":1,"failed":0,"exit_status":0}
EOF
# Names from a file with a quote, a back-slash, control characters, DEL,
# bytes that are not UTF-8 and one UTF-8 letter.
t json.odd_names --json -- /json /include:odd-names.txt <<'EOF'
{"type":"target","target":"a\"b\\c\td\u0001\u001f\u007f\u00ff\u00c3 é","kind":"host_name","address":null,"result":"not_translated","reason":null,"from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"\u00ed\u00a0\u0080\u00c0\u00af","kind":"host_name","address":null,"result":"not_translated","reason":null,"from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":2,"ok":0,"failed":2,"exit_status":2}
EOF

# Text from outside reaches the terminal with its control bytes as "?".
t names.control_bytes -- /include:steering.txt <<'EOF'
bad?]0;x?name could not be translated
invalid control argument /bad?[2J; try fanecho /? for more help

machine is not ok
EOF

# IPv6 after /ip:6 and /ip:any: answering (local on lo, and a routed block
# a peer holds), silent, an unreachable route and a router's ICMPv6 error,
# beside IPv4; names by their AAAA records; the permission asked for ICMPv6.
t ipv6.targets --within 4 -- /report:all /timeout:2 /ip:6 fd00:1::10-11 fd00:7::5 fd00:2::5 \
  fd00:3::1 fd00:4::1 fd00:5::b 10.1.0.1 ::1 <<'EOF'
fd00:1::10 is ok
fd00:1::11 is ok
fd00:7::5 is ok
fd00:2::5 could not be reached
fd00:3::1 could not be reached
fd00:4::1 could not be reached
fd00:5::b could not be reached
10.1.0.1 is ok
::1 is ok

#machines sent / replied / timed-out = 9 / 5 / 4
EOF
# Refused here, as for IPv4: an unreachable route, no route, a link-local
# address without a zone (EINVAL), a firewall. The kernel says nothing of
# the firewall's drop to an ICMPv6 datagram socket: there the request
# counts as sent and waits for its time-out.
t ipv6.refused_json --json --no-stderr --within 4 -- /json /timeout:10 /ip:6 fd00:3::1 fd00:d::1 \
  fe80::1 <<'EOF'
{"type":"target","target":"fd00:3::1","kind":"address","address":"fd00:3::1","family":6,"result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"fd00:d::1","kind":"address","address":"fd00:d::1","family":6,"result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"fe80::1","kind":"address","address":"fe80::1","family":6,"result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":3,"ok":0,"failed":3,"exit_status":2}
EOF
t ipv6.firewall_json --json --no-stderr --within 4 --needs nft --only raw -- /json /timeout:10 /ip:6 \
  fd00:e::1 <<'EOF'
{"type":"target","target":"fd00:e::1","kind":"address","address":"fd00:e::1","family":6,"result":"unreachable","reason":"blocked_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":1,"ok":0,"failed":1,"exit_status":2}
EOF
t ipv6.names --json -- /json /verbose /ip:6 answer-one v6-only fd00:1:0::0010 /ip:any dual-far \
  answer-two /ip:4 v6-only <<'EOF'
{"type":"target","target":"answer-one","kind":"host_name","address":"fd00:1::10","family":6,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"v6-only","kind":"host_name","address":"fd00:1::20","family":6,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"fd00:1::10","kind":"address","address":"fd00:1::10","family":6,"name":"answer-one","result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"dual-far","kind":"host_name","address":"fd00:7::10","family":6,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"answer-two","kind":"host_name","address":"10.1.0.11","family":4,"result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"v6-only","kind":"host_name","address":null,"family":4,"result":"not_translated","reason":null,"from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":6,"ok":5,"failed":1,"exit_status":1}
EOF
# ICMPv6 replies the way broken hosts give them: only exact ones count.
t ipv6.responder -- /report:all /timeout:1 /ip:6 fd00:5::2-5,8-a,e,f <<'EOF'
fd00:5::2 is ok
fd00:5::3 replied with invalid data
fd00:5::4 replied with invalid data
fd00:5::5 is ok
fd00:5::8 could not be reached
fd00:5::9 could not be reached
fd00:5::a is ok
fd00:5::e could not be reached
fd00:5::f replied with invalid data

#machines sent / replied / timed-out = 9 / 3 / 6
EOF
t ipv6.forged_replies -- /report:all /timeout:1 /ip:6 fd00:5::10 fd00:5::b <<'EOF'
fd00:5::10 is ok
fd00:5::b could not be reached

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t ipv6.forged_errors -- /report:all /timeout:2 /ip:6 fd00:5::11 fd00:5::7 <<'EOF'
fd00:5::11 is ok
fd00:5::7 is ok

all 2 machines are ok
EOF
t ipv6.misquoted_error -- /report:all /ip:6 fd00:5::12 <<'EOF'
fd00:5::12 is ok

machine is ok
EOF
# Ten thousand IPv6 targets and one more: the limit and its line are the
# same, and no raw socket's buffer fills with the others' replies before
# its own arrives. Then more IPv6 targets than descriptors.
t ipv6.limit --within 30 -- /report:error /ip:6 fd00:1::0-2710 <<'EOF'
too many addresses; ignoring fd00:1::2710

all 10000 machines are ok
EOF
t ipv6.few_descriptors --nofile 64 -- /report:error /timeout:3 /ip:6 fd00:1::1-12c <<'EOF'

all 300 machines are ok
EOF
t ipv6.no_permission --nobody --range "1 0" --rc 3 -- /report:all /ip:6 fd00:1::10 10.1.0.1 <<'EOF'
fanecho: no permission to send ICMPv6 echo requests: group 65534 is outside net.ipv4.ping_group_range and CAP_NET_RAW is missing; widen the range (sysctl -w net.ipv4.ping_group_range="0 2147483647") or run as root
EOF

# Many targets at once.
t many.thousand -- 10.1.0-3.0-255 <<'EOF'

all 1024 machines are ok
EOF
t many.mixed -- /report:error /timeout:1 10.1-2.0.0-199 < <(
  lines 10.2.0 0 199 " could not be reached"
  printf '\n#machines sent / replied / timed-out = 400 / 200 / 200\n'
)
t many.limit --within 30 -- /report:error 10.1.0-39.0-255 answer-one < <(
  lines 10.1.39 16 255 "" | sed 's/^/too many addresses; ignoring /'
  echo "too many addresses; ignoring answer-one"
  printf '\nall 10000 machines are ok\n'
)
# Two thousand sockets waiting at once, each with an identifier no other
# socket has: a reply the kernel handed to another socket with the same
# identifier would leave its target unreachable.
t many.waiting_at_once -- /report:error /timeout:4 10.6.248-255.0-249 <<'EOF'

all 2000 machines are ok
EOF
# Far more waiting workers than open files allowed: they take turns.
same_target=()
for _ in $(seq 300); do same_target+=(10.5.0.7); done
t many.few_descriptors --nofile 64 -- /report:error /timeout:3 "${same_target[@]}" <<'EOF'

all 300 machines are ok
EOF
# Names looked up and an include file opened while they hold every
# descriptor are found, not untranslatable or missing.
names=()
for _ in $(seq 50); do names+=(answer-one); done
t many.few_descriptors_include --nofile 64 -- /report:error /timeout:3 "${same_target[@]}" \
  "${names[@]}" /include:two-targets.txt <<'EOF'

all 352 machines are ok
EOF

# Descriptors a parent left open count against the limit: with 56 of 64
# taken at the start, thirty waiting workers still leave the look-ups
# theirs.
t many.inherited_descriptors --nofile 64 --inherit 56 -- /report:error /timeout:3 \
  "${same_target[@]:0:30}" "${names[@]:0:10}" <<'EOF'

all 40 machines are ok
EOF

# Under a limit on processes a thread that cannot start waits for a worker
# to end and starts then: every target is probed, none passed off as dead.
t many.process_limit --nobody --only datagram --native --nproc 40 --no-stderr -- \
  /report:ok /timeout:1 10.2.0.1-90 10.1.0.1-10 < <(lines 10.1.0 1 10 " is ok"; printf '\n#machines sent / replied / timed-out = 100 / 10 / 90\n')

# /cidr: a.b.c.d/N names the block, without network and broadcast address
# from /30 on; before it the octet rules read 10.1.4.0/22 as one address.
t cidr.blocks -- /report:all /timeout:1 10.1.4.0/22 /cidr 10.1.0.16/30 10.1.0.32/31 10.1.0.40/32 \
  10.2.0.0/30 <<'EOF'
10.1.4.0 is ok
10.1.0.17 is ok
10.1.0.18 is ok
10.1.0.32 is ok
10.1.0.33 is ok
10.1.0.40 is ok
10.2.0.1 could not be reached
10.2.0.2 could not be reached

#machines sent / replied / timed-out = 8 / 6 / 2
EOF
t cidr.illegal -- /report:ok /cidr 10.1.0-3.0/24 10.1.0.0/33 answer-one/24 10.1.0.1 <<'EOF'
illegal IP address
illegal IP address
illegal IP address
10.1.0.1 is ok

machine is ok
EOF
t ipv6.cidr -- /report:all /ip:6 /cidr fd00:1::10/126 fd00:7::/127 <<'EOF'
fd00:1::10 is ok
fd00:1::11 is ok
fd00:1::12 is ok
fd00:1::13 is ok
fd00:7:: is ok
fd00:7::1 is ok

all 6 machines are ok
EOF
# A block the limit cuts off is refused in one line. This and the runs of
# /queue below are left out under a runner: their time limits are Linux's,
# and wine starts threads several times slower.
t cidr.limit --within 30 --native -- /report:error /cidr 10.1.0.0/16 <<'EOF'
too many addresses; ignoring 10.1.39.17 and 55533 more

all 10000 machines are ok
EOF

# /exclude: leaves addresses out of every later pattern, block and IPv6
# range; host names are asked for by name.
t exclude.patterns -- /report:all /exclude:10.1.0.2-3 /exclude:10.1.0.8/30 10.1.0.1-12 /cidr \
  10.1.0.0/28 answer-one <<'EOF'
10.1.0.1 is ok
10.1.0.4 is ok
10.1.0.5 is ok
10.1.0.6 is ok
10.1.0.7 is ok
10.1.0.12 is ok
10.1.0.1 is ok
10.1.0.4 is ok
10.1.0.5 is ok
10.1.0.6 is ok
10.1.0.7 is ok
10.1.0.12 is ok
10.1.0.13 is ok
10.1.0.14 is ok
answer-one is ok

all 15 machines are ok
EOF
t ipv6.exclude -- /report:ok /ip:6 /cidr /exclude:fd00:1::2 /exclude:fd00:1::8/126 fd00:1::1-c \
  fd00:1::/124 <<'EOF'
fd00:1::1 is ok
fd00:1::3 is ok
fd00:1::4 is ok
fd00:1::5 is ok
fd00:1::6 is ok
fd00:1::7 is ok
fd00:1::c is ok
fd00:1:: is ok
fd00:1::1 is ok
fd00:1::3 is ok
fd00:1::4 is ok
fd00:1::5 is ok
fd00:1::6 is ok
fd00:1::7 is ok
fd00:1::c is ok
fd00:1::d is ok
fd00:1::e is ok
fd00:1::f is ok

all 18 machines are ok
EOF
t exclude.json --json -- /json /exclude:10.1.0 /exclude:10.1.0.1 10.1.0.1-2 <<'EOF'
{"type":"message","message":"illegal_address","argument":"/exclude:10.1.0","text":"illegal IP address"}
{"type":"target","target":"10.1.0.2","kind":"address","address":"10.1.0.2","result":"ok","reason":null,"from":null,"sent":1,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"summary","targets":1,"ok":1,"failed":0,"exit_status":0}
EOF
# /reason: a failed line says why, and who said so where someone did; good
# lines stay as they are. Refusals here come at once.
t reason.here --within 4 -- /reason /report:all /timeout:10 10.3.0.1 10.13.0.1 10.1.0.1 <<'EOF'
10.3.0.1 could not be reached; no route here
10.13.0.1 could not be reached; no route here
10.1.0.1 is ok

#machines sent / replied / timed-out = 3 / 1 / 2
EOF
t reason.firewall --within 4 --needs nft -- /reason /report:all /timeout:10 10.14.0.1 <<'EOF'
10.14.0.1 could not be reached; blocked here

machine is not ok
EOF
# The peer rejects as routers do: host unreachable, and prohibited by a
# rule (a prohibit route where nft is missing says the same).
t reason.router --within 4 -- /reason /report:all /timeout:10 10.4.0.1 10.15.0.1 <<'EOF'
10.4.0.1 could not be reached; host unreachable from 10.5.0.2
10.15.0.1 could not be reached; admin prohibited from 10.5.0.2

none of the 2 machines are ok
EOF
t reason.port --within 4 --needs nft -- /reason /report:all /timeout:10 10.16.0.1 <<'EOF'
10.16.0.1 could not be reached; port unreachable from 10.5.0.2

machine is not ok
EOF
t reason.silent_and_wrong -- /reason /report:error /timeout:1 10.2.0.5 10.5.0.3 10.5.0.4 10.5.0.2 <<'EOF'
10.2.0.5 could not be reached; no response
10.5.0.3 replied with invalid data; wrong data
10.5.0.4 replied with invalid data; wrong size

#machines sent / replied / timed-out = 4 / 1 / 3
EOF
t reason.verbose -- /report:all /verbose /reason corrupt-host /reasonable 10.5.0.4 10.1.0.1 <<'EOF'
corrupt-host (10.5.0.3) replied with invalid data; wrong data
10.5.0.4 (?) replied with invalid data; wrong size
10.1.0.1 (?) is ok; RTT = N msec

#machines sent / replied / timed-out = 3 / 1 / 2
EOF
# Every object carries reason and from, /reason or not.
t reason.json --json -- /json /timeout:1 10.4.0.2 10.15.0.2 10.2.0.6 10.5.0.4 10.3.0.2 <<'EOF'
{"type":"target","target":"10.4.0.2","kind":"address","address":"10.4.0.2","result":"unreachable","reason":"host_unreachable","from":"10.5.0.2","sent":1,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"10.15.0.2","kind":"address","address":"10.15.0.2","result":"unreachable","reason":"admin_prohibited","from":"10.5.0.2","sent":1,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"10.2.0.6","kind":"address","address":"10.2.0.6","result":"unreachable","reason":"no_response","from":null,"sent":1,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"target","target":"10.5.0.4","kind":"address","address":"10.5.0.4","result":"invalid_data","reason":"wrong_size","from":null,"sent":1,"good":0,"wrong":1,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"10.3.0.2","kind":"address","address":"10.3.0.2","result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":5,"ok":0,"failed":5,"exit_status":2}
EOF
# The peer's error comes from whichever of its addresses it picks.
t reason.ipv6 --within 4 --match -- /reason /report:all /timeout:10 /ip:6 fd00:3::1 fd00:4::1 <<'EOF'
fd00:3::1 could not be reached; no route here
fd00:4::1 could not be reached; net unreachable from fd00:5::[0-9a-f]+

none of the 2 machines are ok
EOF

# /retry: and /wait:. The host answers only every third request of a
# socket: two retries reach it, one does not; the retries count as sent.
t retry.third --json -- /json /timeout:1 /retry:2 10.5.0.21 <<'EOF'
{"type":"target","target":"10.5.0.21","kind":"address","address":"10.5.0.21","result":"ok","reason":null,"from":null,"sent":3,"good":1,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"summary","targets":1,"ok":1,"failed":0,"exit_status":0}
EOF
t retry.too_few --json -- /json /wait:300 /retry:1 10.5.0.22 <<'EOF'
{"type":"target","target":"10.5.0.22","kind":"address","address":"10.5.0.22","result":"unreachable","reason":"no_response","from":null,"sent":2,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":1,"ok":0,"failed":1,"exit_status":2}
EOF
# A good reply ends the retries; those refused here fail at once.
t retry.answered_and_refused --json --within 4 -- /json /timeout:10 /retry:3 /times:2 10.1.0.1 10.3.0.1 <<'EOF'
{"type":"target","target":"10.1.0.1","kind":"address","address":"10.1.0.1","result":"ok","reason":null,"from":null,"sent":2,"good":2,"wrong":0,"rtt_min_ms":N,"rtt_avg_ms":N,"rtt_max_ms":N}
{"type":"target","target":"10.3.0.1","kind":"address","address":"10.3.0.1","result":"unreachable","reason":"no_route_here","from":null,"sent":0,"good":0,"wrong":0,"rtt_min_ms":null,"rtt_avg_ms":null,"rtt_max_ms":null}
{"type":"summary","targets":2,"ok":1,"failed":1,"exit_status":1}
EOF
# The later of /timeout: and /wait: wins.
t retry.wait_after_timeout --within 2 -- /report:all /timeout:10 /wait:250 10.2.0.7 <<'EOF'
10.2.0.7 could not be reached

machine is not ok
EOF
t retry.bad_values -- /report:all /retry:11 /retry:-1 /wait:-5 /rate:1000001 10.1.0.1 <<'EOF'
expected 0 to 10 retries
expected 0 to 10 retries
expected a wait of 0 to 2147483647 milliseconds
expected a rate of 0 to 1000000 requests a second
10.1.0.1 is ok

machine is ok
EOF

# /rate: every request of every worker takes its turn: 10 targets of 2
# requests at 40 a second take at least 19 gaps of 25 ms.
t rate.paced --at-least 450 -- /report:ok /rate:40 /times:2 10.1.0.1-10 < <(
  lines 10.1.0 1 10 " is ok"
  printf '\nall 10 machines are ok\n'
)
t rate.no_cap -- /report:ok /rate:500 /rate:0 10.1.0.1-3 <<'EOF'
10.1.0.1 is ok
10.1.0.2 is ok
10.1.0.3 is ok

all 3 machines are ok
EOF

# /queue: past 10000 targets a target waits for a worker to end; every one
# is probed, in both families, answering and silent alike, and /progress
# says how many wait.
t queue.answering --within 30 --native -- /report:error /queue 10.1.0-40.0-255 <<'EOF'

all 10496 machines are ok
EOF
t queue.mixed --within 30 --native -- /queue /timeout:1 10.1.0-19.0-255 /cidr 10.2.0.0/20 10.1.100-107.0-255 <<'EOF'

#machines sent / replied / timed-out = 11262 / 7168 / 4094
EOF
t ipv6.queue --within 30 -- /report:error /queue /ip:6 fd00:1::0-28ff <<'EOF'

all 10496 machines are ok
EOF
t queue.progress --within 30 --native \
  --tty 'fanecho: [0-9]+ started, [0-9]+ finished: [0-9]+ ok, [0-9]+ failed; [1-9][0-9]* waiting; [0-9]+ s' \
  -- /progress /queue 10.1.0-79.0-255 <<'EOF'

all 20480 machines are ok
EOF

# Real networks: a local limit is never the target's fault.
# A burst overflows the slow link's queue; requests the queue drops are sent
# again within their time-out.
t realnet.slow_link -- /timeout:3 10.8.0-7.0-249 <<'EOF'

all 2000 machines are ok
EOF
# The gateway forwards and sends redirects, which are advice, not an answer.
t realnet.redirect -- /report:error /timeout:3 10.9.0.1-20 <<'EOF'

all 20 machines are ok
EOF
# More on-link targets than the machine's neighbour table holds: requests
# that never left are counted as failed and said once on standard error.
# The table is the whole machine's: its entries go at once.
t realnet.neighbour_table_full --match --ordered --rc 1 \
  --stderr 'could not leave this machine.*(gc_thresh3|ICMP helper API)' \
  --after "ip -n $world neigh flush dev veth1" -- /timeout:1 10.7.0-7.0-255 <<'EOF'

#machines sent / replied / timed-out = 2048 / [0-9]+ / [0-9]+
EOF
# A path whose narrowest link (MTU 296) is below a full request (328
# bytes): the request leaves without Don't Fragment and the router
# fragments it, on a first run with nothing learnt of the path (the route
# cache, where the kernel keeps what it learns, flushed) as on the next.
t realnet.narrow_link_first --before "ip -n $world route flush cache" -- /report:all /timeout:2 \
  10.11.0.1 <<'EOF'
10.11.0.1 is ok

machine is ok
EOF
t realnet.narrow_link_again -- /report:all /timeout:2 10.11.0.1 <<'EOF'
10.11.0.1 is ok

machine is ok
EOF
# Requests leave as /ttl:, /source: and /interface: ask, each for the
# targets after it: a TTL of 1 ends at the router before 10.11.0.0/16, NAMEp
# has no route back to 10.1.0.1 or fd00:1::1, and lo leads only here.
t request.ttl -- /report:all /timeout:2 /reason /ttl:1 10.11.0.1 10.5.0.2 /ttl:64 10.11.0.2 <<'EOF'
10.11.0.1 could not be reached; time exceeded from 10.5.0.2
10.11.0.2 is ok
10.5.0.2 is ok

#machines sent / replied / timed-out = 3 / 2 / 1
EOF
t request.source -- /report:all /timeout:2 /times:2 /source:10.1.0.1 10.5.0.2 10.1.0.7 /source:10.5.0.1 10.5.0.7 <<'EOF'
10.1.0.7 is ok
10.5.0.2 could not be reached
10.5.0.7 is ok

#machines sent / replied / timed-out = 3 / 2 / 1
EOF
t request.interface -- /report:all /timeout:2 /interface:lo 10.5.0.2 10.1.0.7 /interface:veth0 10.5.0.7 <<'EOF'
10.1.0.7 is ok
10.5.0.2 could not be reached
10.5.0.7 is ok

#machines sent / replied / timed-out = 3 / 2 / 1
EOF
# An ordinary user may bind a socket to an interface once; every target's
# socket is its own.
t request.nobody --nobody --only datagram --range "0 2147483647" -- /report:all /timeout:2 /interface:lo 10.1.0.7 10.5.0.2 /interface:veth0 /source:10.5.0.1 /ttl:1 10.5.0.7 10.11.0.1 <<'EOF'
10.1.0.7 is ok
10.11.0.1 could not be reached
10.5.0.2 could not be reached
10.5.0.7 is ok

#machines sent / replied / timed-out = 4 / 2 / 2
EOF
# The hop limit over two hops: the gateway before fd00:9::/64 says a hop
# limit of 1 ran out. A fresh world loses the first request that goes the
# whole way (ping -6 loses it too): the second one tells.
t request.ipv6_ttl -- /report:all /timeout:2 /reason /ip:6 /ttl:1 fd00:9::5 /ttl:2 /times:2 fd00:9::6 <<'EOF'
fd00:9::5 could not be reached; time exceeded from fd00:10::2
fd00:9::6 is ok

#machines sent / replied / timed-out = 2 / 1 / 1
EOF
t request.ipv6 -- /report:all /timeout:2 /ip:6 /ttl:1 fd00:5::2 /source:fd00:1::1 fd00:5::7 fd00:1::5 /interface:lo fd00:5::f <<'EOF'
fd00:1::5 is ok
fd00:5::2 is ok
fd00:5::7 could not be reached
fd00:5::f could not be reached

#machines sent / replied / timed-out = 4 / 2 / 2
EOF
# Reverse look-ups run side by side, outside the console lock.
t realnet.dead_resolver --within 4 --resolv $'nameserver 10.2.0.53\noptions timeout:1 attempts:1' \
  -- /report:ok /verbose 10.1.0.30-59 < <(lines 10.1.0 30 59 " (?) is ok; RTT = N msec"; printf '\nall 30 machines are ok\n')
# Thousands of names from a real name server, not flooded into losing any.
t realnet.dns_names --needs dnsmasq --within 6 --resolv 'nameserver 127.0.0.53' -- /include:dns-names.txt <<'EOF'

all 2000 machines are ok
EOF
t realnet.dns_reverse --needs dnsmasq --within 6 --resolv 'nameserver 127.0.0.53' \
  -- /report:ok /verbose 10.1.20-27.0-255 < <(
  for ((i = 0; i < 2048; i++)); do
    name="host-$i.fanecho.test"
    ((i < 2000)) || name="?"
    echo "10.1.$((20 + i / 256)).$((i % 256)) ($name) is ok; RTT = N msec"
  done
  printf '\nall 2048 machines are ok\n'
)
# Lines that cannot be written are no success.
t realnet.stdout_full --stdout /dev/full --rc 4 --stderr '^fanecho: cannot write standard output: ' \
  -- /report:all 10.1.0.1 </dev/null
# A closed standard output is no free descriptor for a socket: its lines
# would go to the target as packets.
t realnet.stdout_closed --stdout closed --rc 4 --stderr '^fanecho: cannot write standard output: ' \
  -- /report:all 10.1.0.1 </dev/null

# ---------------------------------------------------------------- the end

((list_only)) && exit 0
if [[ -n $cases ]]; then
  IFS=', ' read -ra items <<<"$cases"
  for item in "${items[@]}"; do
    if [[ $item != -* && -z ${item_used[$item]-} ]]; then
      echo "FAIL  no case or group called '$item'"
      failed=$((failed + 1))
    fi
  done
fi
echo "fanecho e2e: $mode mode took $((($(now_ms) - suite_start) / 1000)) s"
finish
