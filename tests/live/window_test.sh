#!/usr/bin/env bash
# The program in a real window: kestrum on Xvfb (1024 x 864) with openbox and a private
# PulseAudio daemon, found by its title, pointed at and clicked with xdotool (through
# XTest, as remote desktops and automation do), closed through the window manager.
# Usage: window_test.sh <path-of-kestrum> <build-dir>
#
# Checks: the window "Kestrum - Radio Band Scanner" appears with a 560 x 760 client area,
# its outer frame (client area and the frame openbox reports in _NET_FRAME_EXTENTS) centred
# on the screen; the pointer over the render button ({286, 285, 528, 331} at 560 x 760)
# gives it its hovered fill RGB(14,24,17) at the next tick and moving away takes it back to
# RGB(10,16,12); a click on the start/stop button ({32, 285, 274, 331}) starts the scanner,
# and the dial line ("DIAL  %5.2f MHZ" at (32, 690, 496, 13)) changes while the stopped
# picture's does not; closing through the window manager ends the program with exit code 0
# within 2 s.
# Then with no sound server: the warning box "Kestrum" opens over the window, with its
# warning sign; while it is open the rain goes on (two shots 1 s apart differ), a click on
# start/stop does nothing, and moving the box leaves nothing of it behind; Enter closes it,
# and the window then works. Screenshots stay in the build dir's live_window_shots/ (the
# last run's).
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

screen_w=1024 screen_h=864
display_start 91 "${screen_w}x${screen_h}" "$tmp" || die "no display"
pulse_start "$tmp/pulse" || die "the sound server did not start"

"$kestrum" >"$tmp/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
[ -n "$wid" ] || die "no window titled \"$title\" appeared"
pass "window \"$title\" appeared"
sleep 1

# The client area: its size, and its place: the outer frame centred on the screen.
read -r w h x y < <(xwininfo -id "$wid" | awk '
  /Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
  /Width:/ { w = $2 } /Height:/ { h = $2 } END { print w, h, x, y }')
[ "${w}x${h}" = "560x760" ] && pass "client area ${w}x${h}" || fail "client area ${w}x${h}, expected 560x760"
read -r fl fr ft fb < <(xprop -id "$wid" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ',')
if [ -z "$fb" ]; then
  fail "openbox reports no frame extents"
else
  want_x=$(( (screen_w - (fl + w + fr)) / 2 )) want_y=$(( (screen_h - (ft + h + fb)) / 2 ))
  [ "$want_y" -lt 0 ] && want_y=0
  if [ $((x - fl)) = "$want_x" ] && [ $((y - ft)) = "$want_y" ]; then
    pass "outer frame centred at ($want_x, $want_y) (frame $fl $fr $ft $fb)"
  else
    fail "outer frame at ($((x - fl)), $((y - ft))), expected ($want_x, $want_y) (frame $fl $fr $ft $fb)"
  fi
fi

shot() { import -window "$wid" "$shots/$1.png"; }
dial() { convert "$shots/$1.png" -crop 496x13+32+690 +repage "$shots/$1_dial.png"; }
same_dial() {  # a b -> 0 when the dial lines of two shots are identical
  local d
  d=$(compare -metric AE "$shots/$1_dial.png" "$shots/$2_dial.png" null: 2>&1)
  [ "${d%% *}" = "0" ]
}
away() { xdotool mousemove --window "$wid" 280 180; }
pixel() {  # shot x y -> "r,g,b"
  convert "$shots/$1.png" -format '%[fx:round(255*p{'"$2,$3"'}.r)],%[fx:round(255*p{'"$2,$3"'}.g)],%[fx:round(255*p{'"$2,$3"'}.b)]' info:
}
expect_pixel() {  # shot x y "r,g,b" what
  local got
  got=$(pixel "$1" "$2" "$3")
  if [ "$got" = "$4" ]; then pass "$5: ($2, $3) is RGB($4)"; else fail "$5: ($2, $3) is RGB($got), expected RGB($4)"; fi
}

# Hover: the render button's fill at (316, 290), plain and hovered; the look changes at the
# next 33 ms tick after the pointer moves.
away
sleep 0.2
shot hover_before
expect_pixel hover_before 316 290 "10,16,12" "render button, pointer away"
xdotool mousemove --window "$wid" 400 308
sleep 0.2
shot hover_on
expect_pixel hover_on 316 290 "14,24,17" "render button under the pointer"
away
sleep 0.2
shot hover_off
expect_pixel hover_off 316 290 "10,16,12" "render button, pointer away again"

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

# ---- The warning box: no sound server, so the device cannot open ----
pulse_stop
pulse_no_server "$tmp/nopulse"
"$kestrum" >"$tmp/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
[ -n "$wid" ] || die "no window titled \"$title\" appeared without a sound server"
box=$(timeout 10 xdotool search --sync --onlyvisible --name "^Kestrum\$" | head -1)
if [ -z "$box" ]; then
  fail "no warning box"
else
  pass "warning box \"Kestrum\" open"
  sleep 0.5
  import -window "$box" "$shots/box.png"
  import -window root "$shots/box_screen_a.png"
  sleep 1
  import -window root "$shots/box_screen_b.png"
  # The main window's client area on the screen, and the box's.
  read -r mx my < <(xwininfo -id "$wid" | awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 } END { print x, y }')
  read -r bw bh bx by < <(xwininfo -id "$box" | awk '
    /Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
    /Width:/ { w = $2 } /Height:/ { h = $2 } END { print w, h, x, y }')
  yellow=$(convert "$shots/box.png" txt:- | grep -ci '#FFC800' || true)
  [ "$yellow" -gt 150 ] && pass "warning sign in the box ($yellow yellow pixels)" || fail "warning sign: $yellow yellow pixels"
  # The rain behind the box goes on: the main window's left strip, clear of the box.
  for s in a b; do
    convert "$shots/box_screen_$s.png" -crop "100x700+$((mx + 5))+$((my + 20))" +repage "$shots/box_strip_$s.png"
  done
  d=$(compare -metric AE "$shots/box_strip_a.png" "$shots/box_strip_b.png" null: 2>&1)
  d=${d%% *}
  if [[ "$d" =~ ^[0-9]+$ ]] && [ "$d" -gt 0 ]; then pass "main window keeps painting under the box ($d pixels changed in 1 s)"
  else fail "main window frozen while the box is open (compare: $d)"; fi
  # A click on start/stop does nothing while the box is open.
  xdotool mousemove --window "$wid" 153 308 click 1
  sleep 0.4
  import -window root "$shots/box_click.png"
  got=$(convert "$shots/box_click.png" -format "%[fx:round(255*p{$((mx + 33)),$((my + 308))}.r)],%[fx:round(255*p{$((mx + 33)),$((my + 308))}.g)],%[fx:round(255*p{$((mx + 33)),$((my + 308))}.b)]" info:)
  [ "$got" = "43,224,122" ] && pass "click ignored while the box is open" || fail "start/stop border RGB($got) after a click under the box"
  # Move the box off the main window: where it was, only the main window's picture.
  xdotool windowmove "$box" 0 0
  sleep 0.5
  import -window root "$shots/box_moved.png"
  light=$(convert "$shots/box_moved.png" -crop "${bw}x${bh}+${bx}+${by}" +repage txt:- | grep -ciE '#(FFFFFF|F0F0F0|FFC800)' || true)
  [ "$light" -lt 20 ] && pass "no trail where the box was ($light box-coloured pixels)" \
    || fail "trail of the box left on the main window: $light box-coloured pixels"
  # Enter closes it.
  xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box"
  xdotool key Return
  sleep 0.5
  if xdotool search --onlyvisible --name "^Kestrum\$" >/dev/null 2>&1; then fail "box still open after Enter"
  else pass "Enter closed the box"; fi
  xdotool mousemove --window "$wid" 153 308 click 1
  sleep 0.5
  shot after_box
  expect_pixel after_box 33 308 "255,92,77" "start/stop works after the box"
fi
xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid"
xdotool key alt+F4
for _ in $(seq 1 40); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$app_pid" 2>/dev/null; then fail "still running 2 s after the close (box run)"
else wait "$app_pid"; code=$?; app_pid=; [ "$code" = 0 ] && pass "box run: exit code 0" || fail "box run: exit code $code: $(cat "$tmp/app.log")"; fi

echo "screenshots: $shots"
exit $failures
