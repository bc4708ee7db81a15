#!/usr/bin/env bash
# Builds Kalidrome (the program only, no tests) and starts it on the current desktop,
# after installing what building and running need. Arguments go to the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# Said before anything is installed or built: without a session there is nothing to start.
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "kalidrome: no desktop session found (neither DISPLAY nor WAYLAND_DISPLAY is set); run scripts/run.sh from a terminal in a graphical session." >&2
  exit 2
fi
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build" -DKALIDROME_TESTS=OFF -DKALIDROME_BENCH=OFF
exec "$here/build/bin/kalidrome" "$@"
