# Sourced by the scripts that show the window on a private X server.
# start_xvfb: starts Xvfb (96 dpi) on the first free display, exports DISPLAY, sets XVFB
# to its process and returns once it answers.
start_xvfb() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
  XVFB=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "xvfb: the X server did not start" >&2
  return 1
}

# stop_window: ends the window (APP_PID, set by the caller) and the X server (XVFB).
XVFB=""
APP_PID=""
stop_window() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null || true
  wait 2>/dev/null || true
}

# find_window CAPTION: the mapped top-level window whose caption starts with CAPTION (the
# toolkit keeps a 1x1 leader window of the same name too), waiting up to 15 s.
find_window() {
  local id
  for _ in $(seq 150); do
    id="$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$1" 'index($0, t) && !/ 1x1\+/ {print $1; exit}')"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
