#!/usr/bin/env bash
# Draws the window's pictures with ImageMagick and packs the icons with Python 3.
#   resources/make-pictures.sh      regenerates every picture in resources/
# The results are committed; run this only after changing a drawing.
# Button glyphs are drawn without anti-aliasing: their magenta background is keyed out as
# transparent, and a blended edge pixel would show as a pink fringe.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

MAGENTA='#FF00FF'

# 280 x 93 logo: a Box with its display, and the tool's name.
convert -size 280x93 gradient:'#0B2E59-#117A7A' \
  -fill '#0A2342' -draw 'roundrectangle 14,14 86,80 8,8' \
  -fill '#D9E2EC' -draw 'roundrectangle 12,12 84,78 8,8' \
  -fill '#1B3A4B' -draw 'rectangle 20,20 76,44' \
  -fill '#5BE37D' -font DejaVu-Sans-Mono-Bold -pointsize 9 -draw 'text 23,35 "COMPLETE"' \
  -fill '#1B3A4B' -draw 'circle 30,62 30,56' -draw 'circle 48,62 48,56' -draw 'circle 66,62 66,56' \
  -fill '#F2B134' -draw 'rectangle 26,50 70,52' \
  -fill white -font DejaVu-Sans-Bold -pointsize 28 -draw 'text 100,50 "Zanowipe"' \
  -fill '#BFE6E6' -font DejaVu-Sans -pointsize 11 -draw 'text 102,70 "Box user data cleaner"' \
  -fill '#F2B134' -draw 'rectangle 100,57 268,58' \
  "$tmp/logo.png"
convert "$tmp/logo.png" -alpha off -type truecolor BMP3:logo.bmp

# 51 x 14 small picture (the layout keeps it hidden).
convert -size 51x14 xc:'#117A7A' \
  -fill white -font DejaVu-Sans-Bold -pointsize 9 -draw 'text 3,11 "ZW"' \
  -fill '#F2B134' -draw 'rectangle 20,5 47,8' \
  "$tmp/hidden.png"
convert "$tmp/hidden.png" -alpha off -type truecolor BMP3:hidden.bmp

# 16 x 16 glyphs on magenta, drawn pixel-exact.
glyph() {
  local out=$1
  shift
  convert -size 16x16 xc:"$MAGENTA" +antialias "$@" -alpha off -type truecolor "BMP3:$out"
}
# Open: a plug going into a socket.
glyph glyph_open.bmp \
  -fill '#2E7D32' -draw 'rectangle 1,6 7,9' -draw 'rectangle 7,4 9,11' \
  -fill '#9E9E9E' -draw 'rectangle 10,5 12,6' -draw 'rectangle 10,9 12,10' \
  -fill '#424242' -draw 'rectangle 13,3 14,12'
# Close: a red cross.
glyph glyph_close.bmp \
  -stroke '#C62828' -strokewidth 2 -draw 'line 3,3 12,12' -draw 'line 12,3 3,12'
# Erase: an eraser leaving a trace.
glyph glyph_erase.bmp \
  -fill '#E57373' -draw 'polygon 6,2 14,2 9,9 1,9' \
  -fill '#FFF59D' -draw 'polygon 1,9 9,9 7,12 0,12' \
  -fill '#1565C0' -draw 'rectangle 3,14 14,14'

# Icons: the Box with a wiped display, 16 x 16 for the window and 32 x 32 for the program.
icon_picture() {
  local size=$1 out=$2
  local s=$((size - 1)) d=$((size / 8)) w=$((size / 4))
  convert -size "${size}x${size}" xc:"$MAGENTA" +antialias \
    -fill '#0B2E59' -draw "rectangle 0,$((d)) $s,$((s - d))" \
    -fill '#D9E2EC' -draw "rectangle 1,$((d + 1)) $((s - 1)),$((s - d - 1))" \
    -fill '#117A7A' -draw "rectangle $((d + 1)),$((2 * d + 1)) $((s - d - 1)),$((size / 2))" \
    -fill '#F2B134' -draw "rectangle $((d + 1)),$((size / 2 + d + 1)) $((d + w)),$((s - 2 * d - 1))" \
    -alpha off -depth 8 "PPM:$out"
}
icon_picture 16 "$tmp/icon16.ppm"
icon_picture 32 "$tmp/icon32.ppm"
python3 pack-icon.py "$tmp/icon16.ppm" icon_window.ico
python3 pack-icon.py "$tmp/icon32.ppm" icon_program.ico
echo "pictures written to $(pwd)"
