#!/usr/bin/env bash
# Renders the launcher icon data/desktop/icons/kalidrome.svg into the PNG sizes of the
# hicolor theme (data/desktop/icons/kalidrome-<size>.png). The PNGs are kept in the
# checkout, so building needs no SVG renderer; run this again after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
icons="$here/data/desktop/icons"
command -v rsvg-convert >/dev/null || { echo "make-icons.sh: rsvg-convert is missing; install librsvg2-bin" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "$icons/kalidrome-$size.png" "$icons/kalidrome.svg"
done
