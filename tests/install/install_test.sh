#!/usr/bin/env bash
# The installed program: `cmake --install` into a temporary prefix, then
# - the file list, the icon's sizes (and that the committed PNGs still match the SVG);
# - the desktop entry (desktop-file-validate), the AppStream metadata (appstreamcli validate
#   --no-net) and the manual page (groff -man -ww -z): no error, no warning;
# - the desktop entry's Icon and StartupWMClass against the program's identity;
# - the installed program run as a user (nobody) who cannot write the prefix: --version,
#   --help, a 1 s --render into its home, the decode log under its state folder (the default
#   and $XDG_STATE_HOME), the radio folder under its data folder, and nothing written into
#   the prefix.
# The validators' output is kept in <build-dir>/install_checks/ for a reader.
# Usage: install_test.sh <build-dir> <source-dir> <app-id> <wm-class> <version>
set -u
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
app_id=$3
wm_class=$4
version=$5
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
die() { echo "FAIL: $*"; exit 1; }

for tool in desktop-file-validate appstreamcli groff rsvg-convert identify compare setpriv; do
  command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh test installs it)"
done
tmp=$(mktemp -d /tmp/kestrum_install.XXXXXX)
trap 'chmod -R u+w "$tmp" 2>/dev/null; rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
prefix="$tmp/prefix"
checks="$build/install_checks"
rm -rf "$checks" && mkdir -p "$checks"

cmake --install "$build" --prefix "$prefix" >"$checks/cmake-install.txt" 2>&1 \
  || { cat "$checks/cmake-install.txt"; die "cmake --install failed"; }

# ---- The files ----
expected=(
  bin/kestrum
  "share/applications/$app_id.desktop"
  "share/metainfo/$app_id.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$app_id.svg"
  "share/icons/hicolor/48x48/apps/$app_id.png"
  "share/icons/hicolor/64x64/apps/$app_id.png"
  "share/icons/hicolor/128x128/apps/$app_id.png"
  "share/icons/hicolor/256x256/apps/$app_id.png"
  share/man/man1/kestrum.1
  share/doc/kestrum/README.md
  share/doc/kestrum/README.stations.md
  share/doc/kestrum/copyright
)
got=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
want=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$got" = "$want" ]; then pass "the install holds exactly the ${#expected[@]} expected files"
else fail "installed files differ from the expected list:"; diff <(echo "$want") <(echo "$got"); fi
printf '%s\n' "$got" > "$checks/file-list.txt"
[ -x "$prefix/bin/kestrum" ] && pass "bin/kestrum is executable" || fail "bin/kestrum is not executable"

for size in 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  dims=$(identify -format '%wx%h' "$png" 2>/dev/null)
  [ "$dims" = "${size}x${size}" ] && pass "icon ${size}x${size}" || fail "icon in ${size}x${size}/ is $dims"
  # The committed PNG is the SVG as it is now: a changed SVG must be rendered again.
  rsvg-convert --width "$size" --height "$size" --format png "$src/packaging/icons/kestrum.svg" \
    --output "$tmp/fresh-$size.png"
  diff_px=$(compare -metric AE -fuzz 2% "$png" "$tmp/fresh-$size.png" null: 2>&1)
  [ "$diff_px" = "0" ] && pass "the ${size} px PNG matches the SVG" \
    || fail "the ${size} px PNG differs from the SVG in $diff_px pixels: run tools/make_icons.sh"
done

# ---- Validators: no error, no warning ----
desktop="$prefix/share/applications/$app_id.desktop"
desktop-file-validate "$desktop" >"$checks/desktop-file-validate.txt" 2>&1
rc=$?
[ $rc -eq 0 ] && [ ! -s "$checks/desktop-file-validate.txt" ] && pass "desktop-file-validate: clean" \
  || fail "desktop-file-validate (exit $rc): $(cat "$checks/desktop-file-validate.txt")"
key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(key Icon)" = "$app_id" ] && pass "desktop entry Icon=$app_id" || fail "desktop entry Icon=$(key Icon)"
[ "$(key StartupWMClass)" = "$wm_class" ] && pass "desktop entry StartupWMClass=$wm_class" \
  || fail "desktop entry StartupWMClass=$(key StartupWMClass), the window's class is $wm_class"
[ "$(key Exec)" = "kestrum" ] && [ -x "$prefix/bin/$(key Exec)" ] && pass "desktop entry Exec names the installed program" \
  || fail "desktop entry Exec=$(key Exec)"

metainfo="$prefix/share/metainfo/$app_id.metainfo.xml"
appstreamcli validate --no-net --pedantic "$metainfo" >"$checks/appstreamcli-validate.txt" 2>&1
rc=$?
if [ $rc -eq 0 ] && ! grep -qE '^(E|W):' "$checks/appstreamcli-validate.txt"; then
  pass "appstreamcli validate --no-net: no error or warning ($(tail -1 "$checks/appstreamcli-validate.txt"))"
else fail "appstreamcli validate (exit $rc): $(cat "$checks/appstreamcli-validate.txt")"; fi
for want in "<id>$app_id</id>" "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" \
            "<binary>kestrum</binary>" "<release version=\"$version\""; do
  grep -qF "$want" "$metainfo" && pass "metainfo has $want" || fail "metainfo lacks $want"
done
grep -o '<image[^>]*>[^<]*' "$metainfo" | grep -qv '>https://' && fail "a screenshot address is not https"

man="$prefix/share/man/man1/kestrum.1"
LC_ALL=C.UTF-8 groff -man -ww -z "$man" >"$checks/groff.txt" 2>&1
rc=$?
[ $rc -eq 0 ] && [ ! -s "$checks/groff.txt" ] && pass "groff -man -ww -z: no warning" \
  || fail "groff (exit $rc): $(cat "$checks/groff.txt")"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
  grep -q "^\.SH \"\?$section\"\?\$" "$man" || fail "the manual page lacks the section $section"
done
grep -qF "kestrum $version" "$man" && pass "the manual page names version $version" || fail "the manual page's version"

# ---- The installed program, run by a user who cannot write the prefix ----
chmod -R a-w "$prefix"
snapshot() { (cd "$prefix" && find . -printf '%p %s %m %T@\n' | sort); }
before=$(snapshot)
home="$tmp/home"
mkdir -p "$home"
chown nobody:nogroup "$home"
as_user() {  # runs a command as nobody in its home, with a clean environment plus "$@" prefixes
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}
out=$(cd "$home" && as_user "$prefix/bin/kestrum" --version 2>&1); rc=$?
[ $rc -eq 0 ] && [ "$out" = "kestrum $version" ] && pass "--version: $out" || fail "--version (exit $rc): $out"
out=$(cd "$home" && as_user "$prefix/bin/kestrum" --help 2>&1); rc=$?
[ $rc -eq 0 ] && [[ "$out" == "Usage: kestrum"* ]] && pass "--help: exit 0, usage" || fail "--help (exit $rc): $out"

(cd "$home" && as_user KESTRUM_TRACE=1 "$prefix/bin/kestrum" --render "$home/one.wav" 1 >/dev/null 2>&1); rc=$?
size=$(stat -c %s "$home/one.wav" 2>/dev/null)
[ $rc -eq 0 ] && [ "$size" = 96044 ] && pass "1 s --render into the home: $size bytes" \
  || fail "1 s --render (exit $rc): ${size:-no file}"
[ -s "$home/one.wav.csv" ] && pass "the trace beside the WAV" || fail "no trace $home/one.wav.csv"
log="$home/.local/state/kestrum/_decode.log"
if [ -s "$log" ] && grep -q '^dec ' "$log"; then pass "decode log in ~/.local/state/kestrum ($(wc -l < "$log") lines)"
else fail "no decode log at $log"; ls -laR "$home"; fi
[ "$(stat -c %a "$home/.local/state/kestrum" 2>/dev/null)" = 700 ] && pass "state folder made private (0700)" \
  || fail "state folder mode $(stat -c %a "$home/.local/state/kestrum" 2>/dev/null)"

(cd "$home" && as_user KESTRUM_TRACE=1 XDG_STATE_HOME="$home/st" "$prefix/bin/kestrum" --render rel.wav 1 >/dev/null 2>&1)
[ -s "$home/st/kestrum/_decode.log" ] && pass "decode log in \$XDG_STATE_HOME/kestrum" \
  || fail "no decode log under \$XDG_STATE_HOME"
[ "$(stat -c %s "$home/rel.wav" 2>/dev/null)" = 96044 ] && pass "a relative --render path is the current folder's" \
  || fail "no rel.wav in the current folder"

# A recording that is not built in, placed in the data folder's radio/, is found and decoded:
# a 13 s render at 10 ms per channel (60 ms dwells) sweeps the whole dial once.
radio="$home/.local/share/kestrum/radio"
missing=$(grep -v '^#' "$src/data/stations.txt" | cut -d'|' -f3 | while read -r f; do
  [ -f "$src/data/$f" ] || { echo "$f"; break; }; done)
[ -n "$missing" ] || die "every station of data/stations.txt is built in: no file to place in radio/"
mkdir -p "$radio" && cp "$src/data/news24.mp3" "$radio/$missing" && chown -R nobody:nogroup "$home/.local/share"
(cd "$home" && as_user KESTRUM_TRACE=1 "$prefix/bin/kestrum" --render sweep.wav 13 echo x 10 >/dev/null 2>&1)
grep -q "^dec $missing " "$log" && pass "$missing decoded from ~/.local/share/kestrum/radio" \
  || fail "$missing from the data folder's radio/ was not decoded: $(grep -c '^dec' "$log") log lines"

after=$(snapshot)
[ "$before" = "$after" ] && pass "nothing written into the prefix" \
  || { fail "the prefix changed:"; diff <(echo "$before") <(echo "$after"); }

[ "$failures" -eq 0 ] && echo "all install checks passed" || echo "$failures failure(s)"
[ "$failures" -eq 0 ]
