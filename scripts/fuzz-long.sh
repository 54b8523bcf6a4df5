#!/bin/sh
# Long fuzz run: every target in fuzz/ for SECONDS each (default 600).
#   scripts/fuzz-long.sh [seconds]
# Builds the fuzz preset (clang), then fuzzes each target in turn, one
# process at a time. The corpus each target grows is kept between runs in
# build/fuzz/long-corpus/<target>, starting from the seeds in
# fuzz/corpus/<target>; failing inputs land in build/fuzz/findings/<target>
# and stop the script with status 1. Replay one with
#   build/fuzz/fuzz/fuzz_<target> <file>
set -eu

seconds=${1:-600}
case $seconds in
  '' | *[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/fanecho-fuzz-long.XXXXXX")
trap 'rm -rf "$scratch"' EXIT INT TERM

status=0
for target in octet_set pattern control include ipv6; do
  corpus=build/fuzz/long-corpus/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  cp -n fuzz/corpus/$target/* "$corpus"/
  echo "== $target: $seconds s"
  if ! TMPDIR=$scratch build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" \
      -rss_limit_mb=2048 -timeout=25 -print_final_stats=1 \
      -artifact_prefix="$root/$findings/" "$corpus" 2>"$scratch/log"; then
    tail -n 60 "$scratch/log" >&2
    echo "== $target: finding saved in $findings" >&2
    status=1
    continue
  fi
  grep -E '^Done [0-9]+ runs' "$scratch/log" || true
done
exit $status
