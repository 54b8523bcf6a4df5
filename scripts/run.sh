#!/usr/bin/env bash
# Builds fanecho and probes the local machine, or the targets given:
#   scripts/run.sh [fanecho arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default --target fanecho
if [ $# -eq 0 ]; then
  set -- /report:all /verbose 127.0.0.1 localhost
fi
exec ./build/default/fanecho "$@"
