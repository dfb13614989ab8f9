#!/usr/bin/env bash
# The Windows stage of the test command: builds kestrum.exe and the Windows unit tests with
# MinGW-w64 (scripts/build-windows.sh) and runs them under Wine with a private prefix in the
# build folder, under a private Xvfb and PulseAudio daemon (tests/live/lib/):
#   - the catalogue, engine and render unit tests (CTest, label "windows");
#   - kestrum.exe --render: exit 0, header and size of a 5 s file, a trace whose pos and n
#     columns equal the Linux build's and whose chan column steps one channel per dwell;
#     a missing folder gives exit 2;
#   - kestrum.exe --smoke: 0 with the sound server up, 1 with none;
#   - the window (tests/windows/window_test.sh), when present.
# Argument: the Linux build folder whose kestrum the traces are compared with (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux_build=${1:-build}
wbuild=${KESTRUM_WINDOWS_BUILD:-build-windows}
start=$(date +%s)

targets=(test_catalog test_engine test_render)
if ls src/platform/win32/window_*.cpp src/platform/win32/canvas_*.cpp >/dev/null 2>&1; then
  targets+=(kestrum)
fi
bash scripts/build-windows.sh "${targets[@]}"
exe="$root/$wbuild/kestrum.exe"

# ---- Wine: a private prefix, made once ----
export WINEPREFIX="$root/$wbuild/wineprefix"
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko (nothing here needs them, and their installers would ask), no menu entries.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "-- wine: making the prefix $WINEPREFIX"
  DISPLAY= wineboot -i >/dev/null 2>&1
  wineserver -w
fi

tmp=$(mktemp -d)
source tests/live/lib/display.sh
source tests/live/lib/pulse.sh
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  pulse_stop
  [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
display_start 70 1024x1024 "$tmp"
pulse_start "$tmp/pulse"

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

echo "== Windows unit tests under Wine"
(cd "$wbuild" && ctest --output-on-failure -L windows) || failures=$((failures + 1))

if [ -f "$exe" ]; then
  echo "== kestrum.exe under Wine"
  # --render, with the trace; the Linux build renders the same arguments for comparison.
  mkdir -p "$tmp/win" "$tmp/lin"
  set +e
  (cd "$tmp/win" && KESTRUM_TRACE=1 wine "$exe" --render out.wav 5 noecho verb 300)
  code=$?
  set -e
  if [ "$code" -eq 0 ]; then pass "--render exits 0"; else fail "--render exits $code"; fi
  size=$(stat -c %s "$tmp/win/out.wav" 2>/dev/null || echo 0)
  if [ "$size" -eq 480044 ]; then pass "--render writes 480044 bytes (5 s)"; else fail "--render wrote $size bytes"; fi
  # RIFF 480036 WAVE, fmt  16, PCM, mono, 48000 Hz, 96000 B/s, 2, 16 bits, data 480000.
  header=52494646 header+=24530700 header+=57415645 header+=666d7420 header+=10000000 header+=01000100
  header+=80bb0000 header+=00770100 header+=02001000 header+=64617461 header+=00530700
  got=$(head -c 44 "$tmp/win/out.wav" 2>/dev/null | od -An -tx1 | tr -d ' \n')
  if [ "$got" = "$header" ]; then pass "44-byte header of a 5 s mono 16-bit 48 kHz file"; else fail "header $got"; fi

  trace_steps() {  # CSV: chan steps one channel at each new dwell (pos falls), else stays
    awk -F, 'NR == 2 { if ($5 < 0 || $5 > 205) bad = 1 }
             NR > 2 { step = ($5 - chan + 206) % 206; newdwell = ($6 < pos)
                      if ((newdwell && step != 1) || (!newdwell && step != 0)) bad = 1 }
             NR > 1 { chan = $5; pos = $6; rows++ }
             END { exit (bad || rows == 0) }' "$1"
  }
  if [ -x "$linux_build/kestrum" ]; then
    (cd "$tmp/lin" && KESTRUM_TRACE=1 "$root/$linux_build/kestrum" --render out.wav 5 noecho verb 300)
    if cmp -s <(cut -d, -f6,7 "$tmp/win/out.wav.csv") <(cut -d, -f6,7 "$tmp/lin/out.wav.csv"); then
      pass "trace: pos and n columns equal the Linux build's ($(($(wc -l < "$tmp/win/out.wav.csv") - 1)) rows)"
    else
      fail "trace: pos and n columns differ from the Linux build's"
      diff <(cut -d, -f6,7 "$tmp/win/out.wav.csv") <(cut -d, -f6,7 "$tmp/lin/out.wav.csv") | head -5
    fi
    if trace_steps "$tmp/lin/out.wav.csv"; then pass "Linux trace: chan steps one channel per dwell"; else fail "Linux trace: chan steps"; fi
  else
    fail "no Linux build at $linux_build/kestrum to compare the trace with"
  fi
  if trace_steps "$tmp/win/out.wav.csv"; then
    pass "trace: chan steps one channel per dwell from $(sed -n 2p "$tmp/win/out.wav.csv" | cut -d, -f5), wrapping at 206"
  else
    fail "trace: chan does not step one channel per dwell"
  fi
  set +e
  (cd "$tmp/win" && wine "$exe" --render nowhere/x.wav 1)
  code=$?
  set -e
  if [ "$code" -eq 2 ]; then pass "--render into a missing folder exits 2"; else fail "--render into a missing folder exits $code"; fi

  # --smoke: with the sound server, then without one.
  set +e
  wine "$exe" --smoke
  code=$?
  set -e
  if [ "$code" -eq 0 ]; then pass "--smoke exits 0 with the sound server up"; else fail "--smoke exits $code with the sound server up"; fi
  if [ -f tests/windows/window_test.sh ]; then
    echo "== the window under Wine"
    bash tests/windows/window_test.sh "$exe" "$root/$wbuild" || failures=$((failures + 1))
  fi
  wineserver -k >/dev/null 2>&1 || true
  pulse_stop
  pulse_no_server "$tmp/nopulse"
  set +e
  wine "$exe" --smoke
  code=$?
  set -e
  if [ "$code" -eq 1 ]; then pass "--smoke exits 1 with no sound server"; else fail "--smoke exits $code with no sound server"; fi
else
  fail "no $exe (the display and canvas backends are missing)"
fi

echo "== Windows stage: $(( $(date +%s) - start )) s, $failures failure(s)"
[ "$failures" -eq 0 ]
