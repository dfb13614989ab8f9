#!/usr/bin/env bash
# The program in a real window: kestrum on Xvfb (1024 x 768) with openbox and a private
# PulseAudio daemon, found by its title, clicked with xdotool, closed through the window
# manager.
# Usage: window_test.sh <path-of-kestrum> <build-dir>
#
# Checks: the window "Kestrum - Radio Band Scanner" appears with a 560 x 760 client area,
# centred on the screen; a click on the start/stop button ({32, 285, 274, 331} at 560 x 760)
# starts the scanner, and the dial line ("DIAL  %5.2f MHZ" at (32, 690, 496, 13)) changes
# while the stopped picture's does not; closing through the window manager ends the
# program with exit code 0 within 2 s. Screenshots stay in the build dir's
# live_window_shots/ (the last run's).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/pulse.sh"
. "$here/lib/display.sh"

kestrum=$1
build=${2:-/tmp}
title="Kestrum - Radio Band Scanner"
tmp=$(mktemp -d /tmp/kestrum_window_live.XXXXXX)
shots="$build/live_window_shots"
xvfb_pid= wm_pid= app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid"; wait "$app_pid" 2>/dev/null; fi
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  pulse_stop
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
die() { echo "FAIL: $*"; [ -f "$tmp/app.log" ] && cat "$tmp/app.log"; exit 1; }

[ -x "$kestrum" ] || die "$kestrum is missing (build the kestrum target)"
for tool in Xvfb openbox xdotool xwininfo import convert compare; do
  command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh installs it)"
done
mkdir -p "$shots"

display_start 91 1024x768 "$tmp" || die "no display"
pulse_start "$tmp/pulse" || die "the sound server did not start"

"$kestrum" >"$tmp/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
[ -n "$wid" ] || die "no window titled \"$title\" appeared"
pass "window \"$title\" appeared"
sleep 1

# The client area: its size, and its place. The window asks for x = (1024 - 560) / 2 = 232;
# the window manager puts its frame there, so the client area lies a border's width to the
# right (y = 4 would put the title bar above the screen, so the manager may move it down).
read -r w h x y < <(xwininfo -id "$wid" | awk '
  /Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
  /Width:/ { w = $2 } /Height:/ { h = $2 } END { print w, h, x, y }')
[ "${w}x${h}" = "560x760" ] && pass "client area ${w}x${h}" || fail "client area ${w}x${h}, expected 560x760"
if [ "$x" -ge 232 ] && [ "$x" -le 240 ]; then pass "centred across the screen (client x = $x)"
else fail "client area at x = $x, expected 232 plus the frame's border"; fi

shot() { import -window "$wid" "$shots/$1.png"; }
dial() { convert "$shots/$1.png" -crop 496x13+32+690 +repage "$shots/$1_dial.png"; }
same_dial() {  # a b -> 0 when the dial lines of two shots are identical
  local d
  d=$(compare -metric AE "$shots/$1_dial.png" "$shots/$2_dial.png" null: 2>&1)
  [ "${d%% *}" = "0" ]
}
away() { xdotool mousemove --window "$wid" 280 180; }

away
shot stopped_a
dial stopped_a
sleep 1
shot stopped_b
dial stopped_b
same_dial stopped_a stopped_b && pass "dial line still while stopped" || fail "dial line moved while stopped"

# Start: the centre of the start/stop button.
xdotool mousemove --window "$wid" 153 308 click 1
away
sleep 0.6
shot live_a
dial live_a
sleep 1.2
shot live_b
dial live_b
if same_dial live_a live_b; then
  fail "dial line unchanged 1.2 s after start (the engine does not run)"
else
  pass "dial line changes after start"
fi
if same_dial stopped_b live_b; then fail "dial line still as when stopped"; else pass "dial line left 87.50"; fi

# Close through the window manager: openbox's Alt+F4 asks the window to close
# (WM_DELETE_WINDOW), as its frame's close button does. Time the exit from there.
xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid"
t0=$(date +%s%N)
xdotool key alt+F4
code=
for _ in $(seq 1 40); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"
    code=$?
    break
  fi
  sleep 0.05
done
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
if [ -z "$code" ]; then
  fail "still running 2 s after the close"
else
  app_pid=
  [ "$code" = 0 ] && pass "exit code 0 after ${ms} ms" || fail "exit code $code after ${ms} ms: $(cat "$tmp/app.log")"
fi

echo "screenshots: $shots"
exit $failures
