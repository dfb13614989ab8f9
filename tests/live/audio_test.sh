#!/usr/bin/env bash
# Live audio on a real sound server of the test's own, and without one.
# Usage: audio_test.sh <path-of-kestrum> <build-dir>
#
# Without a sound server or a card, --smoke exits 1 and prints nothing, and the audio
# thread reports a negative code. With a private PulseAudio daemon and a null sink: --smoke
# exits 0, also with further arguments after it; the scanner plays live through ALSA's
# default while the sink's monitor is recorded, and the recording holds sound at the right
# rate with no gap over 50 ms; killing the daemon mid-run ends the audio thread without a
# crash or a hang. If the daemon cannot start, the test fails.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/pulse.sh"

kestrum=$1
build=$2
driver="$build/tests/test_audio"
tmp=$(mktemp -d /tmp/kestrum_audio_live.XXXXXX)
trap 'pulse_stop; rm -rf "$tmp"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

for f in "$kestrum" "$driver"; do
  [ -x "$f" ] || { echo "FAIL: $f is missing (build the kestrum and test_audio targets)"; exit 1; }
done

# Runs the command with a time limit; its stdout and stderr go to $tmp/out and $tmp/err.
run() {
  timeout -k 5 "$1" "${@:2}" >"$tmp/out" 2>"$tmp/err"
}

expect_smoke() {  # expected exit code, description, further arguments after --smoke
  local want=$1 what=$2
  shift 2
  run 20 "$kestrum" --smoke "$@"
  local code=$?
  if [ "$code" -ne "$want" ]; then fail "--smoke $what: exit $code, expected $want"; cat "$tmp/out" "$tmp/err"; return; fi
  if [ -s "$tmp/out" ] || [ -s "$tmp/err" ]; then fail "--smoke $what printed something:"; cat "$tmp/out" "$tmp/err"; return; fi
  pass "--smoke $what: exit $code, nothing printed"
}

expect_no_device() {  # description
  expect_smoke 1 "$1"
  run 20 "$driver" --live report
  local code=$?
  if [ "$code" -eq 1 ] && grep -q '^hr 0x[89A-F]' "$tmp/out"; then
    pass "audio thread $1: $(cat "$tmp/out")"
  else
    fail "audio thread $1: exit $code, $(cat "$tmp/out" "$tmp/err")"
  fi
}

# ---- No sound server, no card ----
(
  pulse_no_server "$tmp/none"
  expect_no_device "with the sound server absent"
  exit $failures
) || failures=$((failures + $?))
(
  : > "$tmp/empty.conf"
  export ALSA_CONFIG_PATH="$tmp/empty.conf"
  export PULSE_SERVER="unix:$tmp/nobody-listens"
  expect_no_device "with no ALSA device at all"
  exit $failures
) || failures=$((failures + $?))

# ---- A real sound server ----
if ! pulse_start "$tmp/pulse"; then
  echo "FAIL: the PulseAudio daemon cannot start"
  exit 1
fi
pass "PulseAudio daemon $KESTRUM_PULSE_PID with sink $KESTRUM_PULSE_SINK"

expect_smoke 0 "with a sound server"
# Arguments after --smoke change nothing: still the device test. Without a display the
# window could not open (exit 1), so exit 0 can only come from the device test.
(
  failures=0
  unset DISPLAY WAYLAND_DISPLAY
  expect_smoke 0 "with further arguments" extra args
  exit $failures
) || failures=$((failures + $?))

for mode in "engine 3.5" "tone 3"; do
  set -- $mode
  run 60 "$driver" --live play "$1" "$2" "$KESTRUM_PULSE_MONITOR"
  code=$?
  sed 's/^/      /' "$tmp/out" "$tmp/err"
  [ "$code" -eq 0 ] && pass "live $1 for $2 s" || fail "live $1 for $2 s: exit $code"
done

# The sound server vanishes mid-run.
timeout -k 5 30 "$driver" --live lose 10 >"$tmp/lose.out" 2>"$tmp/lose.err" &
lose_pid=$!
for i in $(seq 1 200); do
  grep -q '^serving' "$tmp/lose.out" 2>/dev/null && break
  sleep 0.05
done
sleep 1
pulse_kill
wait "$lose_pid"
code=$?
sed 's/^/      /' "$tmp/lose.out" "$tmp/lose.err"
if [ "$code" -eq 0 ]; then
  pass "killing the daemon mid-run ends the audio thread"
else
  fail "killing the daemon mid-run: exit $code (124: hang, >128: crash)"
fi

[ "$failures" -eq 0 ] && echo "all passed" || echo "$failures failed"
exit $((failures > 0))
