#!/usr/bin/env bash
# Installs the Debian 12 packages Kalidrome needs to build, test or run.
# Usage: scripts/install-deps.sh [--bench]
# Only missing packages are installed; root runs apt-get directly, others through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  libx11-dev libxext-dev libxrandr-dev
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb x11-apps x11-utils x11-xserver-utils openbox trayer xdotool
  libjpeg-turbo-progs
  # Desktop tests: gsettings on the keyfile backend with GNOME's, Cinnamon's and MATE's
  # wallpaper schemas (schema files only, no desktop).
  libglib2.0-bin gsettings-desktop-schemas cinnamon-desktop-data mate-desktop-common
  # Desktop tests: xfconfd on a private session bus (libxfconf is only recommended by xfconf).
  dbus xfconf libxfconf-0-3
  # Desktop tests: sway headless with swaybg, read back with grim.
  sway swaybg grim
  # Desktop tests: an LXQt desktop (pcmanfm-qt --desktop) on Xvfb.
  pcmanfm-qt
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libvips-tools feh findutils)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
