#!/usr/bin/env bash
# The run set (what `bash scripts/run.sh` installs on a user's machine) holds no sound server,
# no display server and no test tool, not even through the packages it depends on; and a
# second set-up on a machine that has everything calls no package manager.
# Usage: run_set_test.sh <source-dir>
set -u
src=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

mapfile -t run_set < <(bash "$src/scripts/setup.sh" --print run)
mapfile -t test_set < <(bash "$src/scripts/setup.sh" --print test)
[ ${#run_set[@]} -gt 0 ] || { echo "FAIL: the run set is empty"; exit 1; }
for p in "${run_set[@]}"; do
  printf '%s\n' "${test_set[@]}" | grep -qxF "$p" || fail "the test set lacks the run set's $p"
done

# Everything apt would install for the run set without recommends: Depends and Pre-Depends,
# every alternative followed (stricter than apt, which takes the first that fits).
closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances "${run_set[@]}" 2>/dev/null | grep -v '^ ' | sort -u)
[ "$(printf '%s\n' "$closure" | wc -l)" -gt "${#run_set[@]}" ] || { echo "FAIL: apt-cache found no dependencies"; exit 1; }

# Servers by name, and every package only the tests need (the test list minus the run list).
sound_servers=(pulseaudio pipewire pipewire-bin pipewire-pulse wireplumber jackd jackd1 jackd2)
display_servers=(xvfb xserver-xorg xserver-xorg-core xserver-xephyr xnest xwayland weston
                 tigervnc-standalone-server)
mapfile -t test_only < <(printf '%s\n' "${test_set[@]}" | grep -vxF -f <(printf '%s\n' "${run_set[@]}"))
[ ${#test_only[@]} -gt 0 ] || fail "the test set adds nothing to the run set"
check() {
  local kind=$1; shift
  local found=()
  for p in "$@"; do printf '%s\n' "$closure" | grep -qxF "$p" && found+=("$p"); done
  if [ ${#found[@]} -eq 0 ]; then pass "no $kind among the run set's $(printf '%s\n' "$closure" | wc -l) packages"
  else fail "the run set pulls in $kind: ${found[*]}"; fi
}
check "sound server" "${sound_servers[@]}"
check "display server" "${display_servers[@]}"
check "test tool" "${test_only[@]}"

# The check itself sees a server when one is there: the test set's closure has both kinds.
test_closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
                 --no-replaces --no-enhances "${test_set[@]}" 2>/dev/null | grep -v '^ ' | sort -u)
printf '%s\n' "$test_closure" | grep -qxF pulseaudio && printf '%s\n' "$test_closure" | grep -qxF xvfb \
  && pass "the same check finds pulseaudio and xvfb in the test set" \
  || fail "the test set's closure lacks pulseaudio or xvfb: the check would not see them"

# Set-up again on a machine that has every package: no apt-get, no sudo, no npm.
shim=$(mktemp -d /tmp/kestrum_setup_shim.XXXXXX)
trap 'rm -rf "$shim"' EXIT
for tool in apt-get sudo npm; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/calls"\nexit 1\n' "$tool" "$shim" > "$shim/$tool"
  chmod +x "$shim/$tool"
done
missing=$(for p in "${test_set[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || echo "$p"; done)
if [ -n "$missing" ] || [ ! -f "$src/.deps/minimp3/minimp3.h" ]; then
  echo "skip: set-up again (not everything is installed here: $(echo $missing))"
elif PATH="$shim:$PATH" bash "$src/scripts/setup.sh" run >"$shim/out" 2>&1 \
     && PATH="$shim:$PATH" bash "$src/scripts/setup.sh" test >>"$shim/out" 2>&1 && [ ! -s "$shim/calls" ]; then
  pass "set-up again installs nothing and fetches nothing"
else
  fail "set-up again: $(cat "$shim/calls" "$shim/out" 2>/dev/null)"
fi

[ "$failures" -eq 0 ] && echo "all run-set checks passed" || echo "$failures failure(s)"
[ "$failures" -eq 0 ]
