#!/usr/bin/env bash
# Installs what Kestrum needs to build, run and test on Debian 12, and only what is missing.
# Safe to run again: packages already present and a verified minimp3 header are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libsdl2-dev libx11-dev libcairo2-dev libpango1.0-dev libfontconfig-dev libasound2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # fonts the window asks for by their substitutes
  fonts-dejavu-core fonts-ipafont-gothic
  # test harness: a display, a window manager, a sound server, and tools that drive and measure them
  xvfb openbox xdotool x11-utils imagemagick pulseaudio pulseaudio-utils libasound2-plugins alsa-utils sox
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
# npm fetches the minimp3 package; a machine with Node.js already has it, others take Debian's.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# minimp3: the header-only MP3 decoder, from the npm package minimp3@1.0.0, checked by its sha256.
# The header's own sha256 is stored beside it when it is installed, so a later run fetches it
# again when the file has been changed or damaged since.
MINIMP3_DIR=.deps/minimp3
MINIMP3_SHA256=a70b94e01fe71d9db5d5d30d21b56a74ab21cd9c5262c5f7107cbe764b596c81
minimp3_installed() {
  [ -f "$MINIMP3_DIR/minimp3.h" ] || return 1
  [ "$(cat "$MINIMP3_DIR/.sha256" 2>/dev/null)" = "$MINIMP3_SHA256" ] || return 1
  local stored
  stored=$(cat "$MINIMP3_DIR/minimp3.h.sha256" 2>/dev/null) || return 1
  [ -n "$stored" ] && [ "$(sha256sum "$MINIMP3_DIR/minimp3.h" | cut -d' ' -f1)" = "$stored" ]
}
if ! minimp3_installed; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  (cd "$tmp" && npm pack --silent minimp3@1.0.0 >/dev/null)
  tarball=$(ls "$tmp"/minimp3-1.0.0.tgz)
  got=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [ "$got" != "$MINIMP3_SHA256" ]; then
    echo "setup: minimp3@1.0.0 tarball has sha256 $got, expected $MINIMP3_SHA256; refusing to use it." >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$tmp" package/lib/minimp3.h
  mkdir -p "$MINIMP3_DIR"
  cp "$tmp/package/lib/minimp3.h" "$MINIMP3_DIR/minimp3.h"
  sha256sum "$MINIMP3_DIR/minimp3.h" | cut -d' ' -f1 > "$MINIMP3_DIR/minimp3.h.sha256"
  echo "$MINIMP3_SHA256" > "$MINIMP3_DIR/.sha256"
  echo "setup: minimp3.h verified and installed in $MINIMP3_DIR"
fi
