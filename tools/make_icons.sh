#!/usr/bin/env bash
# Renders Kestrum's icon, packaging/icons/kestrum.svg, into the PNGs of the icon theme's fixed
# sizes beside it (kestrum-48.png ... kestrum-256.png). The build installs the committed PNGs;
# run this after changing the SVG. Needs rsvg-convert (Debian: librsvg2-bin).
# Usage: tools/make_icons.sh [out-dir]    (default: packaging/icons)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-packaging/icons}
mkdir -p "$out"
for size in 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --format png packaging/icons/kestrum.svg \
    --output "$out/kestrum-$size.png"
done
