#!/usr/bin/env bash
# Installs whatever is missing, then builds and runs every test suite:
# under AddressSanitizer with UndefinedBehaviorSanitizer, under
# ThreadSanitizer, the fuzz targets briefly, and last the release build with
# the end-to-end suites (Linux in both ICMP modes, Windows under wine).
# Here warnings are errors (FANECHO_WERROR), unlike in the presets as a
# packager or newcomer builds them with whatever compiler they have.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all

jobs=$(nproc)
run_preset() {
  echo "=== $1"
  cmake --preset "$1" -DFANECHO_WERROR=ON >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1"
}

run_preset asan
run_preset tsan
run_preset fuzz
run_preset default
