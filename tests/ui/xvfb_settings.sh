#!/usr/bin/env bash
# The window under a real X server, driven with xdotool as a user would: with "Show
# settings before saving" checked, Convert brings up the settings dialog; Escape writes
# nothing, Enter writes the file Flate-compressed and hands it once to xdg-open (a stub
# on PATH that records its arguments). With SHOTS set, a picture of each of the
# dialog's five tabs is saved there as settings-N.png.
# Usage: xvfb_settings.sh APP SOURCE.pdf
set -euo pipefail
APP="$1"
SOURCE="$2"
WORK="$(mktemp -d)"
. "$(dirname "$0")/../../scripts/xvfb.sh"
cleanup() {
  stop_window
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "xvfb_settings: $*" >&2; exit 1; }
start_xvfb || fail "no X server"

# The opener the engine starts after the save: it records what it was given.
mkdir -p "$WORK/bin"
cat > "$WORK/bin/xdg-open" <<STUB
#!/bin/sh
printf '%s\n' "\$@" >> "$WORK/opened"
STUB
chmod +x "$WORK/bin/xdg-open"

gone() {
  for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q "\"$1" || return 0
    sleep 0.1
  done
  return 1
}
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
press() { xdotool windowfocus --sync "$1" 2>/dev/null || true; xdotool key "$2"; }

OUT="$WORK/out dir; name.pdf"
mkdir -p "$WORK/out dir"
PATH="$WORK/bin:$PATH" QT_QPA_PLATFORM=xcb "$APP" "$SOURCE" "$OUT" &
APP_PID=$!
MAIN="$(find_window "Pagewright PDF Version Converter")" || fail "the window did not appear"
sleep 1
click "$MAIN" 110 374  # Show settings before saving
click "$MAIN" 141 346  # Convert
DLG="$(find_window "Document Settings and Preferences")" || fail "Convert showed no settings dialog"
sleep 0.5
if [ -n "${SHOTS:-}" ]; then
  mkdir -p "$SHOTS"
  for tab in 1 2 3 4 5; do
    xwd -silent -id "$DLG" | xwdtopnm 2>/dev/null | pnmtopng > "$SHOTS/settings-$tab.png"
    press "$DLG" ctrl+Tab
    sleep 0.3
  done
fi
press "$DLG" Escape
gone "Document Settings and Preferences" || fail "Escape did not close the dialog"
sleep 0.5
[ ! -e "$OUT" ] || fail "Escape wrote $OUT"
[ ! -e "$WORK/opened" ] || fail "Escape opened a file"

click "$MAIN" 141 346
DLG="$(find_window "Document Settings and Preferences")" || fail "the second Convert showed no dialog"
sleep 0.5
press "$DLG" Return
find_window "Pagewright PDF Version Converter\"" >/dev/null || true  # the message after the save
for _ in $(seq 100); do [ -e "$WORK/opened" ] && break; sleep 0.1; done
[ -s "$OUT" ] || fail "Enter wrote no file"
grep -aq "/FlateDecode" "$OUT" || fail "the streams of $OUT are not Flate-compressed"
[ "$(cat "$WORK/opened" 2>/dev/null)" = "$OUT" ] || fail "xdg-open was given '$(cat "$WORK/opened" 2>/dev/null)', not '$OUT'"
echo "xvfb_settings: Escape wrote nothing; Enter wrote $(wc -c < "$OUT") bytes and opened them once"
