#!/usr/bin/env bash
# Soak run: the real program on a private Xvfb, cycling a few pictures every second
# (Interval=1) for a long while, with its resident memory and open files at the start and
# the end. Not part of the test command; run it by hand before a release.
# Usage: scripts/soak.sh [BUILD_DIR] [SECONDS]   (defaults: build, 600)
# Needs Xvfb (package xvfb) and perl (always there on Debian).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-600}
exe="$build/bin/kalidrome"
[[ -x "$exe" ]] || { echo "soak: no program at $exe (build it first)" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "soak: Xvfb is not installed (package xvfb)" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid=""
prog_pid=""
cleanup() {
  [[ -n "$prog_pid" ]] && kill "$prog_pid" 2>/dev/null && wait "$prog_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A program folder of its own: the executable, its System folder, and the pictures.
cp "$exe" "$work/kalidrome"
cp -r "$build/bin/System" "$work/System" 2>/dev/null || mkdir -p "$work/System"
mkdir -p "$work/pictures" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
system="$work/System/"
cp "$here"/tests/fuzz/corpus/fuzz_jpeg/colour_baseline.jpg "$here"/tests/fuzz/corpus/fuzz_jpeg/colour_progressive.jpg \
   "$here"/tests/fuzz/corpus/fuzz_png/rgb8.png "$here"/tests/fuzz/corpus/fuzz_png/rgba8.png "$work/pictures/"
# Two large bitmaps, turned grey (GreyScale=1) and written as WallPaper.bmp at every change.
perl -e '
  for my $picture (["red", 1600, 1200, "\x20\x20\xd0"], ["blue", 1280, 1024, "\xd0\x40\x20"]) {
    my ($name, $w, $h, $bgr) = @$picture;
    my $row = $bgr x $w; $row .= "\0" x ((4 - length($row) % 4) % 4);
    open(my $f, ">", "$ARGV[0]/$name.bmp") or die; binmode $f;
    print $f "BM", pack("V3", 54 + length($row) * $h, 0, 54),
             pack("V l l v v V V l l V V", 40, $w, $h, 1, 24, 0, length($row) * $h, 2835, 2835, 0, 0);
    print $f $row for 1 .. $h;
  }' "$work/pictures"

# The list file: version 2, no thumbnails, rows laid out 17 high.
perl -e '
  my ($list, @files) = @ARGV;
  my $out = pack("v6 V", 0x2045, 0x56, 0x54, 2, 0x20, 0x2046, scalar @files);
  for my $path (@files) {
    (my $name = $path) =~ s{.*/}{};
    my $payload = pack("V", length $name) . $name . pack("V", length $path) . $path . "\0";
    my $row = pack("V V V V v C C C V", 2, 17, 0, 17, 0x81, 50, 0, 0, 0);
    my $body = $row . pack("V V", 4, length $payload) . $payload;
    $out .= pack("V V", 1, length $body) . $body;
  }
  open(my $f, ">", $list) or die; binmode $f; print $f $out;' "$system/Files.kdl" "$work"/pictures/*

cat > "$system/Settings.ini" <<INI
[Options]
DisableCycling=0
Interval=1
Random=0
ShowTray=0
ShowImages=0
GreyScale=1
List=${system}Files.kdl
INI

display=""
for n in $(seq 90 140); do
  if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then display=":$n"; break; fi
done
[[ -n "$display" ]] || { echo "soak: no free X display number" >&2; exit 2; }
Xvfb "$display" -screen 0 1024x768x24 -noreset -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done

DISPLAY="$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" \
  KALIDROME_TRACE="$work/trace" KALIDROME_NONINTERACTIVE=1 "$work/kalidrome" >"$work/kalidrome.log" 2>&1 &
prog_pid=$!
for _ in $(seq 150); do grep -qx running "$work/trace" 2>/dev/null && break; sleep 0.1; done
grep -qx running "$work/trace" 2>/dev/null || { echo "soak: the program did not start"; cat "$work/kalidrome.log"; exit 1; }

rss() { awk '/^VmRSS/ {print $2}' "/proc/$prog_pid/status"; }
fds() { ls "/proc/$prog_pid/fd" | wc -l; }
changes() { grep -c '^wallpaper /' "$work/trace" || true; }
describe_fds() { ls -l "/proc/$prog_pid/fd" | awk 'NR > 1 {print $NF}' | sed 's/[0-9]\+/N/g' | sort | uniq -c; }

# Let start-up settle (first changes, caches filled) before the first figures.
sleep 15
rss0=$(rss); fds0=$(fds); changes0=$(changes)
echo "start (after 15 s): resident ${rss0} KiB, ${fds0} open files, ${changes0} changes so far"
describe_fds | sed 's/^/  start fd: /'
elapsed=0
while (( elapsed < seconds )); do
  step=$(( seconds - elapsed < 60 ? seconds - elapsed : 60 ))
  sleep "$step"
  elapsed=$(( elapsed + step ))
  kill -0 "$prog_pid" 2>/dev/null || { echo "soak: the program ended after ${elapsed} s"; cat "$work/kalidrome.log"; exit 1; }
  echo "  ${elapsed} s: resident $(rss) KiB, $(fds) open files, $(changes) changes"
done
rss1=$(rss); fds1=$(fds); changes1=$(changes)
echo "end (after ${seconds} s more): resident ${rss1} KiB, ${fds1} open files, ${changes1} changes in all"
describe_fds | sed 's/^/  end fd: /'
echo "changes during the soak: $(( changes1 - changes0 )) in ${seconds} s; resident change $(( rss1 - rss0 )) KiB; open files change $(( fds1 - fds0 ))"
unchanged=$(grep -c '^wallpaper unchanged' "$work/trace" || true)
echo "changes the desktop did not take: ${unchanged}"
kill -TERM "$prog_pid"
for _ in $(seq 50); do kill -0 "$prog_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$prog_pid" 2>/dev/null; then echo "soak: the program did not end on SIGTERM"; exit 1; fi
wait "$prog_pid" && status=0 || status=$?
prog_pid=""
echo "exit status after SIGTERM: $status"
