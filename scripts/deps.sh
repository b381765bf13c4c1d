#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need,
# when any is missing. Safe to run again: it does nothing when all are there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libsdl2-dev libsndfile1-dev
  libgtest-dev googletest
  fonts-dejavu-core
  xvfb xauth xdotool x11-apps x11-utils imagemagick openbox wmctrl
  sox libsox-fmt-all
  clang libclang-rt-14-dev
  pulseaudio desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
