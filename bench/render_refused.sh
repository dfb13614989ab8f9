#!/usr/bin/env bash
# How soon the real program gives up on a render target it cannot write: `kestrum --render
# <target> 600` for targets that opening for writing refuses, RUNS runs each, the median
# wall time and the median CPU time (user + system), process start and station loading
# included, with the exit code. A render that started before failing would take minutes.
# Runs as root; the permission cases run the program as nobody through setpriv, so the
# program is copied under /tmp where nobody can reach it.
# Usage: bench/render_refused.sh [build-dir] [runs]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-9}
[ -x "$build/kestrum" ] || { echo "no $build/kestrum: build the kestrum target first"; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "run as root: the cases give files to nobody"; exit 1; }
tmp=$(mktemp -d /tmp/kestrum_render_refused.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
chmod 0755 "$tmp"
cp "$build/kestrum" "$tmp/kestrum"
work="$tmp/work"
mkdir "$work" && chmod 0777 "$work"
echo earlier > "$work/ro.wav" && chown nobody "$work/ro.wav" && chmod 0444 "$work/ro.wav"
mkdir "$work/dir.wav"
ln -s gone/x.wav "$work/dangling.wav"
nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

echo "kestrum --render TARGET 600 refused: $runs runs each, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
# label | target, relative to the work folder
cases=("read-only file (nobody)|ro.wav" "empty path (nobody)|" "missing folder (nobody)|gone/x.wav"
       "dangling link into a missing folder (nobody)|dangling.wav" "folder (nobody)|dir.wav")
cd "$work" || exit 1
for c in "${cases[@]}"; do
  label=${c%%|*}
  target=${c#*|}
  walls=() cpus=() codes=()
  for i in $(seq 1 "$runs"); do
    TIMEFORMAT='%R %U %S'
    { time "${nobody[@]}" "$tmp/kestrum" --render "$target" 600 </dev/null >/dev/null 2>&1; } 2>"$tmp/t"
    codes+=("$?")
    read -r real user sys <"$tmp/t"
    walls+=("$real")
    cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')")
  done
  median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
  printf '%-45s exit %s   median %.3f s wall, %.3f s CPU   (wall: %s)\n' "$label" \
    "$(printf '%s\n' "${codes[@]}" | sort -u | tr '\n' ' ')" "$(median "${walls[@]}")" "$(median "${cpus[@]}")" "${walls[*]}"
done
[ "$(cat "$work/ro.wav")" = earlier ] || echo "the read-only file was changed"
