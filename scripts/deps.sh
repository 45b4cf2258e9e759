#!/usr/bin/env bash
# Installs the Debian packages havoc needs to build, play and test, and any
# named on the command line, when any is missing. Safe to run again: it does
# nothing once all are there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    liballegro4-dev libasound2-dev libx11-dev libxext-dev libxtst-dev libgtest-dev libportal-dev libpng-dev
    libwayland-dev
    libxrandr-dev libxinerama-dev
    xvfb x11-apps x11-utils xdotool imagemagick sox
    libloadpng4-dev dpkg-dev file man-db lintian desktop-file-utils appstream
    xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils xauth openbox tint2 picom
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing: ${missing[*]}"
# Another install may hold apt's lock for a while; wait for it.
apt=(apt-get -o DPkg::Lock::Timeout=600)
$sudo "${apt[@]}" update -qq
DEBIAN_FRONTEND=noninteractive $sudo "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
