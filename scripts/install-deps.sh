#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need; only
# what is missing. Runs as root (or through sudo when it is there).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-tools
  libudev-dev
  googletest libgtest-dev libgmock-dev
  iproute2 util-linux
  ffmpeg
  xvfb xauth fonts-liberation fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "install-deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
