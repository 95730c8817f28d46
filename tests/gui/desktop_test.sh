#!/usr/bin/env bash
# Runs the desktop test on an X display of its own (Xvfb, 1280x1024) with a window manager
# (openbox); xdotool, which the test drives the window with, needs both.
set -euo pipefail
test_bin=$1
shift
for tool in Xvfb openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "desktop_test: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
scratch=$(mktemp -d)
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
# The server picks a free display number and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$scratch/display" ] && break
  sleep 0.05
done
[ -s "$scratch/display" ] || { cat "$scratch/xvfb.log" >&2; echo "desktop_test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$scratch/display")"
HOME="$scratch" openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
wm=$!
# The window manager is ready once it owns the screen's manager selection.
for _ in $(seq 1 100); do
  xdotool search --class openbox >/dev/null 2>&1 || xdotool getactivewindow >/dev/null 2>&1 && break
  sleep 0.05
done
sleep 0.3
export QT_QPA_PLATFORM=xcb
export HOME="$scratch"
"$test_bin" "$@"
