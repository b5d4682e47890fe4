#!/usr/bin/env bash
# Starts the conversion window in a private X server (Xvfb, 96 dpi) and saves a picture
# of its client area: scripts/screenshot.sh [OUTPUT.png] (default build/screenshot.png).
# scripts/screenshot.sh --settings [DIR] saves the settings dialog's five tabs instead,
# as DIR/settings-1.png .. settings-5.png (default build/).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
bash "$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$ROOT/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" --target pagewright -j "$(nproc)" >/dev/null
APP="$ROOT/build/app/pagewright"
if [ "${1:-}" = "--settings" ]; then
  # The window test drives the dialog and takes the pictures on the way.
  SHOTS="${2:-$ROOT/build}" bash "$ROOT/tests/ui/xvfb_settings.sh" "$APP" "$ROOT/../shared/corpus/pdfjs_clippath.pdf"
  ls "${2:-$ROOT/build}"/settings-*.png
  exit 0
fi
OUT="${1:-$ROOT/build/screenshot.png}"

. "$ROOT/scripts/xvfb.sh"
trap stop_window EXIT
start_xvfb

QT_QPA_PLATFORM=xcb "$APP" &
APP_PID=$!
WINDOW="$(find_window "Pagewright PDF Version Converter")" || WINDOW=""
if [ -z "$WINDOW" ]; then
  echo "screenshot: the window did not appear" >&2
  exit 1
fi
sleep 1  # let the first paint finish
mkdir -p "$(dirname "$OUT")"
xwininfo -id "$WINDOW" | grep -E 'Absolute upper-left|Width|Height' >&2
xwd -silent -id "$WINDOW" | xwdtopnm 2>/dev/null | pnmtopng > "$OUT"
echo "$OUT"
