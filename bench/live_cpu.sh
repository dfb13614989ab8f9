#!/usr/bin/env bash
# The interactive program's CPU share while it scans live, measured from /proc/<pid>/stat
# (user + system time of all its threads: window, audio, decode worker) over a stretch of
# wall time, on a display and a sound server of its own: Xvfb with openbox, and a private
# PulseAudio daemon with a null sink that ALSA's default plays into. The X server's and the
# sound server's own shares are reported beside it.
#
# Usage: live_cpu.sh [kestrum] [seconds=30] [shot-dir]
# With a shot folder, the client area is also captured stopped (kestrum-stopped.png) and
# after 10 s live (kestrum-live.png). KESTRUM_WARMUP=s measures only after s seconds live. KESTRUM_PERF=file records a perf profile (call
# graphs) of the program over the measured stretch into that file.
#
# The screen is 1024 x 864 (KESTRUM_SCREEN to change it): the program asks for a 560 x 760
# client area there, as on 1024 x 768, and the window manager's frame still fits, so the
# window keeps its design size instead of being squeezed to the screen.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../tests/live/lib/pulse.sh"
. "$here/../tests/live/lib/display.sh"

kestrum=${1:-$here/../build/kestrum}
seconds=${2:-30}
shots=${3:-}
title="Kestrum - Radio Band Scanner"
tmp=$(mktemp -d /tmp/kestrum_live_cpu.XXXXXX)
xvfb_pid= wm_pid= app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  pulse_stop
  rm -rf "$tmp"
}
trap cleanup EXIT

[ -x "$kestrum" ] || { echo "live_cpu: $kestrum is missing (build the kestrum target)"; exit 1; }

# A display number nobody uses.
display_start 71 "${KESTRUM_SCREEN:-1024x864}" "$tmp" || exit 1
pulse_start "$tmp/pulse" || exit 1

"$kestrum" >"$tmp/app.log" 2>&1 &
app_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
[ -n "$wid" ] || { echo "live_cpu: the window did not appear"; cat "$tmp/app.log"; exit 1; }
sleep 1
[ -n "$shots" ] && mkdir -p "$shots" && import -window "$wid" "$shots/kestrum-stopped.png"

# Start: the start/stop button's rectangle at 560 x 760 is {32, 285, 274, 331}.
xdotool mousemove --window "$wid" 153 308 click 1
sleep 1
# Park the pointer outside the buttons so no hover look is captured.
xdotool mousemove --window "$wid" 280 180
# KESTRUM_WARMUP=s waits that long before measuring: after the first sweep (41 s at the
# default sweep) every clip is decoded and the decode worker idles.
sleep "${KESTRUM_WARMUP:-0}"

ticks() {  # user + system clock ticks of a process, all threads
  awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}
hz=$(getconf CLK_TCK)
thread_ticks() {  # "tid ticks" for every thread of a process
  for t in /proc/"$1"/task/*; do awk -v t="${t##*/}" '{ print t, $14 + $15 }' "$t/stat" 2>/dev/null; done
}
thread_ticks "$app_pid" >"$tmp/threads0"
a0=$(ticks "$app_pid") x0=$(ticks "$xvfb_pid") p0=$(ticks "$KESTRUM_PULSE_PID") t0=$(date +%s.%N)
perf_pid=
if [ -n "${KESTRUM_PERF:-}" ]; then
  perf record -q -g -p "$app_pid" -o "$KESTRUM_PERF" -- sleep "$seconds" >/dev/null 2>&1 &
  perf_pid=$!
fi
if [ -n "$shots" ]; then
  sleep 10
  import -window "$wid" "$shots/kestrum-live.png"
  sleep $((seconds > 10 ? seconds - 10 : 0))
else
  sleep "$seconds"
fi
[ -n "$perf_pid" ] && wait "$perf_pid"
a1=$(ticks "$app_pid") x1=$(ticks "$xvfb_pid") p1=$(ticks "$KESTRUM_PULSE_PID") t1=$(date +%s.%N)
thread_ticks "$app_pid" >"$tmp/threads1"
kill -0 "$app_pid" 2>/dev/null || { echo "live_cpu: kestrum ended early"; cat "$tmp/app.log"; exit 1; }

awk -v a=$((a1 - a0)) -v x=$((x1 - x0)) -v p=$((p1 - p0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" 'BEGIN {
  wall = t1 - t0
  printf "over %.1f s live: kestrum %.1f %% of one core; Xvfb %.1f %%; pulseaudio %.1f %%\n",
         wall, 100 * a / hz / wall, 100 * x / hz / wall, 100 * p / hz / wall
}'
# Each thread's share: the window thread is the process id; of the others, the audio thread
# wakes every few milliseconds, the decode worker only while it decodes clips.
awk -v pid="$app_pid" -v hz="$hz" -v t0="$t0" -v t1="$t1" '
  NR == FNR { before[$1] = $2; next }
  { d = $2 - before[$1]; printf "  thread %s%s: %.1f %% of one core\n", $1, ($1 == pid ? " (window)" : ""), 100 * d / hz / (t1 - t0) }
' "$tmp/threads0" "$tmp/threads1"
