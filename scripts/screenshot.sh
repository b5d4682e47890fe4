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

# The first display number nobody holds.
N=90
while [ -e "/tmp/.X11-unix/X$N" ] || [ -e "/tmp/.X$N-lock" ]; do N=$((N + 1)); done
Xvfb ":$N" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
APP_PID=""
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  kill "$XVFB" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$N"
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

QT_QPA_PLATFORM=xcb "$APP" &
APP_PID=$!
WINDOW=""
for _ in $(seq 100); do
  # The mapped top-level window with the caption (the toolkit keeps a 1x1 leader window too).
  WINDOW="$(xwininfo -root -tree 2>/dev/null |
            awk '/"Pagewright PDF Version Converter/ && !/ 1x1\+/ {print $1; exit}')"
  [ -n "$WINDOW" ] && break
  sleep 0.1
done
if [ -z "$WINDOW" ]; then
  echo "screenshot: the window did not appear" >&2
  exit 1
fi
sleep 1  # let the first paint finish
mkdir -p "$(dirname "$OUT")"
xwininfo -id "$WINDOW" | grep -E 'Absolute upper-left|Width|Height' >&2
xwd -silent -id "$WINDOW" | xwdtopnm 2>/dev/null | pnmtopng > "$OUT"
echo "$OUT"
