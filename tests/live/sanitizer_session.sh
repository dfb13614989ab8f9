#!/usr/bin/env bash
# A sanitizer build of the real kestrum through one scripted window session, on the live
# tests' own display (Xvfb 1024 x 768 with openbox) and sound server (a private PulseAudio
# null sink): START, ECHO and REVERB off and on, a volume drag, STOP and START, the render
# button (60 s into a WAV file while the scanner is live), a resize, and a close through
# the window manager.
# Usage: sanitizer_session.sh <path-of-kestrum> <asan|tsan> [build-dir]
#   asan: a build with -fsanitize=address,undefined (LeakSanitizer included)
#   tsan: a build with -fsanitize=thread
#
# Fails on a report whose stack reaches our code, on a crash (the program gone before the
# close, killed by a signal, or stopped by a sanitizer error), and on an exit code other
# than 0 after the close. A report "reaches our code" when one of its frames lies in the
# kestrum executable (the program's own sources, minimp3 and the inlined standard
# templates they use), in the stacks of the accesses or allocations the report is about;
# the stacks that only say where a thread or a mutex was created, or where a raced-on
# block was allocated, do not count. Reports from inside the libraries are suppressed in
# tests/*.supp; any that remain and stay inside the libraries are listed, not failed.
# The sanitizers' reports go to files (log_path), the program's own output to app.log;
# both stay in the build dir's sanitizer_session_<kind>/ after the run.
set -u
here=$(cd "$(dirname "$0")" && pwd)
supp=$(cd "$here/.." && pwd)
. "$here/lib/pulse.sh"
. "$here/lib/display.sh"

kestrum=${1:?usage: sanitizer_session.sh <path-of-kestrum> <asan|tsan> [build-dir]}
kind=${2:?usage: sanitizer_session.sh <path-of-kestrum> <asan|tsan> [build-dir]}
build=${3:-$(dirname "$kestrum")}
title="Kestrum - Radio Band Scanner"
out="$build/sanitizer_session_$kind"
tmp=$(mktemp -d /tmp/kestrum_sanitizer_session.XXXXXX)
xvfb_pid= wm_pid= app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -KILL "$app_pid"; wait "$app_pid" 2>/dev/null; fi
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  pulse_stop
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # a stopped session still cleans up
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
die() { echo "FAIL: $*"; [ -f "$out/app.log" ] && tail -20 "$out/app.log"; exit 1; }
t_start=$(date +%s)
elapsed() { echo "$(($(date +%s) - t_start)) s"; }

[ -x "$kestrum" ] || die "$kestrum is missing (build the kestrum target)"
for tool in Xvfb openbox xdotool xwininfo import convert compare awk; do
  command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh installs it)"
done
rm -rf "$out"
mkdir -p "$out/shots"

# The program runs from a folder of its own, so the render button's WAV file (written
# beside the program) and anything it keeps under HOME stay in the temporary folder.
mkdir -p "$tmp/bin" "$tmp/home"
cp "$kestrum" "$tmp/bin/kestrum"
exe="$tmp/bin/kestrum"

# exitcode=0: a report alone does not change the exit code; verdict (below) judges them,
# and a sanitizer error that stops the program shows as the program gone before the close.
# Every frame names its module, so that the judge can tell ours from the libraries'.
logs="$out/report"
common="log_path=$logs:exitcode=0:stack_trace_format='    #%n %p %F %L %M'"
supp_of() { [ -f "$supp/$1.supp" ] && echo ":suppressions=$supp/$1.supp"; }
case "$kind" in
  asan)
    export ASAN_OPTIONS="$common:detect_leaks=1$(supp_of asan)"
    export LSAN_OPTIONS="print_suppressions=0$(supp_of lsan)"
    export UBSAN_OPTIONS="$common:print_stacktrace=1$(supp_of ubsan)"
    ;;
  tsan)
    export TSAN_OPTIONS="$common:halt_on_error=0:second_deadlock_stack=1:history_size=7:print_suppressions=0$(supp_of tsan)"
    ;;
  *) die "unknown sanitizer kind \"$kind\" (asan or tsan)" ;;
esac

# ---- The reports ----
# One report per sanitizer warning or error, per leak, per runtime error. Frames count in
# the access and leak stacks, not in "created by"/"created at" and raced-on-block stacks.
judge() {
  awk '
    function flush() {
      if (!inrep) return
      if (fatal || ours) {
        bad++
        print "---- a report reaching our code" (fatal ? " (the program was stopped by it)" : "") ":"
        for (i = 1; i <= n; i++) print buf[i]
      } else {
        lib++
        print "---- a report inside the libraries only (not failed): " buf[1]
      }
      inrep = 0; n = 0; ours = 0; fatal = 0
    }
    function start() { flush(); inrep = 1; counting = 1 }
    /^(==[0-9]+==)?(WARNING|ERROR): (ThreadSanitizer|AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer)/ {
      if ($0 ~ /LeakSanitizer: detected memory leaks/) { flush(); next }
      start()
      if ($0 ~ /^(==[0-9]+==)?ERROR: (AddressSanitizer|ThreadSanitizer|UndefinedBehaviorSanitizer)/) fatal = 1
    }
    / runtime error: / { start(); ours = 1 }  # only our code is built with -fsanitize=undefined
    /^(Direct|Indirect) leak of/ { start() }
    /^SUMMARY:/ { flush(); next }
    !inrep { next }
    { buf[++n] = $0 }
    /^ *#[0-9]+ / {
      # A frame of the kestrum executable, not of a sanitizer runtime linked into it.
      if (counting && index($0, "(kestrum+0x") > 0 &&
          $0 !~ / in _*(interceptor_|sanitizer|tsan_|asan_|lsan_|ubsan_)|compiler-rt|libsanitizer/) ours = 1
      next
    }
    /:$/ { counting = ($0 !~ /created by .* at:$|created at:$|Location is heap block/) }
    END {
      flush()
      printf "%d report(s) reaching our code, %d inside the libraries only\n", bad, lib
      exit (bad > 0 ? 1 : 0)
    }
  ' "$@"
}

verdict() {  # judges the reports written so far; adds a failure when one reaches our code
  local reports
  shopt -s nullglob
  reports=("$logs".*)
  shopt -u nullglob
  if [ ${#reports[@]} -eq 0 ]; then
    pass "no sanitizer reports"
  elif judge "${reports[@]}"; then
    pass "no sanitizer report reaches our code"
  else
    fail "sanitizer reports reach our code (all in $out)"
  fi
}

display_start 93 1024x768 "$tmp" || die "no display"
pulse_start "$tmp/pulse" || die "the sound server did not start"

HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_DATA_HOME="$tmp/home/.local/share" \
  XDG_CACHE_HOME="$tmp/home/.cache" "$exe" >"$out/app.log" 2>&1 &
app_pid=$!

alive() {  # STEP: fails the session when the program is gone before the close
  if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"
    local code=$?
    app_pid=
    fail "the program ended during \"$1\" (exit code $code): a crash"
    tail -20 "$out/app.log"
    verdict
    exit 1
  fi
}

# Under the sanitizers the window comes up several times slower than usual.
wid=$(timeout 120 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
alive "start-up"
[ -n "$wid" ] || die "no window titled \"$title\" appeared within 120 s"
pass "window appeared after $(elapsed)"
sleep 2

shot() { import -window "$wid" "$out/shots/$1.png"; }
crop() { convert "$out/shots/$1.png" -crop "$3" +repage "$out/shots/$1_$2.png"; }
same() {  # A B PART -> 0 when PART of shots A and B is identical
  local d
  d=$(compare -metric AE "$out/shots/$1_$3.png" "$out/shots/$2_$3.png" null: 2>&1)
  [ "${d%% *}" = "0" ]
}
# A click that a busy window thread still takes: the pointer stays on the control until the
# program has had time to handle the press (a late press finds the button already up and
# the pointer wherever it is then).
click() {
  xdotool mousemove --sync --window "$wid" "$1" "$2"
  xdotool mousedown 1; sleep 0.3; xdotool mouseup 1
  sleep 1.5
  xdotool mousemove --window "$wid" 280 180
}

# Controls at the 560 x 760 client area: start/stop {32, 285, 274, 331}, render
# {286, 285, 528, 331}, echo {32, 345, 275, 369}, reverb {285, 345, 528, 369}, the volume
# slider {28, 532, 532, 547} with its value text at (432, 517, 96, 13), the dial line at
# (32, 690, 496, 13).
dial=496x13+32+690
volText=96x13+432+517

# The first START decodes its first clip on the audio thread: slow under the sanitizers.
click 153 308
moved=
shot live_0; crop live_0 dial "$dial"
for i in $(seq 1 60); do
  sleep 1
  alive "START"
  shot "live_$i"; crop "live_$i" dial "$dial"
  if ! same "live_$((i - 1))" "live_$i" dial; then moved=$i; break; fi
done
if [ -n "$moved" ]; then pass "START: the dial moves (seen after $moved s)"
else fail "dial line unchanged for 60 s after START (the engine does not run)"; fi

# ECHO off, REVERB on, ECHO on, REVERB off: each click must change its button's picture.
echoBox=243x24+32+345
verbBox=243x24+285+345
toggled=0
k=0
for step in "153 357 $echoBox" "406 357 $verbBox" "153 357 $echoBox" "406 357 $verbBox"; do
  set -- $step
  k=$((k + 1))
  # The pointer rests on the button first, so that its hover look is in both pictures.
  # Held until the button shows the press (at most 5 s), so that a slow program takes the
  # press while the button is still down; then released, and the switch must show.
  xdotool mousemove --sync --window "$wid" "$1" "$2"
  sleep 1.5
  shot "fx_${k}a"; crop "fx_${k}a" box "$3"
  xdotool mousedown 1
  for i in $(seq 1 10); do
    sleep 0.5
    shot "fx_${k}p"; crop "fx_${k}p" box "$3"
    same "fx_${k}a" "fx_${k}p" box || break
  done
  xdotool mouseup 1
  for i in $(seq 1 20); do
    sleep 0.5
    shot "fx_${k}b"; crop "fx_${k}b" box "$3"
    same "fx_${k}a" "fx_${k}b" box || same "fx_${k}p" "fx_${k}b" box || break
  done
  xdotool mousemove --window "$wid" 280 180
  same "fx_${k}a" "fx_${k}b" box || toggled=$((toggled + 1))
done
alive "ECHO and REVERB"
[ "$toggled" = 4 ] && pass "ECHO and REVERB switched off and on again"   || fail "only $toggled of 4 ECHO/REVERB clicks changed their button"

# The volume slider: a press on its track sets the value there at once; the button is held
# until the value text shows the change (so the program handles the press while the button
# is still down), then dragged further left and released.
shot vol_0; crop vol_0 vol "$volText"
xdotool mousemove --sync --window "$wid" 360 539
xdotool mousedown 1
changed=
for i in $(seq 1 30); do
  sleep 0.5
  shot "vol_$i"; crop "vol_$i" vol "$volText"
  if ! same vol_0 "vol_$i" vol; then changed=$i; break; fi
done
for x in 330 300 270 240; do xdotool mousemove --sync --window "$wid" "$x" 539; sleep 0.3; done
xdotool mouseup 1
sleep 1
xdotool mousemove --window "$wid" 280 180
alive "volume drag"
if [ -n "$changed" ]; then pass "volume dragged"
else fail "the volume value did not change for 15 s under the held button"; fi

click 153 308
sleep 1.5
click 153 308
sleep 2
alive "STOP and START"
pass "STOP and START"

# The render runs on the window thread while the audio thread goes on rendering the live
# engine: 60 s of sound, several times slower than usual under the sanitizers.
t_render=$(date +%s)
click 407 308
wav=
for _ in $(seq 1 1800); do
  wav=$(find "$tmp" -name 'kestrum_????????_??????.wav' 2>/dev/null | head -1)
  [ -n "$wav" ] && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.5
done
alive "render"
if [ -z "$wav" ]; then
  fail "no WAV file from the render button within 900 s"
else
  size=$(stat -c %s "$wav")
  [ "$size" = 5760044 ] && pass "render: $(basename "$wav"), $size bytes, in $(($(date +%s) - t_render)) s" \
    || fail "render: $(basename "$wav") has $size bytes, expected 5760044"
fi
sleep 2

xdotool windowsize "$wid" 760 900
sleep 3
alive "resize"
read -r w h < <(xwininfo -id "$wid" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w, h }')
[ "${w}x${h}" != "560x760" ] && pass "resized to ${w}x${h}" || fail "the window kept 560x760 after the resize"
shot resized

# Close through the window manager (openbox's Alt+F4 asks the window to close); the exit
# includes the leak check under AddressSanitizer.
xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid"
xdotool key alt+F4
code=
for _ in $(seq 1 600); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"
    code=$?
    app_pid=
    break
  fi
  sleep 0.1
done
if [ -z "$code" ]; then fail "still running 60 s after the close"
elif [ "$code" = 0 ]; then pass "exit code 0 after the close"
elif [ "$code" -gt 128 ]; then fail "killed by signal $((code - 128)) after the close: a crash"
else fail "exit code $code after the close"; fi

verdict
echo "session: $(elapsed); logs: $out"
exit $failures
