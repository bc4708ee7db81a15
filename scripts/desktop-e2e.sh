#!/usr/bin/env bash
# Whole-session end-to-end runs of the real program (build/bin/kalidrome) on real desktops,
# judged by the screen's pixels. Too slow for the test command: run it by hand.
#
# Usage: scripts/desktop-e2e.sh [DESKTOP...]
#   DESKTOP: sway mate gnome-x11 gnome-wayland cinnamon plasma (default: all, in this order).
#   BUILD_DIR (environment): the build folder, default build/ of this checkout.
#   KEEP=1 keeps the work folder (logs, screenshots, processes.txt of a failed run);
#   HOLD=SECONDS keeps a failed session running that long, to look at it by hand.
#
# Per desktop: a headless session of its own (Xvfb or a headless compositor, private session
# and system buses, HOME and XDG_* folders in a temporary folder), the program copied into a
# folder of its own with a System folder holding Settings.ini and a list of three pictures:
#   1. red, larger than the screen      -> stretched: red to the screen's edges
#   2. green, a little smaller (960x720) -> centred: green with a dark border at the edges
#   3. blue, larger than the screen     -> stretched again
# Each change is asked for with `kalidrome --next`; the screen is read until it shows the
# change, and the time from the request to the screenshot that showed it is reported
# (a screenshot takes some tens of ms, which the figure includes).
# Prints a table: desktop, result, the three times; exits 1 when any desktop failed.
#
# Run as root it installs the Debian 12 packages each desktop needs with apt-get and runs the
# sessions and the program as nobody; otherwise it names the missing packages and skips.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
all=(sway mate gnome-x11 gnome-wayland cinnamon plasma)
desktops=("$@")
[[ ${#desktops[@]} -eq 0 ]] && desktops=("${all[@]}")
for d in "${desktops[@]}"; do
  [[ " ${all[*]} " == *" $d "* ]] || { echo "unknown desktop: $d (known: ${all[*]})" >&2; exit 2; }
done

common_packages=(xvfb x11-utils x11-apps xdotool imagemagick dbus dbus-x11 python3 util-linux qt6-wayland)
packages_for() {
  case $1 in
    sway) echo sway swaybg grim ;;
    mate) echo marco caja mate-settings-daemon ;;
    gnome-x11) echo gnome-shell dconf-service gnome-session-bin ;;
    gnome-wayland) echo gnome-shell dconf-service gnome-screenshot xwayland ;;
    cinnamon) echo cinnamon cinnamon-session cinnamon-settings-daemon nemo ;;
    plasma) echo plasma-workspace plasma-desktop kwin-x11 ;;
  esac
}
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}
# Installs (as root) or names what is missing; fails when it cannot be had.
ensure_packages() {
  local missing
  missing=$(missing_of "$@" | tr '\n' ' ')
  [[ -z ${missing// /} ]] && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing packages: $missing(install them as root, or run this script as root)"
    return 1
  fi
  echo "installing: $missing" >&2
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >&2 ||
    { echo "apt-get install failed for: $missing"; return 1; }
}

if ! why=$(ensure_packages "${common_packages[@]}"); then echo "$why" >&2; exit 1; fi
cmake --build "$build" --target kalidrome e2e_fixture -j2 >&2 || exit 1
program=$build/bin/kalidrome
fixture=$build/tests/e2e_fixture

work=$(mktemp -d /tmp/kalidrome-e2e.XXXXXX)
chmod 755 "$work"
pids=()
# Ends what this script started, children first (dbus-run-session's shell, sway's swaybg).
end_tree() {
  local child
  for child in $(pgrep -P "$1"); do end_tree "$child"; done
  kill "$1" 2>/dev/null
}
end_all() {
  local pid
  for pid in "${pids[@]}"; do end_tree "$pid"; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  pids=()
}
cleanup() {
  end_all
  [[ -n ${KEEP:-} ]] && { echo "kept $work" >&2; return; }
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

W=1024 H=768
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Watches the screen until it shows a change: runs $home/shot.sh FILE (writes the screen as
# PPM) over and over, in one process so that each look costs only the screenshot. It starts
# before the change is asked for, and touches READY after its first look. Arguments: shot
# script, PPM file, stretch|centre, RRGGBB, READY.
# Stretched: the colour from edge to edge across the middle rows; centred (a 960x720 picture
# on 1024x768): the colour inside, not at the outermost pixels. Panels live at the top and
# bottom, the program's window (where there is no tray) in the middle: the middle rows' ends
# are the desktop's own. Prints "MS LOOK_MS SHOTS what the last look saw": MS the clock (ms
# since 1970) at the start of the screenshot that showed the change (-1: not seen in 30 s),
# LOOK_MS what that screenshot took.
cat >"$work/watch.py" <<'EOF'
import subprocess, sys, time
shot, path, mode, colour, ready = sys.argv[1:6]
start_ms = time.time() * 1000
want = tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))

def look():
    if subprocess.run([shot, path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        return False, "no screenshot"
    data = open(path, 'rb').read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace(): pos += 1
        if data[pos:pos + 1] == b'#':
            pos = data.index(b'\n', pos); continue
        end = pos
        while not data[end:end + 1].isspace(): end += 1
        fields.append(data[pos:end]); pos = end
    pos += 1
    if fields[0] != b'P6': return False, "not a P6 picture"
    w, h, maxval = int(fields[1]), int(fields[2]), int(fields[3])
    step = 2 if maxval > 255 else 1
    def px(x, y):
        p = pos + (y * w + x) * 3 * step
        return tuple(data[p + i * step] for i in range(3))
    def near(c): return all(abs(a - b) <= 48 for a, b in zip(c, want))
    rows = [int(h * f) for f in (0.45, 0.55, 0.65)]
    inner = [int(w * 48 / 1024), w - 1 - int(w * 48 / 1024)]
    outer = [int(w * 6 / 1024), w - 1 - int(w * 6 / 1024)]
    inside = all(near(px(x, y)) for y in rows for x in inner)
    edges = [near(px(x, y)) for y in rows for x in outer]
    ok = inside and (all(edges) if mode == 'stretch' else not any(edges))
    return ok, "%dx%d %s at (%d,%d), %s at (%d,%d)" % (w, h, px(inner[0], rows[1]), inner[0], rows[1],
                                                       px(outer[0], rows[1]), outer[0], rows[1])

shots, seen = 0, "nothing"
while time.time() * 1000 - start_ms < 30000:
    began = time.time() * 1000
    try:
        ok, seen = look()
    except Exception as error:  # a screenshot cut short
        ok, seen = False, str(error)
    shots += 1
    if shots == 1: open(ready, 'w').close()
    if ok:
        print(int(began), int(time.time() * 1000 - began), shots, seen)
        sys.exit(0)
print(-1, 0, shots, seen)
sys.exit(1)
EOF

# --- per-desktop sessions --------------------------------------------------------------------
# Each start_* sets: session_env (the environment the program gets), shot (a command that
# writes the screen as PPM to the file named last), and returns non-zero with a reason on
# stdout when the session did not come up.

home=""
new_home() {
  home=$work/$1
  mkdir -p "$home/run" "$home/config" "$home/data" "$home/cache" "$home/prog/System"
  chmod 700 "$home/run"
  local pictures=$home/pictures
  mkdir -p "$pictures"
  "$fixture" picture "$pictures/red.bmp" 1280 960 ff0000 &&
    "$fixture" picture "$pictures/green.bmp" 960 720 00c000 &&
    "$fixture" picture "$pictures/blue.bmp" 1280 960 0000ff &&
    # The list starts at its first entry: --next goes to red, green, then blue again.
    "$fixture" list "$home/prog/System/Files.kdl" "$pictures/blue.bmp" "$pictures/red.bmp" "$pictures/green.bmp" ||
    return 1
  printf '[Options]\nDisableCycling=1\nRandom=0\nShowImages=0\nStretchLarger=1\nStretchSmaller=0\nRes1=1\nRes2=1\nCurrIndex=0\nList=%s\n' \
    "$home/prog/System/Files.kdl" >"$home/prog/System/Settings.ini"
  cp "$program" "$home/prog/kalidrome"
  [[ $(id -u) -eq 0 ]] && chown -R "$user_uid" "$home"
  return 0
}
base_env() {
  echo HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_CACHE_HOME="$home/cache" XDG_SESSION_CLASS=user NO_AT_BRIDGE=1 LIBGL_ALWAYS_SOFTWARE=1
}

start_xvfb() {  # $1 display number
  Xvfb ":$1" -screen 0 ${W}x${H}x24 -noreset +extension GLX +extension RANDR -nolisten tcp >"$home/xvfb.log" 2>&1 &
  pids+=($!)
  local i
  for ((i = 0; i < 50; i++)); do DISPLAY=":$1" xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb :$1 did not start: $(tail -n1 "$home/xvfb.log")"
  return 1
}
# A private session bus (address in $home/bus) for the user, with the session's environment
# so that the services it starts (dconf, kactivitymanagerd, ...) see the display.
start_session_bus() {
  local addr="unix:path=$home/run/bus"
  # shellcheck disable=SC2046
  as_user $(base_env) "$@" dbus-daemon --session --nofork --address="$addr" >"$home/dbus.log" 2>&1 &
  pids+=($!)
  local i
  for ((i = 0; i < 50; i++)); do [[ -S $home/run/bus ]] && break; sleep 0.1; done
  echo "$addr" >"$home/bus"
}
# A private system bus: the system configuration without its pid file (the machine's own bus
# may hold it), listening in the session's folder, and without services to start: most are
# started through systemd, which is not on this bus, so that every call to one (UPower,
# AccountsService, which csd-background calls at each change) would wait 25 s before it failed.
start_system_bus() {
  sed -e '/<pidfile>/d' -e "s#<listen>.*</listen>#<listen>unix:path=$home/system_bus</listen>#" \
    -e '/<standard_system_servicedirs\/>/d' \
    /usr/share/dbus-1/system.conf >"$home/system.conf"
  dbus-daemon --config-file="$home/system.conf" --nofork >"$home/system-dbus.log" 2>&1 &
  pids+=($!)
  local i
  for ((i = 0; i < 50; i++)); do [[ -S $home/system_bus ]] && break; sleep 0.1; done
  chmod 666 "$home/system_bus" 2>/dev/null
}
wait_for_name() {  # $1 bus name; bounded
  local i
  for ((i = 0; i < ${2:-120}; i++)); do
    # shellcheck disable=SC2086
    as_user $session_env dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true' && return 0
    sleep 0.5
  done
  return 1
}
x11_shot() { DISPLAY=$display import -screen -window root "ppm:$1" 2>/dev/null; }

start_sway() {
  printf 'xwayland disable\noutput HEADLESS-1 mode %dx%d\nfor_window [app_id=".*"] move scratchpad\n' $W $H >"$home/sway.config"
  # shellcheck disable=SC2046
  as_user $(base_env) WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$home/sway.config" >"$home/session.log" 2>&1 &
  pids+=($!)
  local i sock=""
  for ((i = 0; i < 100; i++)); do
    sock=$(ls "$home"/run/sway-ipc.*.sock 2>/dev/null | head -n1)
    [[ -n $sock && -S $home/run/wayland-1 ]] && break
    sleep 0.1
  done
  [[ -n $sock ]] || { echo "sway did not come up: $(grep -m1 -iE 'error|fail' "$home/session.log")"; return 1; }
  session_env="$(base_env) WAYLAND_DISPLAY=wayland-1 SWAYSOCK=$sock XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland"
  session_env+=" DBUS_SESSION_BUS_ADDRESS=unix:path=$home/run/no-bus"
  # shellcheck disable=SC2086
  shot() { as_user $session_env grim -t ppm "$1" 2>/dev/null; }
}

start_mate() {
  display=:81
  start_xvfb 81 || return 1
  start_session_bus DISPLAY=$display XDG_CURRENT_DESKTOP=MATE
  session_env="$(base_env) DISPLAY=$display XDG_CURRENT_DESKTOP=MATE XDG_SESSION_TYPE=x11 DBUS_SESSION_BUS_ADDRESS=$(cat "$home/bus")"
  # shellcheck disable=SC2086
  as_user $session_env marco --no-composite --sm-disable >"$home/session.log" 2>&1 &
  pids+=($!)
  # shellcheck disable=SC2086
  as_user $session_env caja -n --force-desktop >"$home/caja.log" 2>&1 &
  pids+=($!)
  wait_for_name org.mate.Caja 60 || wait_for_name org.gnome.Nautilus 1 ||
    { echo "caja did not come up: $(grep -m1 -iE 'error|critical' "$home/caja.log")"; return 1; }
  shot() { x11_shot "$1"; }
}

# gnome-shell picks systemd-logind when /run/systemd/seats exists and stops when logind is
# not on its (private) system bus; under root it runs in a mount namespace that hides
# /run/systemd, so that it uses its stand-in login manager.
run_gnome_shell() {  # $@: gnome-shell's arguments
  start_system_bus
  cat >"$home/start.sh" <<EOF
#!/bin/sh
export $(base_env) DBUS_SYSTEM_BUS_ADDRESS=unix:path=$home/system_bus XDG_CURRENT_DESKTOP=GNOME $gnome_extra_env
exec dbus-run-session -- sh -c 'echo "\$DBUS_SESSION_BUS_ADDRESS" > $home/bus; exec gnome-shell $*'
EOF
  chmod 755 "$home/start.sh"
  [[ $(id -u) -eq 0 ]] && chown "$user_uid" "$home/start.sh"
  if [[ $(id -u) -eq 0 ]]; then
    unshare -m sh -c "mount -t tmpfs none /run/systemd 2>/dev/null; exec setpriv --reuid=65534 --regid=65534 --clear-groups $home/start.sh" \
      >"$home/session.log" 2>&1 &
  else
    "$home/start.sh" >"$home/session.log" 2>&1 &
  fi
  pids+=($!)
  local i
  for ((i = 0; i < 60; i++)); do [[ -s $home/bus ]] && break; sleep 0.5; done
  [[ -s $home/bus ]] || { echo "gnome-shell's bus did not come up: $(tail -n1 "$home/session.log")"; return 1; }
}
# GNOME starts in the overview, which hides the background: leave it through the shell's
# OverviewActive property, then wait until it says it is closed.
leave_overview() {
  local i
  for ((i = 0; i < 120; i++)); do
    # shellcheck disable=SC2086
    as_user $session_env dbus-send --session --print-reply --dest=org.gnome.Shell /org/gnome/Shell \
      org.freedesktop.DBus.Properties.Set string:org.gnome.Shell string:OverviewActive variant:boolean:false \
      >"$home/overview.log" 2>&1
    # shellcheck disable=SC2086
    as_user $session_env dbus-send --session --print-reply --dest=org.gnome.Shell /org/gnome/Shell \
      org.freedesktop.DBus.Properties.Get string:org.gnome.Shell string:OverviewActive 2>/dev/null |
      grep -q 'boolean false' && return 0
    sleep 0.5
  done
  return 1
}

start_gnome_x11() {
  display=:82
  start_xvfb 82 || return 1
  gnome_extra_env="DISPLAY=$display XDG_SESSION_TYPE=x11"
  run_gnome_shell --x11 --replace --sm-disable || return 1
  session_env="$(base_env) $gnome_extra_env XDG_CURRENT_DESKTOP=GNOME DBUS_SESSION_BUS_ADDRESS=$(cat "$home/bus")"
  wait_for_name org.gnome.Shell || { echo "gnome-shell did not come up: $(grep -m1 -iE 'error|fail' "$home/session.log")"; return 1; }
  leave_overview || { echo "the overview stays open: $(head -n1 "$home/overview.log")"; return 1; }
  shot() { x11_shot "$1"; }
}

start_gnome_wayland() {
  gnome_extra_env="XDG_SESSION_TYPE=wayland"
  run_gnome_shell --wayland --headless --virtual-monitor ${W}x${H} --no-x11 --wayland-display kalidrome-e2e || return 1
  session_env="$(base_env) WAYLAND_DISPLAY=kalidrome-e2e XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME DBUS_SESSION_BUS_ADDRESS=$(cat "$home/bus")"
  wait_for_name org.gnome.Shell || { echo "gnome-shell did not come up: $(grep -m1 -iE 'error|fail' "$home/session.log")"; return 1; }
  wait_for_name org.gnome.Shell.Screenshot || { echo "no org.gnome.Shell.Screenshot"; return 1; }
  leave_overview || { echo "the overview stays open: $(head -n1 "$home/overview.log")"; return 1; }
  # gnome-screenshot goes through org.gnome.Shell.Screenshot (it is on the shell's allow list).
  shot() {
    # shellcheck disable=SC2086
    as_user $session_env gnome-screenshot -f "$home/run/shot.png" >/dev/null 2>&1 &&
      convert "$home/run/shot.png" "ppm:$1" 2>/dev/null
  }
}

start_cinnamon() {
  display=:84
  start_xvfb 84 || return 1
  start_session_bus DISPLAY=$display XDG_CURRENT_DESKTOP=X-Cinnamon
  start_system_bus
  session_env="$(base_env) DISPLAY=$display XDG_CURRENT_DESKTOP=X-Cinnamon XDG_SESSION_TYPE=x11 XDG_SESSION_DESKTOP=cinnamon"
  session_env+=" DBUS_SESSION_BUS_ADDRESS=$(cat "$home/bus") DBUS_SYSTEM_BUS_ADDRESS=unix:path=$home/system_bus"
  # shellcheck disable=SC2086
  as_user $session_env cinnamon-session --session cinnamon >"$home/session.log" 2>&1 &
  pids+=($!)
  wait_for_name org.Cinnamon 120 || { echo "cinnamon did not come up: $(grep -m1 -iE 'error|fail' "$home/session.log")"; return 1; }
  # Cinnamon shows the root window's background pixmap, which csd-background draws once the
  # session manager says the session runs. Should it have drawn nothing a while after that
  # (seen while its calls on the system bus hung: a black screen for good), end it: the
  # session starts it again (it is marked for restarting), and the new one finds the session
  # running and draws.
  local i
  for ((i = 0; i < 120; i++)); do
    # shellcheck disable=SC2086
    as_user $session_env dbus-send --session --print-reply --dest=org.gnome.SessionManager /org/gnome/SessionManager \
      org.gnome.SessionManager.IsSessionRunning 2>/dev/null | grep -q 'boolean true' && break
    sleep 0.5
  done
  sleep 2
  if ! DISPLAY=$display xprop -root _XROOTPMAP_ID 2>/dev/null | grep -q 'pixmap id'; then
    pkill -u "$user_uid" -x csd-background
    for ((i = 0; i < 100; i++)); do
      DISPLAY=$display xprop -root _XROOTPMAP_ID 2>/dev/null | grep -q 'pixmap id' && break
      sleep 0.2
    done
    DISPLAY=$display xprop -root _XROOTPMAP_ID 2>/dev/null | grep -q 'pixmap id' ||
      { echo "csd-background draws no background"; return 1; }
  fi
  # Under its compositor the root window reads black with xwd; import reads the screen.
  shot() { x11_shot "$1"; }
}

start_plasma() {
  display=:85
  start_xvfb 85 || return 1
  start_session_bus DISPLAY=$display XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 QT_QPA_PLATFORM=xcb KDE_FULL_SESSION=true
  session_env="$(base_env) DISPLAY=$display XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 KDE_FULL_SESSION=true"
  session_env+=" XDG_SESSION_TYPE=x11 QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=$(cat "$home/bus")"
  # shellcheck disable=SC2086
  as_user $session_env kwin_x11 --replace >"$home/kwin.log" 2>&1 &
  pids+=($!)
  # shellcheck disable=SC2086
  as_user $session_env plasmashell --no-respawn >"$home/session.log" 2>&1 &
  pids+=($!)
  wait_for_name org.kde.plasmashell || { echo "plasmashell did not come up: $(tail -n1 "$home/session.log")"; return 1; }
  # The shell registers its name before it has made its desktops.
  local i
  for ((i = 0; i < 60; i++)); do
    # shellcheck disable=SC2086
    as_user $session_env dbus-send --session --print-reply --dest=org.kde.plasmashell /PlasmaShell \
      org.kde.PlasmaShell.evaluateScript 'string:print(desktops().length)' 2>/dev/null | grep -q 'string "[1-9]' && break
    sleep 0.5
  done
  shot() { x11_shot "$1"; }
}

# --- the three changes -------------------------------------------------------------------------
declare -A result times
run_desktop() {
  local name=$1 reason
  session_env="" display=""
  if ! reason=$(ensure_packages $(packages_for "$name")); then
    result[$name]="SKIP: $reason"
    return
  fi
  new_home "$name" || { result[$name]="FAIL: the pictures or list could not be made"; return; }
  # In this shell (not a command substitution): the session's processes and shot stay known.
  if ! "start_${name//-/_}" >"$home/start.out"; then
    result[$name]="FAIL: $(cat "$home/start.out")"
    end_all
    return
  fi
  # The screenshot as a script of its own, for the watcher.
  { echo '#!/bin/bash'; declare -p session_env display home; declare -f as_user x11_shot shot; echo 'shot "$1"'; } \
    >"$home/shot.sh"
  chmod 755 "$home/shot.sh"
  sleep 3  # the desktop's own first background
  # shellcheck disable=SC2086
  as_user $session_env KALIDROME_TRACE="$home/trace" KALIDROME_NONINTERACTIVE=1 "$home/prog/kalidrome" \
    >"$home/kalidrome.log" 2>&1 &
  pids+=($!)
  local i
  for ((i = 0; i < 150; i++)); do grep -q '^running$' "$home/trace" 2>/dev/null && break; sleep 0.1; done
  grep -q '^running$' "$home/trace" 2>/dev/null ||
    { result[$name]="FAIL: the program did not start: $(tail -n1 "$home/kalidrome.log")"; end_all; return; }
  sleep 1
  # GNOME opens its overview again at the end of its start-up animation: leave it once more.
  if [[ $name == gnome-* ]]; then
    sleep 2
    leave_overview || { result[$name]="FAIL: the overview stays open: $(head -n1 "$home/overview.log")"; end_all; return; }
    sleep 1
  fi
  local step mode colour label start asked seen look shots verdict list=""
  for step in "stretch ff0000 red" "centre 00c000 green" "stretch 0000ff blue"; do
    read -r mode colour label <<<"$step"
    rm -f "$home/ready"
    python3 "$work/watch.py" "$home/shot.sh" "$home/shot.ppm" "$mode" "$colour" "$home/ready" >"$home/watch.out" &
    local watcher=$!
    for ((i = 0; i < 200; i++)); do [[ -e $home/ready ]] && break; sleep 0.05; done
    start=$(now_ms)
    # shellcheck disable=SC2086
    as_user $session_env KALIDROME_TRACE="$home/trace-next" "$home/prog/kalidrome" --next >>"$home/next.log" 2>&1
    asked=$(($(now_ms) - start))
    wait "$watcher"
    read -r seen look shots verdict <"$home/watch.out"
    if [[ ${seen:--1} == -1 ]]; then seen=""; else seen=$((seen - start)); fi
    cp "$home/shot.ppm" "$home/shot-$label.ppm" 2>/dev/null
    echo "$name $label: --next returned after ${asked} ms, seen by the screenshot begun after ${seen:-never} ms (it took ${look} ms; $shots screenshots)" >&2
    if [[ -z $seen ]]; then
      ps -u "$user_uid" -o pid,etime,args >"$home/processes.txt" 2>&1  # for a look with KEEP=1
      [[ -n ${HOLD:-} ]] && { echo "holding the failed session for $HOLD s (display $display)" >&2; sleep "$HOLD"; }
      result[$name]="FAIL: $label $mode not on screen within 30 s (last: ${verdict:-no screenshot}; $(grep -m1 -iE 'refus|error|cannot' "$home/trace" "$home/kalidrome.log" | head -n1))"
      times[$name]="$list"
      end_all
      return
    fi
    list+="${seen} "
  done
  result[$name]=PASS
  times[$name]="$list"
  end_all
}

for d in "${desktops[@]}"; do
  echo "== $d" >&2
  run_desktop "$d"
  echo "   ${result[$d]}  ${times[$d]:-}" >&2
done

failed=0
printf '\n%-14s %-8s %12s %12s %12s\n' desktop result "stretched ms" "centred ms" "stretched ms"
for d in "${desktops[@]}"; do
  read -r t1 t2 t3 <<<"${times[$d]:-}"
  r=${result[$d]%%:*}
  printf '%-14s %-8s %12s %12s %12s\n' "$d" "$r" "${t1:--}" "${t2:--}" "${t3:--}"
  [[ $r == FAIL ]] && failed=1
done
for d in "${desktops[@]}"; do
  [[ ${result[$d]} == PASS ]] || echo "$d: ${result[$d]}"
done
exit $failed
