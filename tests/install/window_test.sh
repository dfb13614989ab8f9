#!/usr/bin/env bash
# The installed program in a real window, run by a user (nobody) who cannot write the
# prefix: on Xvfb with openbox and a private PulseAudio daemon (tests/live/lib), the window
# carries the program's class and icon, and a click on the render button writes the WAV into
# the music folder that the user's user-dirs.dirs names, and the status line says
# "SAVED <name>": its pixels equal the status line drawn with that text by the same
# controller on the headless display (status_line_shot).
# Usage: window_test.sh <build-dir> <path-of-status_line_shot> <wm-class>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../live/lib/pulse.sh"
. "$here/../live/lib/display.sh"

build=$(cd "$1" && pwd)
shot_tool=$2
wm_class=$3
title="Kestrum - Radio Band Scanner"
tmp=$(mktemp -d /tmp/kestrum_install_window.XXXXXX)
chmod 755 "$tmp"
shots="$build/install_window_shots"
xvfb_pid= wm_pid= app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid"; wait "$app_pid" 2>/dev/null; fi
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  pulse_stop
  chmod -R u+w "$tmp" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
die() { echo "FAIL: $*"; [ -f "$tmp/app.log" ] && cat "$tmp/app.log"; exit 1; }

for tool in Xvfb openbox xdotool xprop import convert compare setpriv; do
  command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh test installs it)"
done
[ -x "$shot_tool" ] || die "$shot_tool is missing (build the status_line_shot target)"
rm -rf "$shots" && mkdir -p "$shots"

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null || die "cmake --install failed"
chmod -R a-w "$prefix"
kestrum="$prefix/bin/kestrum"

# The user's home: a music folder named in user-dirs.dirs, and a private runtime folder.
home="$tmp/home"
mkdir -p "$home/.config" "$home/Tunes" "$home/runtime"
printf 'XDG_DESKTOP_DIR="$HOME/Desktop"\nXDG_MUSIC_DIR="$HOME/Tunes"\n' > "$home/.config/user-dirs.dirs"
chmod 700 "$home/runtime"
chown -R nobody:nogroup "$home"

display_start 93 1024x768 "$tmp" || die "no display"
pulse_start "$tmp/pulse" || die "the sound server did not start"
chmod 755 "$tmp/pulse"  # the user reaches the server's socket and the ALSA configuration

(cd "$home" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
   env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$home/runtime" \
   PULSE_SERVER="$PULSE_SERVER" PULSE_CLIENTCONFIG="$PULSE_CLIENTCONFIG" ALSA_CONFIG_PATH="$ALSA_CONFIG_PATH" \
   "$kestrum" >"$tmp/app.log" 2>&1) &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
[ -n "$wid" ] || die "no window titled \"$title\" appeared"
pass "window \"$title\" of the installed program appeared"
sleep 1

class=$(xprop -id "$wid" WM_CLASS | sed 's/^WM_CLASS(STRING) = //')
[ "$class" = "\"$wm_class\", \"$wm_class\"" ] && pass "WM_CLASS $class" || fail "WM_CLASS $class, expected \"$wm_class\""
icon=$(xprop -id "$wid" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | head -1)
[ "$icon" = "Icon (64 x 64)" ] && pass "window icon: 64 x 64" || fail "window icon: ${icon:-none}"

# The render button's centre, at the design size (560 x 760): {286, 285, 528, 331}.
xdotool mousemove --window "$wid" 407 308 click 1
xdotool mousemove --window "$wid" 280 180
wav=
for _ in $(seq 1 240); do
  for f in "$home"/Tunes/kestrum_*.wav; do [ -e "$f" ] && wav=$f; done
  [ -n "$wav" ] && [ "$(stat -c %s "$wav")" = 5760044 ] && break
  sleep 0.5
done
name=$(basename "${wav:-none}")
if [[ "$name" =~ ^kestrum_[0-9]{8}_[0-9]{6}\.wav$ ]] && [ "$(stat -c %s "$wav")" = 5760044 ]; then
  pass "the render button wrote Tunes/$name, 5760044 bytes"
else
  fail "no render in the music folder: ${wav:-no file}; the home holds: $(cd "$home" && find . -name '*.wav')"
fi
others=$(cd "$home" && find . -name 'kestrum_*.wav' ! -path "./Tunes/*")
[ -z "$others" ] && pass "nothing rendered elsewhere in the home" || fail "renders outside the music folder: $others"

# The status line {32, 708, 528, 721} against the same line drawn with "SAVED <name>", and
# with another name, which must differ (the comparison sees the text).
crop=496x13+32+708
sleep 0.6
import -window "$wid" "$shots/saved.png"
"$shot_tool" "SAVED $name" "$shots/expected.png" || fail "status_line_shot failed"
"$shot_tool" "SAVED kestrum_19990101_000000.wav" "$shots/other.png" || fail "status_line_shot failed"
for f in saved expected other; do convert "$shots/$f.png" -crop "$crop" +repage "$shots/${f}_status.png"; done
d=$(compare -metric AE "$shots/saved_status.png" "$shots/expected_status.png" null: 2>&1)
[ "${d%% *}" = 0 ] && pass "the status line reads \"SAVED $name\"" \
  || fail "the status line differs from \"SAVED $name\" in $d pixels (see $shots)"
d=$(compare -metric AE "$shots/saved_status.png" "$shots/other_status.png" null: 2>&1)
[ "${d%% *}" != 0 ] && pass "another name would show ($d pixels differ)" || fail "the status line comparison cannot tell names apart"

w=$(find "$prefix" -newer "$tmp/app.log" | head -3)
[ -z "$w" ] && pass "nothing written into the prefix" || fail "written into the prefix: $w"

xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid"
xdotool key alt+F4
code=
for _ in $(seq 1 60); do
  if ! kill -0 "$app_pid" 2>/dev/null; then wait "$app_pid"; code=$?; break; fi
  sleep 0.05
done
[ "$code" = 0 ] && pass "closed with exit code 0" || fail "exit code ${code:-none (still running)}"
[ -n "$code" ] && app_pid=

[ "$failures" -eq 0 ] && echo "all installed-window checks passed" || echo "$failures failure(s); screenshots in $shots"
[ "$failures" -eq 0 ]
