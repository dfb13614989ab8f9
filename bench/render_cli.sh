#!/usr/bin/env bash
# Wall time of the real program's offline render, process start and station loading
# included: `kestrum --render <folder>/x.wav 60` and `... 600`, RUNS runs of each, the
# median, and the ratio to real time (seconds of sound per second of wall time). Builds
# nothing; stderr is not a terminal, so no progress line is drawn; no trace is written.
# Usage: bench/render_cli.sh [build-dir] [runs]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
kestrum="$build/kestrum"
[ -x "$kestrum" ] || { echo "no $kestrum: build the kestrum target first"; exit 1; }
tmp=$(mktemp -d /tmp/kestrum_render_cli.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
out="$tmp/x.wav"

echo "kestrum --render $out N: $runs runs each, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for seconds in 60 600; do
  times=()
  for i in $(seq 1 "$runs"); do
    start=$EPOCHREALTIME
    env -u KESTRUM_TRACE "$kestrum" --render "$out" "$seconds" </dev/null >/dev/null 2>"$tmp/err"
    code=$?
    end=$EPOCHREALTIME
    want=$((44 + seconds * 96000))
    size=$(stat -c %s "$out" 2>/dev/null || echo 0)
    if [ "$code" -ne 0 ] || [ "$size" -ne "$want" ]; then
      echo "render $seconds s failed: exit $code, $size bytes (expected $want)"; cat "$tmp/err"; exit 1
    fi
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    rm -f "$out"
  done
  median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  awk -v s="$seconds" -v m="$median" -v all="${times[*]}" \
    'BEGIN { printf "%4d s: median %.3f s wall, %.1fx real time   (runs: %s)\n", s, m, s / m, all }'
done
