#!/usr/bin/env bash
# Live audio figures on a private PulseAudio daemon (tests/live/lib/pulse.sh): the latency
# from the start request to the first sound at the sink (median of 5, a tone and the scanner
# with its first clip decoded on the audio thread), then the audio thread's CPU share and
# the underruns and gaps over SECONDS of live scanning while `kestrum --render` renders 60 s
# beside it (the same render inside the driver when the program is not built).
# Usage: bench/audio_live.sh [build-dir] [seconds]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
. "$root/tests/live/lib/pulse.sh"
tmp=$(mktemp -d /tmp/kestrum_audio_bench.XXXXXX)
trap 'pulse_stop; rm -rf "$tmp"' EXIT

driver="$build/tests/test_audio"
[ -x "$driver" ] || { echo "build the test_audio target first"; exit 1; }
kestrum="$build/kestrum"
[ -x "$kestrum" ] || kestrum=""

pulse_start "$tmp/pulse" || exit 1
"$driver" --live measure "$seconds" "$KESTRUM_PULSE_MONITOR" $kestrum
