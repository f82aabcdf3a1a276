#!/usr/bin/env bash
# CI: builds the Debian package and checks it as users and distributions meet
# it: lintian, the desktop entry, the AppStream data, the manual pages, the
# file list, and the programs run from an unpacked copy of the package.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -n 1)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
dpkg -x "$deb" "$root"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "== desktop entry"
out=$(desktop-file-validate "$root/usr/share/applications/q274tc.desktop" 2>&1) || fail "desktop-file-validate"
[ -z "$out" ] || { echo "$out"; fail "desktop-file-validate has remarks"; }

echo "== AppStream metadata"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.q274tc.Q274TCstd.metainfo.xml" ||
  fail "appstreamcli validate"

echo "== manual pages"
for page in Q274TCstd q274-board-sim; do
  file="$root/usr/share/man/man1/$page.1.gz"
  [ -f "$file" ] || { fail "no manual page $page.1.gz"; continue; }
  # man prints the troff warnings on standard error; any of them fails.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man -l $page"
  [ -z "$warnings" ] || { echo "$warnings"; fail "man --warnings $page"; }
done

echo "== installed files"
for f in usr/bin/Q274TCstd usr/bin/q274-board-sim usr/share/doc/q274tc/Q274TC.pdf \
  usr/share/doc/q274tc/copyright usr/share/icons/hicolor/scalable/apps/q274tc.svg \
  usr/share/icons/hicolor/{48x48,128x128,256x256}/apps/q274tc.png; do
  [ -s "$root/$f" ] || fail "missing /$f"
done

echo "== the installed programs"
bin="$root/usr/bin"
version=$("$bin/Q274TCstd" --version) || fail "Q274TCstd --version"
expected="Q274TCstd $(dpkg-deb -f "$deb" Version)"
[ "$version" = "$expected" ] || fail "Q274TCstd --version printed '$version', not '$expected'"
"$bin/q274-board-sim" --help | grep -q -- '--link' || fail "q274-board-sim --help"
# Without any display the program explains itself instead of aborting.
set +e
msg=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/Q274TCstd" 2>&1)
rc=$?
set -e
[ $rc -eq 1 ] && [[ $msg == *"needs a graphical desktop"* ]] ||
  fail "without a display: exit $rc, '$msg'"
# Nor with a display that does not answer.
dead=90
while [ -e "/tmp/.X11-unix/X$dead" ] || [ -e "/tmp/.X$dead-lock" ]; do dead=$((dead + 1)); done
set +e
msg=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=":$dead" "$bin/Q274TCstd" 2>&1)
rc=$?
set -e
[ $rc -eq 1 ] && [[ $msg == *"needs a graphical desktop"* ]] ||
  fail "with a dead display: exit $rc, '$msg'"
sim_version=$("$bin/q274-board-sim" --version) || fail "q274-board-sim --version"
[ "$sim_version" = "q274-board-sim $(dpkg-deb -f "$deb" Version)" ] ||
  fail "q274-board-sim --version printed '$sim_version'"
# The unpacked program starts and draws its window (log folder in scratch).
HOME="$scratch/home" QT_QPA_PLATFORM=offscreen timeout 60 "$bin/Q274TCstd" --screenshot "$scratch/window.png" ||
  fail "the installed program did not start"
[ -s "$scratch/window.png" ] || fail "no window picture from the installed program"

if [ $failures -ne 0 ]; then
  echo "Package checks: $failures failure(s)" >&2
  exit 1
fi
echo "Package checks passed: $deb"
