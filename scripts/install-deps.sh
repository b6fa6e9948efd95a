#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent and quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libqt6svg6 qt6-svg-dev qt6-wayland
  libgl-dev libxkbcommon-dev
  libgtest-dev libgmock-dev libbenchmark-dev libx11-dev libxtst-dev libxdamage-dev
  libjpeg62-turbo-dev libtiff-dev libseccomp-dev libfontconfig-dev liblcms2-dev libxcb1-dev
  clang-format clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck
  xvfb openbox xdotool x11-utils imagemagick librsvg2-bin
  fonts-dejavu-core fonts-urw-base35 fonts-symbola
  desktop-file-utils appstream-util dpkg-dev file groff-base man-db
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
