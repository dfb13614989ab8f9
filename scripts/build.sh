#!/usr/bin/env bash
# Configures and builds Kestrum into build/ (or the folder given as $1) with CMake and Ninja.
# Further arguments are passed to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir"
