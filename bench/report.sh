#!/usr/bin/env bash
# Draws the bench's report from its measurements: results.md (the table and,
# for a full run, the targets met) and wall-time.png (with gnuplot).
#
#   bench/report.sh [--quick] --about "DATE|MACHINE|REVISION|FPING" CSV OUTDIR
#
#   --quick   the measurements are bench/run.sh --quick's: a table only
#   --about   when and where it was measured, fanecho's revision, fping's version
#   CSV       results.csv as bench/run.sh writes it (a header, then tab-separated rows)
#
# Run again on a results.csv to draw its report anew.
set -euo pipefail

QUICK=0
ABOUT=""
while (($# > 2)); do
  case $1 in
    --quick) QUICK=1; shift ;;
    --about) ABOUT=$2; shift 2 ;;
    *) echo "bench/report.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
(($# == 2)) || { echo "usage: bench/report.sh [--quick] --about \"DATE|MACHINE|REVISION|FPING\" CSV OUTDIR" >&2; exit 2; }
IFS='|' read -r DATE MACHINE REVISION FPING_VERSION <<<"$ABOUT"
OUT=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/fanecho-report.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
RESULTS=$WORK/results.tsv
tail -n +2 "$1" >"$RESULTS"
# What fping said where it refused a case, beside the CSV.
REFUSALS=$(dirname "$1")/fping-refusals.tsv

# The median of fping at -i INTERVAL on the same case, or empty.
fping_median() {
  awk -F'\t' -v c="$1" -v m="-i $2" '$1 == c && $4 == "fping" && $5 == m { print $6 }' "$RESULTS"
}
median_of() {
  awk -F'\t' -v c="$1" -v p="$2" -v m="$3" '$1 == c && $4 == p && $5 == m { print $6 }' "$RESULTS"
}
memory_of() {
  awk -F'\t' -v c="$1" -v p="$2" -v m="$3" '$1 == c && $4 == p && $5 == m { print $10 }' "$RESULTS"
}

{
  echo "| case | program | ICMP socket | median (s) | min-max (s) | σ (s) | peak memory (MiB), user+kernel | targets/s | ÷ fping -i 0 | ÷ fping -i 1 | ÷ floor | memory ÷ floor |"
  echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  while IFS=$'\t' read -r case targets _ program mode median min max stddev memory; do
    [[ $case == "one target" ]] && continue
    socket=$mode
    [[ $program == fping ]] && { socket=raw; program="fping $mode"; }
    # fanecho's variants: /json, /queue, several runs.
    [[ $program == fanecho && $mode == *" "* ]] && { socket=${mode%% *}; program="fanecho ${mode#* }"; }
    awk -v c="$case" -v p="$program" -v s="$socket" -v md="$median" -v lo="$min" -v hi="$max" \
      -v sd="$stddev" -v r="$memory" -v n="$targets" -v f0="$(fping_median "$case" 0)" \
      -v f1="$(fping_median "$case" 1)" -v fl="$(median_of "$case" floor datagram)" \
      -v flr="$(memory_of "$case" floor datagram)" -v self="${program#fping }" '
      function ratio(x, ref) { return (ref == "" || x == "" || self ~ /^(-i [01]|floor)$/) ? "" : sprintf("%.2f", x / ref) }
      BEGIN {
        printf "| %s | %s | %s | %.4f | %.4f-%.4f | %.4f | %s | %.0f | %s | %s | %s | %s |\n",
          c, p, s, md, lo, hi, sd, r == "" ? "" : sprintf("%.1f", r / 1024), n / md, ratio(md, f0),
          ratio(md, f1), ratio(md, fl), ratio(r, flr)
      }'
  done <"$RESULTS"
} >"$WORK/table.md"

{
  echo "| command | median (ms) | min-max (ms) | σ (ms) | ÷ fping -q |"
  echo "|---|---:|---:|---:|---:|"
  awk -F'\t' '
    $1 == "one target" { n++; p[n] = $4 ($5 == "-" ? "" : " " $5); md[n] = $6; lo[n] = $7; hi[n] = $8; sd[n] = $9
                         if ($4 == "fping") ref = $6 }
    END {
      for (i = 1; i <= n; i++)
        printf "| %s | %.2f | %.2f-%.2f | %.2f | %s |\n", p[i], md[i] * 1000, lo[i] * 1000, hi[i] * 1000,
          sd[i] * 1000, ref ? sprintf("%.2f", md[i] / ref) : ""
    }' "$RESULTS"
} >"$WORK/one.md"

checks() {
  local a="10000 answering" s="10000 silent"
  awk -v dg="$(median_of "$a" fanecho datagram)" -v raw="$(median_of "$a" fanecho raw)" \
    -v f0="$(fping_median "$a" 0)" -v f1="$(fping_median "$a" 1)" \
    -v json="$(median_of "$a" fanecho "datagram /json")" -v afl="$(median_of "$a" floor datagram)" \
    -v adgm="$(memory_of "$a" fanecho datagram)" -v aflm="$(memory_of "$a" floor datagram)" \
    -v sdg="$(median_of "$s" fanecho datagram)" -v sraw="$(median_of "$s" fanecho raw)" \
    -v sfl="$(median_of "$s" floor datagram)" -v sdgm="$(memory_of "$s" fanecho datagram)" \
    -v srawm="$(memory_of "$s" fanecho raw)" -v sflm="$(memory_of "$s" floor datagram)" \
    -v one="$(median_of "one target" fanecho datagram)" -v onef="$(median_of "one target" fping -q)" \
    -v q3="$(median_of "30000 silent" fanecho "datagram /queue")" \
    -v q3m="$(memory_of "30000 silent" fanecho "datagram /queue")" \
    -v q16="$(median_of "65536 silent" fanecho "datagram /queue")" \
    -v q16m="$(memory_of "65536 silent" fanecho "datagram /queue")" \
    -v r16="$(median_of "65536 silent" fanecho "datagram 7 runs")" \
    -v r16m="$(memory_of "65536 silent" fanecho "datagram 7 runs")" \
    -v a16="$(median_of "65536 answering" fanecho "datagram /queue")" \
    -v fping16="$(awk -F'\t' '$1 == "65536 silent" { print $2 }' "$REFUSALS" 2>/dev/null)" '
    # A goal of a case that was left out (bench/run.sh --cases) reads "not measured".
    function row(what, got, limit, met, ref) {
      if (ref == 0) printf "| %s | not measured | %s | |\n", what, limit
      else printf "| %s | %s | %s | %s |\n", what, got, limit, met ? "yes" : "**no**"
    }
    function also(what, got, ref) { printf "| %s | %s |\n", what, ref == 0 ? "not measured" : got }
    # Left-out cases give empty figures: no division by zero.
    function q(x, y) { return y ? x / y : 0 }
    function mib(k) { return sprintf("%.1f MiB", k / 1024) }
    BEGIN {
      print "| goal | measured | limit | met |"
      print "|---|---:|---:|---|"
      row("10000 answering: fanecho (datagram) ÷ fping -i 0",
          sprintf("%.2f (%.3f s against %.3f s)", q(dg, f0), dg, f0), "≤ 1.5", dg <= 1.5 * f0, dg * f0)
      row("10000 silent, /timeout:1: wall time, fanecho (datagram) ÷ floor",
          sprintf("%.3f (%.3f s against %.3f s)", q(sdg, sfl), sdg, sfl), "≤ 1.05", sdg <= 1.05 * sfl, sdg * sfl)
      row("10000 silent, /timeout:1: whole memory, fanecho (datagram) ÷ floor",
          sprintf("%.3f (%s against %s)", q(sdgm, sflm), mib(sdgm), mib(sflm)), "≤ 1.05", sdgm <= 1.05 * sflm, sdgm * sflm)
      row("one loopback target: fanecho ÷ fping -q",
          sprintf("%.2f (%.2f ms against %.2f ms)", q(one, onef), one * 1000, onef * 1000), "≤ 1.5",
          one <= 1.5 * onef, one * onef)
      row("30000 silent under /queue ÷ 10000 silent without, wall time (datagram)",
          sprintf("%.2f (%.3f s against %.3f s)", q(q3, sdg), q3, sdg), "≤ 3.3", q3 <= 3.3 * sdg, q3 * sdg)
      row("30000 silent under /queue ÷ 10000 silent without, whole memory (datagram)",
          sprintf("%.3f (%s against %s)", q(q3m, sdgm), mib(q3m), mib(sdgm)), "≤ 1.15",
          q3m <= 1.15 * sdgm, q3m * sdgm)
      # A wrong answer or a refusal line fails the bench run itself.
      row("65536 answering under /queue: all ok, no refusal line",
          sprintf("all ok (%.3f s)", a16), "all", 1, a16 + 0)
      print ""
      print "| also measured | |"
      print "|---|---:|"
      also("10000 answering: fanecho raw ÷ fping -i 0", sprintf("%.2f", q(raw, f0)), raw * f0)
      also("10000 answering: fanecho ÷ fping -i 1", sprintf("%.3f (raw %.3f)", q(dg, f1), q(raw, f1)), raw * dg * f1)
      also("10000 answering: raw ÷ datagram", sprintf("%.2f", q(raw, dg)), raw * dg)
      also("10000 answering: /json ÷ without (datagram)", sprintf("%.2f", q(json, dg)), json * dg)
      also("10000 answering: wall time, whole memory ÷ floor (datagram)",
           sprintf("%.2f, %.2f (%s against %s)", q(dg, afl), q(adgm, aflm), mib(adgm), mib(aflm)), dg * afl * adgm * aflm)
      also("10000 silent: fanecho raw ÷ floor, wall time, whole memory",
           sprintf("%.3f, %.3f", q(sraw, sfl), q(srawm, sflm)), sraw * sfl * srawm * sflm)
      also("65536 silent: /queue ÷ 7 runs of at most 10000, wall time, whole memory",
           sprintf("%.2f, %.2f (%.2f s against %.2f s; %s against %s)", q(q16, r16), q(q16m, r16m),
                   q16, r16, mib(q16m), mib(r16m)), q16 * r16 * q16m * r16m)
      also("65536 silent: fping -i 0 -r 0 -t 1000 on the same list", fping16 == "" ? "not run" : \
           "refuses: " fping16, q16 * r16 + (fping16 != ""))
    }'
}

{
  echo "# fanecho against fping"
  echo
  echo "$DATE; $MACHINE; fanecho $REVISION; fping $FPING_VERSION."
  echo "Wall time: single hyperfine runs, the programs taking turns so that a change in load falls"
  echo "on all alike; median, range and standard deviation. Peak memory: the whole run's, user and"
  echo "kernel (thread stacks, task records, sockets), the peak of a memory cgroup made for the run"
  echo "alone; the median of the runs that checked each answer (three, one for the long fping -i 1"
  echo "case). fanecho: \`fanecho /timeout:1 PATTERN\` (fanecho /json: \`fanecho /json /timeout:1 PATTERN\`);"
  echo "fping: \`fping -q -c 1 -t 1000 -r 0 -i N -f LIST\`; floor: \`bench/floor.c\`, a bare thread and"
  echo "ICMP datagram socket per target, one request each (\`floor COUNT NET\`)."
  echo "Each fanecho and floor request carries 300 bytes of data, each of fping's 56 (its default)."
  if grep -q $'\t/queue\|datagram /queue' "$RESULTS"; then
    echo "fanecho /queue: \`fanecho /queue /timeout:1 PATTERN\`; fanecho 7 runs: \`fanecho /timeout:1\`"
    echo "on seven slices of the pattern's third field (at most 10000 targets each), one after another."
  fi
  echo
  cat "$WORK/table.md"
  echo
  echo "One loopback target, one request, one run after another (hyperfine -N, the commands taking"
  echo "turns in rounds): \`fanecho 127.0.0.1\`, \`fping -q 127.0.0.1\`, \`ping -c1 127.0.0.1\`, and"
  echo "\`/bin/true\` for what starting any program costs."
  echo
  cat "$WORK/one.md"
  if ((!QUICK)); then
    echo
    checks
    echo
    echo "![wall time against targets](wall-time.png)"
  fi
} >"$OUT/results.md"

if command -v gnuplot >/dev/null; then
  data=$WORK/plot.dat
  : >"$data"
  series=("fanecho datagram" "fanecho raw" "floor datagram" "fping -i 0" "fping -i 1")
  for s in "${series[@]}"; do
    # One target: fanecho (datagram) and fping -q, where the interval plays no part.
    awk -F'\t' -v p="${s%% *}" -v m="${s#* }" '
      $1 == "one target" && $5 == "-q" { $5 = "-i 0" }
      $3 == 1 && $4 == p && $5 == m { print $2, $6, $7, $8 }' "$RESULTS" | sort -n >>"$data"
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
  # bench/run.sh --cases may have left out every answering case.
  if ((${#plots[@]} > 0)); then
    gnuplot <<EOF
set terminal $terminal
set output '$OUT/wall-time.png'
set title "Wall time against answering targets (1 = one loopback target)\n$DATE; $MACHINE"
set logscale xy
set xlabel 'targets'
set ylabel 'wall time (s): median, bars min-max'
set key top left
set grid
set xrange [0.7:15000]
plot $plot_list
EOF
  fi
else
  echo "bench: gnuplot is not installed; no plot" >&2
fi

