#!/usr/bin/env bash
# Installs whatever is missing, then builds and runs every test suite:
# under AddressSanitizer with UndefinedBehaviorSanitizer, under
# ThreadSanitizer, the fuzz targets briefly, and last the release build with
# the end-to-end suites (Linux in both ICMP modes, Windows under wine) and
# the Debian package installed and removed; then the Windows zip.
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
run_preset default   # package.deb among its tests: dpkg -i, a probe, dpkg -r

echo "=== win32 package"
cmake --preset win32 -DFANECHO_WERROR=ON >/dev/null
cmake --build --preset win32 -j "$jobs" --target package
