#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but only
# those that are missing, so running it again needs no network.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-charts-dev libqt6opengl6-dev libgl-dev zlib1g-dev libxcb1-dev
  libgtest-dev libbenchmark-dev
  libmosquitto-dev mosquitto mosquitto-clients dbus-daemon
  xvfb xauth xdotool poppler-utils python3 xdg-utils
  fonts-dejavu-core fonts-liberation
  librsvg2-bin dpkg-dev lintian desktop-file-utils appstream man-db
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
