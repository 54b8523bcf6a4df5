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
  local dg raw f0 f1 sdg sraw rdg rraw adg araw lo
  dg=$(median_of "$a" fanecho datagram)
  raw=$(median_of "$a" fanecho raw)
  f0=$(fping_median "$a" 0)
  f1=$(fping_median "$a" 1)
  sdg=$(median_of "$s" fanecho datagram)
  sraw=$(median_of "$s" fanecho raw)
  rdg=$(rss_of "$s" fanecho datagram)
  rraw=$(rss_of "$s" fanecho raw)
  adg=$(rss_of "$a" fanecho datagram)
  araw=$(rss_of "$a" fanecho raw)
  lo=$(median_of loopback fanecho datagram)
  awk -v dg="$dg" -v raw="$raw" -v f0="$f0" -v f1="$f1" -v sdg="$sdg" -v sraw="$sraw" \
    -v rdg="$rdg" -v rraw="$rraw" -v adg="$adg" -v araw="$araw" -v lo="$lo" -v lor="$(median_of loopback fanecho raw)" \
    -v json="$(median_of "$a" fanecho "datagram /json")" '
    function row(what, got, limit, met) {
      printf "| %s | %s | %s | %s |\n", what, got, limit, met ? "yes" : "**no**"
    }
    function max(x, y) { return x > y ? x : y }
    BEGIN {
      print "| target | measured | limit | met |"
      print "|---|---:|---:|---|"
      row("10000 answering: fanecho ÷ fping -i 0", sprintf("%.2f (raw %.2f)", dg / f0, raw / f0),
          "≤ 1.5", max(dg, raw) <= 1.5 * f0)
      row("10000 answering: fanecho ÷ fping -i 1", sprintf("%.3f (raw %.3f)", dg / f1, raw / f1),
          "far below 1", max(dg, raw) <= 0.25 * f1)
      row("10000 silent, /timeout:1: peak RSS", sprintf("%.1f MiB (raw %.1f)", rdg / 1024, rraw / 1024),
          "≤ 48 MiB", max(rdg, rraw) <= 48 * 1024)
      row("10000 answering: peak RSS", sprintf("%.1f MiB (raw %.1f)", adg / 1024, araw / 1024),
          "≤ 48 MiB", max(adg, araw) <= 48 * 1024)
      row("10000 silent, /timeout:1: wall time", sprintf("%.3f s (raw %.3f)", sdg, sraw),
          "≤ 1.15 s", max(sdg, sraw) <= 1.15)
      row("10000 answering: raw ÷ datagram", sprintf("%.2f", raw / dg), "≤ 1.2", raw <= 1.2 * dg)
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
  echo "Each fanecho request carries 300 bytes of data, each of fping's 56 (its default)."
  echo
  cat "$WORK/table.md"
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

