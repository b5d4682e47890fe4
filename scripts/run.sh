#!/usr/bin/env bash
# Installs what is missing and builds Pagewright. Without arguments it starts the
# conversion window when a display is there (else it prints the converter's usage);
# with arguments it runs the command-line converter.
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
WINDOW="$ROOT/build/app/pagewright"
if [ $# -eq 0 ]; then
  if [ -x "$WINDOW" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then exec "$WINDOW"; fi
  exec "$CONVERT" --help
fi
exec "$CONVERT" "$@"
