#!/usr/bin/env bash
# Sets up, builds and starts the scanner on its built-in stations. Arguments go to kestrum.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh run
bash scripts/build.sh build -DKESTRUM_TESTS=OFF -DKESTRUM_BENCH=OFF
exec ./build/kestrum "$@"
