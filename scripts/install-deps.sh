#!/usr/bin/env bash
# Installs the Debian 12 packages Kalidrome needs, by purpose:
#   scripts/install-deps.sh            to build and run the program (scripts/run.sh)
#   scripts/install-deps.sh --test     also the tests' tools (scripts/test.sh)
#   scripts/install-deps.sh --bench    also the benchmarks' reference tools
# Only missing packages are installed; root runs apt-get directly, others through sudo.
# Without either, one line names the packages to install.
set -euo pipefail

# Building and running: the compiler and CMake, Qt 6 and the picture libraries (their
# -dev packages bring the run-time libraries along).
packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # Qt's Wayland platform: the program runs as a native Wayland client.
  qt6-wayland
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  libx11-dev libxext-dev libxrandr-dev
)
test_packages=(
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb x11-apps x11-utils x11-xserver-utils openbox trayer xdotool
  libjpeg-turbo-progs
  # Desktop tests: dconf (its service on a private bus) and gsettings with GNOME's,
  # Cinnamon's and MATE's wallpaper schemas (schema files only, no desktop).
  libglib2.0-bin dconf-cli dconf-service gsettings-desktop-schemas cinnamon-desktop-data mate-desktop-common
  # Desktop tests: xfconfd on a private session bus (libxfconf is only recommended by xfconf).
  dbus xfconf libxfconf-0-3
  # Plasma's scripts run in Qt's JavaScript engine against a stand-in for the shell's API.
  qt6-declarative-dev
  # Notification tests: a real notification service (dunst) on a private session bus.
  dunst
  # Desktop tests: sway headless with swaybg, read back with grim.
  sway swaybg grim
  # Desktop tests: an LXQt desktop (pcmanfm-qt --desktop) on Xvfb.
  pcmanfm-qt
  # Screen-saver tests: XScreenSaver running the companion on Xvfb, with its list of modes.
  xscreensaver xscreensaver-data
  # Install tests: the launcher's and the metainfo's validators, the Debian package's checker.
  desktop-file-utils appstream lintian
)
bench_packages=(libvips-tools feh findutils)

for arg in "$@"; do
  case "$arg" in
    --test) packages+=("${test_packages[@]}") ;;
    --bench) packages+=("${bench_packages[@]}") ;;
    *) echo "install-deps.sh: unknown option $arg (use --test or --bench)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

cannot_install() {
  echo "Kalidrome needs these Debian packages; as root, run: apt-get install ${missing[*]}" >&2
  exit 1
}
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || cannot_install
  # sudo that would ask for a password nobody can type (no terminal) cannot help either.
  sudo -n true 2>/dev/null || [[ -t 0 ]] || cannot_install
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq || cannot_install
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" || cannot_install
