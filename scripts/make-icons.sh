#!/usr/bin/env bash
# Renders the application icon from its sources in data/icons/:
#   pictolune.svg      the design, drawn on a 16-unit grid
#   pictolune-16.xpm   the same design drawn pixel by pixel for 16 x 16, where
#                      a scaled rendering of the SVG turns the thin moon to mush
# Writes data/icons/pictolune.png (16 x 16, 8-bit palette: the window icon,
# compiled into the program) and data/icons/hicolor/NxN/apps/pictolune.png
# for the desktop. Needs rsvg-convert (librsvg2-bin) and ImageMagick.
# The output is committed; run this again only after changing a source.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
icons=$root/data/icons
im=/usr/bin/convert
[ -x "$im" ] || im=convert
# No time stamps in the PNGs, so an unchanged source gives unchanged files.
stable=(-define png:exclude-chunk=date,time)

"$im" "$icons/pictolune-16.xpm" "${stable[@]}" PNG8:"$icons/pictolune.png"

for size in 32 48 64 128 256; do
    dir=$icons/hicolor/${size}x${size}/apps
    mkdir -p "$dir"
    rsvg-convert -w "$size" -h "$size" "$icons/pictolune.svg" -o "$dir/pictolune.png.tmp"
    "$im" "$dir/pictolune.png.tmp" "${stable[@]}" PNG32:"$dir/pictolune.png"
    rm -f "$dir/pictolune.png.tmp"
done

# The window icon must stay a 16 x 16 picture of 8-bit palette entries.
check=$(identify -format '%w %h %[png:IHDR.bit-depth-orig] %[png:IHDR.color-type-orig]' \
    "$icons/pictolune.png")
if [ "$check" != "16 16 8 3" ]; then
    echo "make-icons: pictolune.png is not a 16 x 16 8-bit palette PNG ($check)" >&2
    exit 1
fi
ls -l "$icons/pictolune.png" "$icons"/hicolor/*/apps/pictolune.png
