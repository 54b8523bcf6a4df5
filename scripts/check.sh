#!/usr/bin/env bash
# Installs whatever is missing, then builds and runs every test suite:
# under AddressSanitizer with UndefinedBehaviorSanitizer, under
# ThreadSanitizer, the fuzz targets briefly, and last the release build with
# the end-to-end suites (Linux in both ICMP modes, Windows under wine).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all

jobs=$(nproc)
run_preset() {
  echo "=== $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1"
}

run_preset asan
run_preset tsan
if grep -q '"name": "fuzz"' CMakePresets.json; then
  run_preset fuzz
fi
run_preset default
