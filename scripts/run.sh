#!/usr/bin/env bash
# Installs what is missing, builds Kalidrome and starts it on the current desktop.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "kalidrome: no desktop session found (neither DISPLAY nor WAYLAND_DISPLAY is set); start it from a graphical session." >&2
  exit 2
fi
exec "$here/build/bin/kalidrome" "$@"
