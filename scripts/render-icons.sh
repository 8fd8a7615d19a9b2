#!/usr/bin/env bash
# Renders the icon's PNG sizes from data/icons/tolvane.svg (needs rsvg-convert, Debian's
# librsvg2-bin). The PNGs are kept in the tree so that building needs no renderer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
for size in 16 24 32 48 64 128 256; do
    folder="$root/data/icons/hicolor/${size}x${size}/apps"
    mkdir -p "$folder"
    rsvg-convert -w "$size" -h "$size" "$root/data/icons/tolvane.svg" -o "$folder/org.quendle.Tolvane.png"
done
