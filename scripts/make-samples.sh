#!/usr/bin/env bash
# Makes the sample pictures in samples/ with ImageMagick: one or more of each
# format the viewer reads, a photographic-looking JPEG, one JPEG stored
# sideways with an EXIF orientation tag, and names whose natural order
# (img1, img2, img10) differs from their plain character order.
#
# Usage: scripts/make-samples.sh [OUTPUT_DIR]   (default: samples/)
# The output is committed; run this again only to change the pictures.
# Fixed seeds keep the noise and plasma the same from one run to the next.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/samples}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ImageMagick 6 ships as "convert"; use the real one, not any wrapper on PATH.
im=/usr/bin/convert
[ -x "$im" ] || im=convert

# Copies JPEG $1 to $2 with an EXIF block holding only Orientation = 6,
# inserted after the JFIF header. ImageMagick 6 writes the tag only into an
# EXIF block that the picture already has, so the block is written by hand: a
# little-endian TIFF header and one IFD with the one entry (tag 0x0112, SHORT).
with_orientation_6() {
    local in=$1 dst=$2
    if [ "$(od -An -tx1 -N4 "$in" | tr -d ' ')" != ffd8ffe0 ]; then
        echo "make-samples: $in does not start with a JFIF header" >&2
        exit 1
    fi
    local app0=$(($(od -An -tu1 -j4 -N1 "$in") * 256 + $(od -An -tu1 -j5 -N1 "$in")))
    {
        head -c $((4 + app0)) "$in"
        printf '\xff\xe1\x00\x22'
        printf 'Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0'
        tail -c +$((5 + app0)) "$in"
    } >"$dst"
    if [ "$(identify -format '%[orientation]' "$dst")" != RightTop ]; then
        echo "make-samples: EXIF orientation missing from $dst" >&2
        exit 1
    fi
}

# img1.jpg: dusk over water. A sky gradient, a plasma texture laid over it for
# cloud and wave detail, a moon, dark hills and fine grain.
"$im" -size 1024x683 gradient:'#f6bd60'-'#22306b' -rotate 180 "$tmp/sky.png"
"$im" -size 1024x683 -seed 7 plasma:'#808080'-'#808080' -colorspace Gray \
    -blur 0x3 "$tmp/plasma.png"
"$im" "$tmp/sky.png" "$tmp/plasma.png" -compose Overlay -composite \
    \( -size 1024x683 xc:none -fill '#fff6d5' -draw 'circle 760,170 760,214' -blur 0x1.5 \) \
    -compose Over -composite \
    -fill '#152238' -draw 'path "M 0,470 C 160,380 300,420 430,455 S 700,380 1024,440 L 1024,683 L 0,683 Z"' \
    \( -size 1024x260 gradient:'#31407a'-'#0b1330' -seed 3 -attenuate 0.6 +noise Gaussian \
       -motion-blur 0x12+0 \) -geometry +0+500 -compose Over -composite \
    -fill '#0a0f1e' -draw 'path "M 0,520 C 200,470 360,505 520,515 S 820,470 1024,505 L 1024,540 L 0,540 Z"' \
    -seed 5 -attenuate 0.35 +noise Gaussian \
    -quality 85 "$out/img1.jpg"

# img2.jpg: a portrait picture (a lighthouse under a crescent moon) stored
# lying on its side; orientation 6 (RightTop) tells a viewer to turn it a
# quarter turn clockwise, which stands it upright again.
"$im" -size 480x640 gradient:'#0d1b3d'-'#5a6fa8' \
    \( -size 480x640 xc:none -fill '#e8e4c9' -draw 'circle 360,120 360,160' \
       \( -size 480x640 xc:none -fill black -draw 'circle 378,108 378,146' \) \
       -compose DstOut -composite \) -compose Over -composite \
    -fill '#2b2f3a' -draw 'rectangle 0,520 480,640' \
    -fill '#f2f2f2' -draw 'polygon 205,520 275,520 260,260 220,260' \
    -fill '#c0392b' -draw 'rectangle 214,330 266,360 rectangle 207,440 273,470' \
    -fill '#3a3f4b' -draw 'rectangle 210,230 270,260' \
    -fill '#ffe27a' -draw 'rectangle 222,238 258,256' \
    -fill '#2b2f3a' -draw 'polygon 205,232 275,232 240,200' \
    -seed 9 -attenuate 0.3 +noise Gaussian \
    "$tmp/upright.png"
"$im" "$tmp/upright.png" -rotate -90 -quality 85 "$tmp/sideways.jpg"
with_orientation_6 "$tmp/sideways.jpg" "$out/img2.jpg"

# img10.jpg: a green valley: a far hill, then a field whose grass is grey
# plasma mapped onto greens, cut to a curved skyline by a mask.
"$im" -size 900x600 -seed 21 plasma:fractal -colorspace Gray -blur 0x1 \
    +level-colors '#1f3b16','#7fae4a' "$tmp/grass.png"
"$im" -size 900x600 xc:black -fill white \
    -draw 'path "M 0,340 C 220,290 420,380 620,330 S 840,300 900,320 L 900,600 L 0,600 Z"' \
    "$tmp/field-mask.png"
"$im" -size 900x600 gradient:'#9fd0f0'-'#eef6fb' \
    -fill '#8fae6a' -draw 'path "M 0,300 C 200,230 420,320 600,260 S 820,240 900,270 L 900,600 L 0,600 Z"' \
    \( "$tmp/grass.png" "$tmp/field-mask.png" -alpha off -compose CopyOpacity -composite \) \
    -compose Over -composite \
    -seed 4 -attenuate 0.4 +noise Gaussian \
    -quality 82 "$out/img10.jpg"

# night.jpeg: a wide panorama of a starry sky over a ridge.
"$im" -size 1400x350 xc:black -seed 13 +noise Random -channel R -separate +channel -threshold 99.6% \
    -blur 0x0.6 -level 0,60% "$tmp/stars.png"
"$im" -size 1400x350 gradient:'#020414'-'#1b2550' "$tmp/stars.png" -compose Screen -composite \
    -fill '#fdf6d8' -draw 'circle 1120,80 1120,106' \
    -fill '#05070f' -draw 'path "M 0,290 L 160,220 260,262 455,185 610,255 790,210 960,262 1140,200 1400,270 L 1400,350 L 0,350 Z"' \
    -quality 82 "$out/night.jpeg"

# tiles.bmp: flat geometric tiles, 8-bit palette BMP.
"$im" -size 320x240 xc:'#f4f1de' \
    -fill '#e07a5f' -draw 'rectangle 0,0 79,79 rectangle 160,0 239,79 rectangle 80,80 159,159 rectangle 240,80 319,159 rectangle 0,160 79,239 rectangle 160,160 239,239' \
    -fill '#3d405b' -draw 'circle 40,120 40,150 circle 200,120 200,150 circle 120,40 120,70 circle 280,40 280,70 circle 120,200 120,230 circle 280,200 280,230' \
    -fill '#81b29a' -draw 'circle 40,120 40,135 circle 200,120 200,135 circle 120,40 120,55 circle 280,40 280,55 circle 120,200 120,215 circle 280,200 280,215' \
    -type Palette -compress None BMP3:"$out/tiles.bmp"

# rings.gif: concentric rings coloured through a palette ramp; a picture
# of few colours, as GIF keeps them.
"$im" -size 400x400 radial-gradient: -function Sinusoid 7,90 \
    \( -size 1x256 gradient:'#073b4c'-'#ffd166' \) -clut \
    -colors 64 "$out/rings.gif"

# scan.tiff: a page as a scanner would deliver it: off-white paper, a heading,
# lines of "text" as grey bars, a photo box, a slight skew. LZW-compressed.
"$im" -size 600x800 xc:'#f7f3e8' \
    -fill '#2d2d2d' -draw 'rectangle 60,60 420,84' \
    -fill '#6b6b6b' \
    -draw 'rectangle 60,130 540,138 rectangle 60,152 520,160 rectangle 60,174 535,182 rectangle 60,196 300,204' \
    -draw 'rectangle 60,540 540,548 rectangle 60,562 500,570 rectangle 60,584 530,592 rectangle 60,606 410,614' \
    -draw 'rectangle 60,650 540,658 rectangle 60,672 525,680 rectangle 60,694 250,702' \
    -fill '#9aa7b1' -draw 'rectangle 60,240 540,500' \
    -fill '#56687a' -draw 'polygon 60,500 200,360 300,430 420,320 540,420 540,500' \
    -background '#f7f3e8' -rotate 0.6 -gravity center -crop 600x800+0+0 +repage \
    -depth 8 -compress LZW "$out/scan.tiff"

ls -l "$out"
du -ch "$out"/* | tail -1
