#!/usr/bin/env bash
# kestrum.exe in a real window under Wine: Xvfb (1024 x 1024) with openbox, a private
# PulseAudio daemon with a null sink, and a private Wine prefix made here (or the one that
# WINEPREFIX names, when the caller has made one already).
# Usage: window_test.sh <path-of-kestrum.exe> [output-dir]
#
# Checks, with the sound server: a window titled "Kestrum - Radio Band Scanner" appears
# with a 560 x 760 client area; stopped, the state pill's border ({..., 522..523, ...} around
# y = 87) is red and the null sink is silent; a click on START (the centre of
# {32, 285, 274, 331}) turns the pill amber and the start/stop border red, and makes sound at
# the sink (RMS of 1 s of its monitor above silence); closing through the window manager
# ends the program with exit code 0 within 2 s.
# Without a sound server: a warning box captioned "Kestrum" opens and the window goes on
# painting behind it (its rain moves); once the box is dismissed, RENDER changes the status
# line at once, writes a 60 s WAV file (5760044 bytes) beside the program and changes the
# status line again; closing still ends the program with exit code 0 within 2 s.
# Screenshots stay in output-dir/windows_window_shots/ (the last run's; output-dir defaults
# to /tmp).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../live/lib/pulse.sh"
. "$here/../live/lib/display.sh"

exe=${1:-}
out=${2:-/tmp}
title="Kestrum - Radio Band Scanner"
wine=${WINE:-wine}
# RMS of 16-bit samples below which the sink counts as silent (about -61 dBFS).
silence_rms=30

tmp=$(mktemp -d /tmp/kestrum_wine_window.XXXXXX)
shots="$out/windows_window_shots"
xvfb_pid= wm_pid= app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid"; wait "$app_pid" 2>/dev/null; fi
  # The Wine session belongs to this display, which goes now.
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  pulse_stop
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
die() { echo "FAIL: $*"; cat "$tmp"/app*.log 2>/dev/null; exit 1; }

[ -n "$exe" ] && [ -f "$exe" ] || die "usage: $0 <path-of-kestrum.exe> [output-dir] (no file at '$exe')"
for tool in "$wine" wineserver Xvfb openbox xdotool xwininfo import convert compare parec; do
  command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh installs it)"
done
mkdir -p "$shots" "$tmp/prog"
# A copy of the program: the render button writes its WAV file beside it.
cp "$exe" "$tmp/prog/kestrum.exe"
exe="$tmp/prog/kestrum.exe"

display_start 93 1024x1024 "$tmp" || die "no display"
pulse_start "$tmp/pulse" || die "the sound server did not start"

# Wine without its .NET and HTML engines (nothing here needs them, and their installers
# would ask), without menu entries in the user's desktop, and quiet.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX" ]; then
  export WINEPREFIX="$tmp/prefix"
  "$wine" wineboot -i >"$tmp/wineboot.log" 2>&1 || die "wineboot failed: $(cat "$tmp/wineboot.log")"
else
  # Wine's desktop takes the screen size from the display of the first program of a
  # session: end a session the caller left running, so that this one starts on this display.
  wineserver -k 2>/dev/null
fi
wineserver -w

shot() { import -window "$wid" "$shots/$1.png"; }
pixel() {  # shot x y -> "r,g,b"
  convert "$shots/$1.png" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}
expect_pixel() {  # shot x y "r,g,b" what
  local got
  got=$(pixel "$1" "$2" "$3")
  if [ "$got" = "$4" ]; then pass "$5: ($2, $3) is RGB($4)"; else fail "$5: ($2, $3) is RGB($got), expected RGB($4)"; fi
}
same_crop() {  # shot-a shot-b WxH+X+Y -> 0 when the crops are identical
  convert "$shots/$1.png" -crop "$3" +repage "$tmp/crop_a.png"
  convert "$shots/$2.png" -crop "$3" +repage "$tmp/crop_b.png"
  local d
  d=$(compare -metric AE "$tmp/crop_a.png" "$tmp/crop_b.png" null: 2>&1)
  [ "${d%% *}" = "0" ]
}
sink_rms() {  # RMS of 1 s of the null sink's monitor, 16-bit stereo at 48 kHz
  parec --device="$KESTRUM_PULSE_MONITOR" --format=s16le --rate=48000 --channels=2 --raw 2>/dev/null \
    | head -c 192000 >"$tmp/sink.raw"
  od -An -v -td2 -w2 "$tmp/sink.raw" | awk '{ s += $1 * $1; n++ } END { printf "%d\n", n ? sqrt(s / n) : 0 }'
}
away() { xdotool mousemove --window "$wid" 280 180; sleep 0.3; }

find_window() {  # name-pattern half-seconds -> the first visible window of that name
  # Polled rather than with --sync: a search that meets a window as it goes away fails.
  local w=
  for _ in $(seq 1 "$2"); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$w" ] && break
    sleep 0.5
  done
  echo "$w"
}

start_app() {  # log [NAME=value...] -> app_pid and wid, or dies when no window appears
  env "${@:2}" "$wine" "$exe" >"$tmp/$1" 2>&1 &
  app_pid=$!
  wid=$(find_window "^$title\$" 120)
  [ -n "$wid" ] || die "no window titled \"$title\" appeared"
}

# Close through the window manager: openbox's Alt+F4 asks the window to close, as its
# frame's close button does. Time the exit from there.
close_app() {  # what
  xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid"
  local t0 code= ms
  t0=$(date +%s%N)
  xdotool key alt+F4
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
    fail "$1: still running 2 s after the close"
  else
    app_pid=
    [ "$code" = 0 ] && pass "$1: exit code 0 after ${ms} ms" || fail "$1: exit code $code after ${ms} ms"
  fi
}

# ---- With the sound server ----
start_app app.log
name=$(xdotool getwindowname "$wid")
[ "$name" = "$title" ] && pass "window \"$name\" appeared" || fail "window title \"$name\""
sleep 1

# Wine hands the frame to the window manager: the X window is the client area.
geom=$(xwininfo -id "$wid" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
[ "$geom" = "560x760" ] && pass "client area $geom" || fail "client area $geom, expected 560x760"

away
shot stopped
expect_pixel stopped 523 87 "255,92,77" "stopped pill"
expect_pixel stopped 33 308 "43,224,122" "start button border"
rms=$(sink_rms)
[ "$rms" -lt "$silence_rms" ] && pass "silent while stopped (RMS $rms)" || fail "sound while stopped: RMS $rms"

xdotool mousemove --window "$wid" 153 308 click 1
away
rms=$(sink_rms)
[ "$rms" -ge "$silence_rms" ] && pass "START makes sound at the null sink (RMS $rms)" \
  || fail "no sound at the null sink after START: RMS $rms"
shot live
expect_pixel live 523 87 "255,181,71" "scanning pill"
expect_pixel live 33 308 "255,92,77" "start/stop border while live"
close_app "live"

# ---- Without a sound server: the warning box ----
start_app app_nosound.log PULSE_SERVER="unix:$tmp/nobody-listens"
box=$(find_window "^Kestrum\$" 40)
if [ -n "$box" ]; then
  pass "warning box \"Kestrum\" without a sound server"
  away
  shot box_a
  sleep 1
  shot box_b
  # The rain behind the band display moves only while the window is painted.
  if same_crop box_a box_b 560x60+0+0; then fail "the window stood still behind the box"
  else pass "the window goes on painting behind the box"; fi
  xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box"
  xdotool key Return
  sleep 0.5
  [ -z "$(xdotool search --onlyvisible --name "^Kestrum\$" 2>/dev/null)" ] && pass "the box closes with Return" \
    || fail "the box is still open after Return"
else
  fail "no warning box without a sound server"
fi

# A render from the button, while stopped: the window thread renders into a WAV file beside
# the program and answers nothing meanwhile; the status line says so before it starts.
away
shot before_render
xdotool mousemove --window "$wid" 407 308 click 1
sleep 1
shot rendering
status=496x13+32+708
if same_crop before_render rendering "$status"; then fail "status line unchanged while rendering"
else pass "status line changed at once by RENDER"; fi
wav=
for _ in $(seq 1 360); do
  for f in "$tmp"/prog/kestrum_*.wav; do [ -e "$f" ] && wav=$f; done
  [ -n "$wav" ] && break
  sleep 0.5
done
if [ -n "$wav" ]; then
  size=$(stat -c %s "$wav")
  [ "$size" = 5760044 ] && pass "RENDER wrote $(basename "$wav") ($size bytes)" || fail "RENDER wrote $size bytes"
  sleep 1
  shot rendered
  if same_crop rendering rendered "$status"; then fail "status line unchanged after the render"
  else pass "status line changed after the render"; fi
else
  fail "no WAV file beside the program 180 s after RENDER"
fi
close_app "after the box and a render"

echo "screenshots: $shots"
exit $failures
