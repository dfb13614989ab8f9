#!/usr/bin/env bash
# Builds the Windows program build-windows/kestrum.exe on this Debian machine with MinGW-w64
# (cmake/toolchain-mingw64.cmake), installing what that needs first, and only what is missing:
# the MinGW-w64 compiler with posix threads, Wine (to run the Windows tests), Debian's
# GoogleTest sources (built for Windows by the tests) and NSIS (the installer).
# Arguments: the targets to build (default: kestrum). KESTRUM_WINDOWS_BUILD sets the folder.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest nsis)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-windows: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The MP3 decoder header comes from the common set-up.
[ -f .deps/minimp3/minimp3.h ] || bash scripts/setup.sh

dir=${KESTRUM_WINDOWS_BUILD:-build-windows}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(kestrum)
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
