#!/usr/bin/env bash
# The picture in a real window: the program on Xvfb with openbox and a private PulseAudio
# daemon, driven with xdotool and looked at through screenshots of its client area.
# Usage: picture_test.sh <path-of-kestrum> <build-dir>
#
# Checks: the stopped looks (pill "STOPPED" in RGB(255,92,77), start button border
# RGB(43,224,122)); after a click on start, the pill in RGB(255,181,71) and the start/stop
# border in RGB(255,92,77), and live audio on the null sink; a click on ECHO clears its
# check mark; a drag on the volume slider moves its knob and changes its value text; a
# click on the render button (stopped again) writes a 5760044-byte kestrum_YYYYMMDD_hhmmss.wav
# beside the program and changes the status line.
#
# The screen is 1024 x 864: the program asks for a 560 x 760 client area there (as on
# 1024 x 768), and the window manager's frame fits on it.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/pulse.sh"
. "$here/lib/display.sh"

kestrum=$1
title="Kestrum - Radio Band Scanner"
tmp=$(mktemp -d /tmp/kestrum_picture_live.XXXXXX)
xvfb_pid= wm_pid= app_pid=
progdir=$(cd "$(dirname "$kestrum")" && pwd)
before_wavs=$(ls "$progdir"/kestrum_*.wav 2>/dev/null)
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  pulse_stop
  # Only the files this test's render made.
  for f in "$progdir"/kestrum_*.wav; do
    [ -e "$f" ] || continue
    printf '%s\n' "$before_wavs" | grep -qxF "$f" || rm -f "$f"
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

[ -x "$kestrum" ] || { echo "FAIL: $kestrum is missing (build the kestrum target)"; exit 1; }

display_start 81 1024x864 "$tmp" || exit 1
pulse_start "$tmp/pulse" || exit 1

"$kestrum" >"$tmp/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
[ -n "$wid" ] || { echo "FAIL: the window did not appear"; cat "$tmp/app.log"; exit 1; }
sleep 1

shot() { import -window "$wid" "$tmp/$1.png"; }
pixel() {  # shot x y -> "r,g,b"
  convert "$tmp/$1.png" -format '%[fx:round(255*p{'"$2,$3"'}.r)],%[fx:round(255*p{'"$2,$3"'}.g)],%[fx:round(255*p{'"$2,$3"'}.b)]' info:
}
expect_pixel() {  # shot x y "r,g,b" what
  local got
  got=$(pixel "$1" "$2" "$3")
  if [ "$got" = "$4" ]; then pass "$5: ($2, $3) is RGB($4)"; else fail "$5: ($2, $3) is RGB($got), expected RGB($4)"; fi
}
count_colour() {  # shot WxH+X+Y hex -> pixels of exactly that colour in the crop
  convert "$tmp/$1.png" -crop "$2" +repage txt:- | grep -ci "#$3" || true
}
same_crop() {  # shot-a shot-b WxH+X+Y -> 0 when the crops are identical
  local d
  d=$(compare -metric AE <(convert "$tmp/$1.png" -crop "$3" +repage png:-) \
        <(convert "$tmp/$2.png" -crop "$3" +repage png:-) null: 2>&1)
  [ "${d%% *}" = "0" ]
}
away() { xdotool mousemove --window "$wid" 280 180; sleep 0.3; }

# The layout at 560 x 760: start/stop {32, 285, 274, 331}, render {286, 285, 528, 331},
# ECHO {32, 345, 275, 369}; the volume slider at (28, 532, 504, 15); its value text at
# (432, 517, 96, 13); the status line at (32, 708, 496, 13); the pill's right border at
# x = 522..523 around y = 87.
geom=$(xwininfo -id "$wid" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
[ "$geom" = "560x760" ] && pass "client area $geom" || fail "client area $geom, expected 560x760"

away
shot stopped
expect_pixel stopped 523 87 "255,92,77" "stopped pill"
expect_pixel stopped 33 308 "43,224,122" "start button border"
echo_marks=$(count_colour stopped 12x12+44+351 39FF88)
[ "$echo_marks" -gt 12 ] && pass "ECHO check mark at start ($echo_marks pixels)" || fail "ECHO check mark at start: $echo_marks pixels"

# Start.
xdotool mousemove --window "$wid" 153 308 click 1
away
sleep 0.5
shot live
expect_pixel live 523 87 "255,181,71" "scanning pill"
expect_pixel live 33 308 "255,92,77" "start/stop border while live"
if parec --device="$KESTRUM_PULSE_MONITOR" --format=s16le --rate=48000 --channels=2 --raw 2>/dev/null \
     | head -c 384000 >"$tmp/sink.raw"; then :; fi
peak=$(od -An -v -td2 -w2 "$tmp/sink.raw" | awk '{ v = $1 < 0 ? -$1 : $1; if (v > m) m = v } END { print m + 0 }')
[ "$peak" -gt 300 ] && pass "live audio on the null sink (peak $peak)" || fail "live audio on the null sink: peak $peak"

# ECHO off.
xdotool mousemove --window "$wid" 200 357 click 1
away
shot echo_off
echo_marks=$(count_colour echo_off 12x12+44+351 39FF88)
[ "$echo_marks" -eq 0 ] && pass "ECHO check mark cleared" || fail "ECHO check mark after the click: $echo_marks pixels"

# Volume: press at 252 on the track, drag to 100, release: 91 / 486 of 100 = 19.
xdotool mousemove --window "$wid" $((28 + 252)) 539 mousedown 1
sleep 0.2
xdotool mousemove --window "$wid" $((28 + 100)) 541
sleep 0.2
xdotool mouseup 1
away
shot volume
expect_pixel volume $((28 + 9 + 92)) 539 "57,255,136" "volume knob at 19 %"
if same_crop live volume 96x13+432+517; then fail "volume value text unchanged"; else pass "volume value text changed"; fi

# Stop, so that the status line keeps what the render says; then render 60 s of output
# into a WAV beside the program.
xdotool mousemove --window "$wid" 153 308 click 1
away
shot stopped_again
expect_pixel stopped_again 523 87 "255,92,77" "pill stopped again"
xdotool mousemove --window "$wid" 407 308 click 1
away
wav=
for _ in $(seq 1 120); do
  for f in "$progdir"/kestrum_*.wav; do
    [ -e "$f" ] || continue
    printf '%s\n' "$before_wavs" | grep -qxF "$f" || wav=$f
  done
  [ -n "$wav" ] && [ "$(stat -c %s "$wav")" = 5760044 ] && break
  sleep 0.5
done
name=$(basename "${wav:-none}")
if [[ "$name" =~ ^kestrum_[0-9]{8}_[0-9]{6}\.wav$ ]] && [ "$(stat -c %s "$wav")" = 5760044 ]; then
  pass "render wrote $name, 5760044 bytes"
else
  fail "render: ${wav:-no file} $( [ -n "$wav" ] && stat -c %s "$wav")"
fi
sleep 0.5
shot rendered
if same_crop stopped_again rendered 496x13+32+708; then fail "status line unchanged after the render"; else pass "status line changed after the render"; fi

kill -0 "$app_pid" 2>/dev/null && pass "still running" || fail "the program ended: $(cat "$tmp/app.log")"
exit $failures
