#!/usr/bin/env bash
# Installs what Kestrum needs on Debian 12, and only what is missing: to build and run it
# (setup.sh run) or also to test it (setup.sh test, the default).
# Safe to run again: packages already present and a verified minimp3 header are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

# Which lists to install: "run" (building and running: scripts/packages/run.txt) or "test"
# (run.txt and scripts/packages/test.txt). "--print <set>" only prints that set's packages.
print_only=0
if [ "${1:-}" = "--print" ]; then print_only=1; shift; fi
set_name=${1:-test}
case "$set_name" in
  run) lists=(scripts/packages/run.txt) ;;
  test) lists=(scripts/packages/run.txt scripts/packages/test.txt) ;;
  *) echo "usage: setup.sh [--print] run|test" >&2; exit 2 ;;
esac
PACKAGES=()
for list in "${lists[@]}"; do
  while read -r p _ || [ -n "${p:-}" ]; do
    case "$p" in ''|'#'*) continue ;; esac
    PACKAGES+=("$p")
  done < "$list"
done
if [ "$print_only" -eq 1 ]; then
  printf '%s\n' "${PACKAGES[@]}"
  exit 0
fi

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
