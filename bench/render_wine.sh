#!/usr/bin/env bash
# The Windows build's offline render under Wine against the Linux build's, in one run:
# `kestrum.exe --render <folder>\x.wav 60` and `kestrum --render <folder>/x.wav 60`, RUNS
# runs of each, alternating, the medians and their ratio (Windows / Linux wall time). Wine's
# own start (a server that is kept running between the runs) is counted, as a user sees it;
# the median of a 1 s render under Wine is printed beside it as the start-up share.
# Usage: bench/render_wine.sh [linux-build-dir] [windows-build-dir] [runs]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
linux=${1:-$root/build}/kestrum
windows=${2:-$root/build-windows}/kestrum.exe
runs=${3:-5}
[ -x "$linux" ] || { echo "no $linux: build the kestrum target first"; exit 1; }
[ -f "$windows" ] || { echo "no $windows: run scripts/build-windows.sh first"; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$(dirname "$windows")/wineprefix} WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix at $WINEPREFIX: run scripts/test-windows.sh first"; exit 1; }
tmp=$(mktemp -d /tmp/kestrum_render_wine.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$tmp"' EXIT
wineserver -p 60 >/dev/null 2>&1  # one server for all runs

run() {  # seconds command...: wall time of one render, checked
  local seconds=$1
  shift
  local start end code size
  start=$EPOCHREALTIME
  (cd "$tmp" && env -u KESTRUM_TRACE "$@" --render x.wav "$seconds" </dev/null >/dev/null 2>"$tmp/err")
  code=$?
  end=$EPOCHREALTIME
  size=$(stat -c %s "$tmp/x.wav" 2>/dev/null || echo 0)
  if [ "$code" -ne 0 ] || [ "$size" -ne $((44 + seconds * 96000)) ]; then
    echo "render failed: $* exit $code, $size bytes" >&2
    cat "$tmp/err" >&2
    exit 1
  fi
  rm -f "$tmp/x.wav"
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "60 s renders, $runs runs each, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
run 1 wine "$windows" >/dev/null  # warm-up: the prefix and the server
lin=() win=() short=()
for i in $(seq 1 "$runs"); do
  lin+=("$(run 60 "$linux")")
  win+=("$(run 60 wine "$windows")")
  short+=("$(run 1 wine "$windows")")
done
ml=$(printf '%s\n' "${lin[@]}" | median)
mw=$(printf '%s\n' "${win[@]}" | median)
ms=$(printf '%s\n' "${short[@]}" | median)
echo "Linux   kestrum     : median $ml s   (runs: ${lin[*]})"
echo "Windows kestrum.exe : median $mw s   (runs: ${win[*]})"
echo "Windows 1 s render  : median $ms s   (Wine start-up and loading)"
awk -v w="$mw" -v l="$ml" 'BEGIN { printf "ratio Windows/Linux: %.2f\n", w / l }'
echo "kestrum.exe: $(stat -c %s "$windows") bytes"
