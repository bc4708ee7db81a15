#!/usr/bin/env bash
# End-to-end runs of the desktop backends against real desktops that are too heavy for the
# default test command: KDE Plasma's shell and GNOME Shell, each started on its own Xvfb with
# its own D-Bus session, plus timings of a whole change on sway, on the bare X root window
# and with the desktops' own tools. Installs what it needs with apt-get (Debian 12).
#
# Usage: scripts/desktop-e2e.sh [BUILD_DIR [PART...]]
#   BUILD_DIR: default build; desktop_driver is built there. PART: plasma, gnome, timings
#   (default: all three).
# Prints one result line per desktop: "NAME: PASS ...", "NAME: FAIL reason" or
# "NAME: SKIP reason"; exits 1 when any desktop failed.
#
# The desktops run as an ordinary user: under root, as nobody (setpriv), with a home and
# runtime folder of their own in a temporary folder. Nothing touches the real $HOME.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
driver_built=$build/tests/desktop_driver

packages=(xvfb x11-apps xdotool dbus python3 util-linux
          plasma-workspace plasma-desktop
          gnome-shell dconf-service
          sway swaybg grim wlr-randr)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 || exit 1
fi
cmake --build "$build" --target desktop_driver -j2 >&2 || exit 1

work=$(mktemp -d /tmp/kalidrome-e2e.XXXXXX)
chmod 755 "$work"
pids=()
# Ends what this script started, children first (dbus-run-session's shell, sway's swaybg).
end_tree() {
  local child
  for child in $(pgrep -P "$1"); do end_tree "$child"; done
  kill "$1" 2>/dev/null
}
cleanup() {
  local pid
  for pid in "${pids[@]}"; do end_tree "$pid"; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

user_uid=$(id -u)
if [[ $user_uid -eq 0 ]]; then
  user_uid=65534
  as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env "$@"; }
else
  as_user() { env "$@"; }
fi
cp "$driver_built" "$work/desktop_driver"

# A 32 x 24 bitmap, left half red, right half blue, as the program writes WallPaper.bmp.
write_picture() {
  python3 - "$1" <<'EOF'
import struct, sys
w, h = 32, 24
row = b''.join(b'\x00\x00\xff' if x < w // 2 else b'\xff\x00\x00' for x in range(w))
data = row * h
header = b'BM' + struct.pack('<IHHI', 54 + len(data), 0, 0, 54) + \
         struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
open(sys.argv[1], 'wb').write(header + data)
EOF
}

# Share of red and blue pixels on the X screen, in per cent: "RED BLUE".
screen_colours() {
  DISPLAY=$1 xwd -root -silent | python3 -c '
import struct, sys
d = sys.stdin.buffer.read()
v = struct.unpack(">25I", d[:100])
off = v[0] + v[19] * 12; w, h, bpp, bpl = v[4], v[5], v[11], v[12]
red = blue = n = 0
for y in range(0, h, 2):
    for x in range(0, w, 2):
        p = off + y * bpl + x * (bpp // 8)
        b, g, r = d[p], d[p + 1], d[p + 2]
        n += 1
        red += r > 200 and g < 60 and b < 60
        blue += b > 200 and g < 60 and r < 60
print("%.1f %.1f" % (100.0 * red / n, 100.0 * blue / n))'
}

# Waits (bounded) until the session bus at $1 has a name $2.
wait_for_name() {
  local i
  for ((i = 0; i < 120; i++)); do
    as_user DBUS_SESSION_BUS_ADDRESS="$1" dbus-send --session --print-reply --dest=org.freedesktop.DBus \
      /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "string:$2" 2>/dev/null | grep -q 'boolean true' && return 0
    sleep 0.5
  done
  return 1
}

# Waits (bounded) until the screen at $1 shows the test picture: stretched (mostly red and
# blue) or centred (a little of each on black).
wait_for_picture() {
  local display=$1 placement=$2 i colours red blue
  for ((i = 0; i < 40; i++)); do
    colours=$(screen_colours "$display")
    red=${colours% *} blue=${colours#* }
    if [[ $placement == stretch ]]; then
      python3 -c "import sys; sys.exit(0 if $red > 35 and $blue > 35 else 1)" && { echo "$colours"; return 0; }
    else
      python3 -c "import sys; sys.exit(0 if 0 < $red < 5 and 0 < $blue < 5 else 1)" && { echo "$colours"; return 0; }
    fi
    sleep 0.5
  done
  echo "$colours"
  return 1
}

start_xvfb() {  # $1 display number; sets xvfb_pid
  Xvfb ":$1" -screen 0 640x480x24 -noreset +extension GLX -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  pids+=("$xvfb_pid")
  local i
  for ((i = 0; i < 50; i++)); do DISPLAY=":$1" xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# A home, runtime folder and System folder owned by the desktop's user.
make_home() {
  local home=$work/$1
  mkdir -p "$home/run" "$home/System" "$home/config"
  chmod 700 "$home/run"
  write_picture "$home/System/WallPaper.bmp"
  [[ $(id -u) -eq 0 ]] && chown -R "$user_uid" "$home"
  echo "$home"
}

# Runs the driver twice (centred, then stretched), checking the screen after each; prints
# the result line for $name.
drive() {
  local name=$1 display=$2 home=$3
  shift 3
  local placement out colours times=""
  for placement in center stretch; do
    out=$(cd "$home" && as_user "$@" "$work/desktop_driver" "$home/System/WallPaper.bmp" "$placement" 3 2>&1)
    if ! grep -q '^ok$' <<<"$out"; then
      echo "$name: FAIL $placement: $(grep -m1 '^error' <<<"$out" || tail -n1 <<<"$out")"
      [[ -f $work/$name.log ]] && tail -n 15 "$work/$name.log" >&2
      return 1
    fi
    times+=" $placement:$(grep '^change' <<<"$out" | sed 's/.*: //; s/ ms//' | tr '\n' '/' | sed 's#/$##')ms"
    if ! colours=$(wait_for_picture "$display" "$placement"); then
      echo "$name: FAIL $placement set but not on screen (red% blue% = $colours)"
      return 1
    fi
  done
  echo "$name: PASS ($(grep -m1 '^screen' <<<"$out"); change times$times)"
}

failed=0

# --- KDE Plasma -------------------------------------------------------------------------------
plasma() {
  start_xvfb 91 || { echo "plasma: SKIP Xvfb did not start"; return; }
  local home bus
  home=$(make_home plasma)
  bus="unix:path=$home/run/bus"
  # Services the bus starts (kactivitymanagerd, without which the shell gives up) need the
  # display and the same configuration folders.
  as_user HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config" DISPLAY=:91 QT_QPA_PLATFORM=xcb \
    dbus-daemon --session --nofork --address="$bus" >/dev/null 2>&1 &
  pids+=($!)
  as_user HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config" DISPLAY=:91 \
    DBUS_SESSION_BUS_ADDRESS="$bus" QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 \
    plasmashell --no-respawn >"$work/plasma.log" 2>&1 &
  pids+=($!)
  if ! wait_for_name "$bus" org.kde.plasmashell; then
    echo "plasma: SKIP plasmashell did not come up ($(tail -n1 "$work/plasma.log"))"
    return
  fi
  # The shell registers its name before it has made its desktops.
  local i
  for ((i = 0; i < 60; i++)); do
    as_user DBUS_SESSION_BUS_ADDRESS="$bus" dbus-send --session --print-reply --dest=org.kde.plasmashell /PlasmaShell \
      org.kde.PlasmaShell.evaluateScript 'string:print(desktops().length)' 2>/dev/null | grep -q 'string "[1-9]' && break
    sleep 0.5
  done
  drive plasma :91 "$home" HOME="$home" XDG_CONFIG_HOME="$home/config" DISPLAY=:91 DBUS_SESSION_BUS_ADDRESS="$bus" \
    KALIDROME_DESKTOP=plasma || failed=1
}

# --- GNOME Shell ------------------------------------------------------------------------------
# gnome-shell picks systemd-logind when /run/systemd/seats exists and stops when logind is
# not on its (private) system bus; under root it runs in a mount namespace that hides
# /run/systemd, so that it uses its stand-in login manager.
gnome() {
  start_xvfb 92 || { echo "gnome: SKIP Xvfb did not start"; return; }
  local home
  home=$(make_home gnome)
  dbus-daemon --system --nofork --address="unix:path=$work/system_bus" >/dev/null 2>&1 &
  pids+=($!)
  cat >"$home/start.sh" <<EOF
#!/bin/sh
export HOME=$home XDG_RUNTIME_DIR=$home/run DISPLAY=:92 \
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system_bus LIBGL_ALWAYS_SOFTWARE=1 XDG_SESSION_TYPE=x11 \
  XDG_CURRENT_DESKTOP=GNOME
exec dbus-run-session -- sh -c 'echo "\$DBUS_SESSION_BUS_ADDRESS" > $home/bus; exec gnome-shell --x11 --sm-disable'
EOF
  chmod 755 "$home/start.sh"
  if [[ $(id -u) -eq 0 ]]; then
    unshare -m sh -c "mount -t tmpfs none /run/systemd 2>/dev/null; exec setpriv --reuid=65534 --regid=65534 --clear-groups $home/start.sh" \
      >"$work/gnome.log" 2>&1 &
  else
    "$home/start.sh" >"$work/gnome.log" 2>&1 &
  fi
  pids+=($!)
  local i
  for ((i = 0; i < 60; i++)); do [[ -s $home/bus ]] && break; sleep 0.5; done
  if [[ ! -s $home/bus ]] || ! wait_for_name "$(cat "$home/bus")" org.gnome.Shell; then
    echo "gnome: SKIP gnome-shell did not come up ($(grep -m1 -i 'error' "$work/gnome.log"))"
    return
  fi
  # GNOME starts in the overview, which hides the desktop's background: leave it.
  sleep 3
  DISPLAY=:92 xdotool key super
  sleep 1
  DISPLAY=:92 xdotool key Escape
  if ! wait_for_name "$(cat "$home/bus")" org.gnome.Shell; then
    echo "gnome: FAIL gnome-shell's session ended after start-up"
    tail -n 15 "$work/gnome.log" >&2
    failed=1
    return
  fi
  drive gnome :92 "$home" HOME="$home" XDG_RUNTIME_DIR="$home/run" DISPLAY=:92 \
    DBUS_SESSION_BUS_ADDRESS="$(cat "$home/bus")" KALIDROME_DESKTOP=gnome || failed=1
}

# --- Timings: sway against the bare root window and swaybg by hand ------------------------------
timings() {
  start_xvfb 93 || { echo "timing: SKIP Xvfb did not start"; return; }
  local home out
  home=$(make_home timing)
  out=$(DISPLAY=:93 KALIDROME_DESKTOP=x11-root "$work/desktop_driver" "$home/System/WallPaper.bmp" stretch 20)
  echo "timing x11-root (640x480, stretched): $(grep '^change' <<<"$out" | sed 's/.*: //; s/ ms//' | sort -n | sed -n 10p) ms median of 20"

  printf 'output HEADLESS-1 mode 640x480\n' >"$home/sway.config"
  as_user HOME="$home" XDG_RUNTIME_DIR="$home/run" WLR_BACKENDS=headless WLR_RENDERER=pixman \
    WLR_LIBINPUT_NO_DEVICES=1 sway -c "$home/sway.config" >"$work/sway.log" 2>&1 &
  pids+=($!)
  local i sock=""
  for ((i = 0; i < 50; i++)); do sock=$(ls "$home"/run/sway-ipc.*.sock 2>/dev/null | head -n1); [[ -n $sock ]] && break; sleep 0.1; done
  if [[ -z $sock ]]; then echo "timing sway: SKIP sway did not come up"; return; fi
  local env=(HOME="$home" XDG_RUNTIME_DIR="$home/run" WAYLAND_DISPLAY=wayland-1 SWAYSOCK="$sock")
  # swaybg by hand first, on an empty output: started until grim sees its picture.
  local start end
  start=$(date +%s%N)
  as_user "${env[@]}" swaybg -o '*' -i "$home/System/WallPaper.bmp" -m stretch -c '#000000' >/dev/null 2>&1 &
  local bg=$!
  pids+=("$bg")
  for ((i = 0; i < 200; i++)); do
    as_user "${env[@]}" grim -t ppm "$home/run/shot.ppm" 2>/dev/null
    python3 -c "
import sys
d = open('$home/run/shot.ppm', 'rb').read().split(b'\n', 3)[3]
w = 640; p = (240 * w + 100) * 3
sys.exit(0 if d[p] > 200 and d[p + 2] < 60 else 1)" 2>/dev/null && break
  done
  end=$(date +%s%N)
  echo "timing swaybg by hand: $(((end - start) / 1000000)) ms from start to its picture seen by grim (polled)"
  end_tree "$bg"
  for kind in sway wlroots; do
    out=$(as_user "${env[@]}" KALIDROME_DESKTOP=$kind "$work/desktop_driver" "$home/System/WallPaper.bmp" stretch 20)
    echo "timing $kind (640x480, stretched): $(grep '^change' <<<"$out" | sed 's/.*: //; s/ ms//' | sort -n | sed -n 10p) ms median of 20 ($(grep -E "^(desktop|error)" <<<"$out" | tr "\n" " "))"
  done
  # swaymsg by hand, the same command the sway route sends.
  start=$(date +%s%N)
  for ((i = 0; i < 20; i++)); do as_user "${env[@]}" swaymsg output '*' bg "$home/System/WallPaper.bmp" stretch '#000000' >/dev/null; done
  end=$(date +%s%N)
  echo "timing swaymsg by hand: $(((end - start) / 20000000)) ms per call (mean of 20)"
}

parts=("${@:2}")
[[ ${#parts[@]} -eq 0 ]] && parts=(plasma gnome timings)
for part in "${parts[@]}"; do
  case $part in
    plasma | gnome | timings) "$part" ;;
    *) echo "unknown part: $part" >&2; exit 2 ;;
  esac
done
exit $failed
