#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests, the tests with a real display and a
# real sound server (they start their own Xvfb and PulseAudio), the set-up split, the
# installed program and its Debian package (tests/install), the unit tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer and the engine under ThreadSanitizer, the
# program itself from both sanitizer builds through a scripted window session, a short
# run of each fuzz target, and the Windows build under Wine (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
jobs=$(nproc)

echo "== build"
bash scripts/build.sh build
echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs" -LE 'live|install')
(cd build && ctest --output-on-failure -L live)
echo "== set-up, install and package (validators' output in build/install_checks/)"
(cd build && ctest --output-on-failure -L install)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUM_SANITIZE=address,undefined -DKESTRUM_BENCH=OFF
# print_suppressions=0: the tests that check a program prints nothing must not see the
# leak checker's own summary of the library leaks it suppressed.
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp":print_suppressions=0 ctest --output-on-failure -j"$jobs" -LE 'live|install')

echo "== ThreadSanitizer (engine and decode worker)"
bash scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUM_SANITIZE=thread -DKESTRUM_BENCH=OFF
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j"$jobs" -L engine)

echo "== the live program under the sanitizers (a scripted window session each)"
# Both sessions run, and the stage fails after them if either failed.
session_ok=true
bash tests/live/sanitizer_session.sh build-asan/kestrum asan || session_ok=false
bash tests/live/sanitizer_session.sh build-tsan/kestrum tsan || session_ok=false
$session_ok

echo "== fuzz targets (short runs)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUM_FUZZ=ON -DKESTRUM_TESTS=OFF -DKESTRUM_BENCH=OFF >/dev/null
cmake --build build-fuzz --target fuzz_station_list fuzz_decode_station
for f in build-fuzz/tests/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  corpus="tests/fuzz/corpus/$(basename "$f")"
  mkdir -p "build-fuzz/corpus-$(basename "$f")"
  echo "-- $(basename "$f")"
  "$f" -max_total_time="${KESTRUM_FUZZ_SECONDS:-30}" -rss_limit_mb=4096 "build-fuzz/corpus-$(basename "$f")" $( [ -d "$corpus" ] && echo "$corpus" ) 2>&1 | tail -3
done

echo "== Windows: kestrum.exe and the unit tests, built with MinGW-w64 and run under Wine"
bash scripts/test-windows.sh build
