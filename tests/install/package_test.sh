#!/usr/bin/env bash
# The Debian package: `cpack -G DEB` makes kestrum_<version>_<arch>.deb with the fields Debian
# wants (section sound, Depends from the binary's libraries, a description), the install's
# files under /usr (the manual page compressed), the copyright file and a compressed
# changelog in /usr/share/doc/kestrum, and a stripped program; lintian finds no error.
# The package is unpacked with dpkg-deb -x and its program run: --version and a 1 s --render.
# lintian's output and the package's listing are kept in <build-dir>/install_checks/.
# Usage: package_test.sh <build-dir> <source-dir> <app-id> <wm-class> <version>
set -u
build=$(cd "$1" && pwd)
version=$5
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
die() { echo "FAIL: $*"; exit 1; }

for tool in cpack dpkg-deb dpkg-shlibdeps lintian readelf; do
  command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh test installs it)"
done
tmp=$(mktemp -d /tmp/kestrum_package.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
checks="$build/install_checks"
mkdir -p "$checks"

(cd "$build" && cpack -G DEB -B "$tmp/out") >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; die "cpack failed"; }
arch=$(dpkg --print-architecture)
deb="$tmp/out/kestrum_${version}_${arch}.deb"
[ -f "$deb" ] || die "no $(basename "$deb"); cpack made: $(ls "$tmp/out")"
pass "$(basename "$deb"), $(stat -c %s "$deb") bytes"
cp "$deb" "$checks/"

# ---- Control fields ----
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrum ] && pass "Package: kestrum" || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] && pass "Version: $version" || fail "Version: $(field Version)"
[ "$(field Section)" = sound ] && pass "Section: sound" || fail "Section: $(field Section)"
[ "$(field Architecture)" = "$arch" ] && pass "Architecture: $arch" || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
for lib in libc6 libsdl2-2.0-0 libasound2 libcairo2 libpango-1.0-0 libfontconfig1 libx11-6 fonts-dejavu-core; do
  [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] && pass "Depends on $lib" \
    || fail "Depends lacks $lib: $depends"
done
[ "$(field Recommends)" = fonts-ipafont-gothic ] && pass "Recommends: fonts-ipafont-gothic" || fail "Recommends: $(field Recommends)"
[ -n "$(field Maintainer)" ] && pass "Maintainer: $(field Maintainer)" || fail "no Maintainer"
desc=$(field Description)
[ "$(printf '%s\n' "$desc" | wc -l)" -ge 3 ] && pass "Description: $(printf '%s\n' "$desc" | head -1) (+ $(($(printf '%s\n' "$desc" | wc -l) - 1)) lines)" \
  || fail "Description too short: $desc"
dpkg-deb -I "$deb" > "$checks/deb-info.txt"
dpkg-deb -c "$deb" > "$checks/deb-contents.txt"

# ---- Files: the install's, for /usr, with the manual page compressed, plus the changelog ----
cmake --install "$build" --prefix "$tmp/plain" >/dev/null || die "cmake --install failed"
want=$( (cd "$tmp/plain" && find . -type f | sed 's|^\./|usr/|; s|/man1/kestrum\.1$|/man1/kestrum.1.gz|';
         echo usr/share/doc/kestrum/changelog.gz) | sort)
dpkg-deb -x "$deb" "$tmp/root" || die "dpkg-deb -x failed"
got=$(cd "$tmp/root" && find . -type f | sed 's|^\./||' | sort)
if [ "$got" = "$want" ]; then pass "the package holds the install's $(echo "$got" | wc -l) files, for /usr"
else fail "package files differ from the install's:"; diff <(echo "$want") <(echo "$got"); fi
bad_modes=$(dpkg-deb -c "$deb" | awk '$2 != "root/root" || ($1 ~ /^d/ && $1 != "drwxr-xr-x")')
[ -z "$bad_modes" ] && pass "owned by root, folders 0755" || fail "owners or modes: $bad_modes"

doc="$tmp/root/usr/share/doc/kestrum"
head -1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  && pass "copyright in /usr/share/doc/kestrum, machine-readable" || fail "copyright file"
if gzip -t "$doc/changelog.gz" 2>/dev/null && zcat "$doc/changelog.gz" | head -1 | grep -q "^kestrum ($version) "; then
  pass "changelog.gz: $(zcat "$doc/changelog.gz" | head -1)"
else fail "changelog.gz missing, not gzip, or not for $version"; fi
gzip -t "$tmp/root/usr/share/man/man1/kestrum.1.gz" 2>/dev/null && pass "manual page compressed" || fail "manual page"
sections=$(readelf -S --wide "$tmp/root/usr/bin/kestrum" 2>/dev/null | grep -oE '\.(symtab|debug_[a-z]+)' | sort -u | tr '\n' ' ')
[ -z "$sections" ] && pass "kestrum stripped (no .symtab, no .debug_*)" || fail "kestrum keeps $sections"

# ---- The unpacked program runs ----
out=$("$tmp/root/usr/bin/kestrum" --version 2>&1); rc=$?
[ $rc -eq 0 ] && [ "$out" = "kestrum $version" ] && pass "unpacked --version: $out" || fail "unpacked --version (exit $rc): $out"
(cd "$tmp" && "$tmp/root/usr/bin/kestrum" --render "$tmp/one.wav" 1 >/dev/null 2>&1); rc=$?
size=$(stat -c %s "$tmp/one.wav" 2>/dev/null)
[ $rc -eq 0 ] && [ "$size" = 96044 ] && pass "unpacked 1 s --render: $size bytes" || fail "unpacked --render (exit $rc): ${size:-no file}"

# ---- lintian: no error; the warnings are listed ----
lintian --tag-display-limit 0 --display-info --display-experimental --pedantic "$deb" >"$checks/lintian.txt" 2>&1
errors=$(grep -c '^E:' "$checks/lintian.txt")
warnings=$(grep -c '^W:' "$checks/lintian.txt")
[ "$errors" -eq 0 ] && pass "lintian: no error ($warnings warning(s), see install_checks/lintian.txt)" \
  || fail "lintian: $(grep '^E:' "$checks/lintian.txt")"
grep -E '^[EWIPX]:' "$checks/lintian.txt"

[ "$failures" -eq 0 ] && echo "all package checks passed" || echo "$failures failure(s)"
[ "$failures" -eq 0 ]
