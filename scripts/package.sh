#!/usr/bin/env bash
# Builds the Debian package q274tc_<version>_<arch>.deb in build-pkg/, from a
# release build tree of its own (programs, manual and desktop data only) with
# Debian's hardening flags, and prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=build-pkg
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS
# A stale package from an earlier version must not be mistaken for this one.
rm -f "$dir"/q274tc_*.deb
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DQ274_TESTS=OFF -DQ274_PCH="${Q274_PCH:-OFF}" >&2
cmake --build "$dir" -j "$(nproc)" >&2
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls "$dir"/q274tc_*.deb)
echo "$(pwd)/$deb"
