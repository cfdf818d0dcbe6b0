#!/usr/bin/env bash
# Installs the Debian 12 packages Kelvoran needs to build and to make its Debian package
# (librsvg2-bin renders the icon's PNG sizes from its drawing, dpkg-dev finds the package's
# dependencies). With --test also those of the test run (X server, tray host, sound server and the
# tools that drive and record them, the validators of the desktop entry and the metainfo) and
# lintian, which checks the package.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
          libxcb1-dev libsqlite3-dev libcurl4-openssl-dev libsndfile1-dev libpulse-dev fonts-dejavu-core fonts-wine
          librsvg2-bin dpkg-dev)
if [[ "${1:-}" == "--test" ]]; then
    packages+=(xvfb xauth trayer pulseaudio pulseaudio-utils sox xdotool imagemagick x11-utils
               procps libglib2.0-bin desktop-file-utils appstream lintian dbus clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=()
if [[ "$(id -u)" != 0 ]]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
