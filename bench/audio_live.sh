#!/usr/bin/env bash
# Live audio figures on a private PulseAudio daemon (tests/live/lib/pulse.sh): the latency
# from the start request to the first sound at the sink (median of 5, a tone and the scanner
# with its first clip decoded on the audio thread), then the audio thread's CPU share and
# the underruns and gaps over SECONDS of live scanning while `kestrum --render` renders 60 s
# beside it (the same render inside the driver when the program is not built). When the
# program is built: the first START after launch of the real program, clicked in its window
# (Xvfb with openbox) a second after a fresh launch, to the first sound at the sink (median
# of 5 fresh launches). SECONDS 0 gives that figure alone.
# Usage: bench/audio_live.sh [build-dir] [seconds]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
. "$root/tests/live/lib/pulse.sh"
. "$root/tests/live/lib/display.sh"
. "$root/tests/live/lib/program.sh"
tmp=$(mktemp -d /tmp/kestrum_audio_bench.XXXXXX)
xvfb_pid= wm_pid= app_pid=
cleanup() {
  program_close
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  pulse_stop
  rm -rf "$tmp"
}
trap cleanup EXIT

driver="$build/tests/test_audio"
[ -x "$driver" ] || { echo "build the test_audio target first"; exit 1; }
kestrum="$build/kestrum"
[ -x "$kestrum" ] || kestrum=""

pulse_start "$tmp/pulse" || exit 1
status=0
if [ "$seconds" != 0 ]; then
  "$driver" --live measure "$seconds" "$KESTRUM_PULSE_MONITOR" $kestrum || status=1
fi

if [ -n "$kestrum" ]; then
  display_start 97 1024x768 "$tmp" || exit 1
  "$driver" --live calibrate 3 "$KESTRUM_PULSE_MONITOR" | tail -1 | sed 's/^/recorder /'
  runs=()
  for i in 1 2 3 4 5; do
    if ! program_launch "$kestrum" "$tmp/app.log"; then echo "launch $i: no window"; program_close; continue; fi
    sleep 1
    program_click_start "$driver" >/dev/null
    program_close
    runs+=("${start_ms:-none}")
  done
  median=$(printf '%s\n' "${runs[@]}" | grep -v none | sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "none" }')
  echo "first START after launch -> first sound at the sink, median of 5 fresh launches: $median ms (runs: ${runs[*]})"
fi
exit $status
