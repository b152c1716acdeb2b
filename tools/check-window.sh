#!/usr/bin/env bash
# Starts the desktop program under Xvfb and a window manager that follows the EWMH
# conventions, then checks what the window manager learns of the main window: a normal
# top-level window with the program's icon, in its client list (what task bars show),
# owned by no other window, neither modal nor kept out of the task bar. The program is
# started with Qt's own options, which must change nothing: with -platform taken, no
# window would appear at all.
#   tools/check-window.sh PROGRAM
set -euo pipefail
program=$(realpath "$1")
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "check-window: $*" >&2
  [ -f "$work/program.log" ] && cat "$work/program.log" >&2
  exit 1
}

# Runs "$@" until it succeeds, ten seconds at most.
waitFor() {
  for _ in $(seq 100); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
waitFor test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
windowManagerReady() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
waitFor windowManagerReady || fail "the window manager did not start"

# A settings folder and working directory of its own; nothing of the user's is touched.
cd "$work"
XDG_CONFIG_HOME="$work/config" "$program" -platform offscreen -reverse -style windows \
  2>"$work/program.log" &
pids+=($!)

mainWindow() {
  local id
  for id in $(xprop -root -notype _NET_CLIENT_LIST | grep -o '0x[0-9a-f]*'); do
    if [ "$(xprop -id "$id" -notype WM_NAME)" = 'WM_NAME = "Tarnwick"' ]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
waitFor mainWindow || fail "no window named Tarnwick in the window manager's client list"
window=$(mainWindow)

property() { xprop -id "$window" -notype -len 16 "$1"; }
type=$(property _NET_WM_WINDOW_TYPE)
[ "$type" = "_NET_WM_WINDOW_TYPE = _NET_WM_WINDOW_TYPE_NORMAL" ] || fail "window type: $type"
property WM_TRANSIENT_FOR | grep -q 'not found' || fail "$(property WM_TRANSIENT_FOR)"
state=$(property _NET_WM_STATE)
if grep -q -E 'SKIP_TASKBAR|MODAL' <<<"$state"; then fail "window state: $state"; fi
property _NET_WM_ICON | grep -q 'not found' && fail "the window has no icon"
echo "check-window: $window is a normal top-level window with an icon, listed by the window manager"
