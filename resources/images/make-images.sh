#!/usr/bin/env bash
# Makes the product's images for the dialogs from ImageMagick drawing commands. The results are
# committed; run this again only to change them.
#   product.ico      icon group 104: 16, 24, 32, 48 and 256 pixels, each PNG-compressed
#   logo.png         PNG 105, 70 x 24, white word mark on transparent
#   logo.bmp         bitmap 105, the same on the black caption colour, 24 bits
#   close.bmp        bitmap 115, two 24 x 24 images: 0 dark cross, 1 light cross, 32 bits
#   header.bmp       bitmap 116, four 48 x 48 header icons: language, information, question, warning
# Image strips use magenta as the transparent colour.
set -euo pipefail
cd "$(dirname "$0")"
font=DejaVu-Sans-Bold
brand='#006699'
magenta='#FF00FF'

# Icon: a shield in the brand colour with a white tick.
for size in 256 48 32 24 16; do
  convert -size 256x256 xc:none -fill "$brand" -stroke none \
    -draw "path 'M 128,16 L 224,52 L 224,124 C 224,184 184,222 128,244 C 72,222 32,184 32,124 L 32,52 Z'" \
    -fill none -stroke white -strokewidth 22 -draw "polyline 80,130 114,166 180,94" \
    -resize ${size}x${size} -strip -define png:compression-level=9 PNG32:icon-$size.png
done
# Every size is stored as PNG (Windows Vista and later read PNG icon images of any size): a third
# of the bytes of the plain bitmaps ImageMagick would write for all but 256 pixels.
python3 - product.ico icon-16.png icon-24.png icon-32.png icon-48.png icon-256.png <<'EOF'
import struct, sys
images = [open(name, "rb").read() for name in sys.argv[2:]]
offset = 6 + 16 * len(images)
icon = struct.pack("<HHH", 0, 1, len(images))
for png in images:
    width, height = struct.unpack(">II", png[16:24])
    icon += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), offset)
    offset += len(png)
open(sys.argv[1], "wb").write(icon + b"".join(images))
EOF
rm -f icon-*.png

# Logo: small shield mark and the word mark.
convert -size 70x24 xc:none -fill white -stroke none \
  -draw "path 'M 10,2 L 18,5 L 18,11 C 18,16 15,19 10,22 C 5,19 2,16 2,11 L 2,5 Z'" \
  -fill "$brand" -draw "path 'M 10,6 L 15,8 L 15,11 C 15,14 13,16 10,18 C 7,16 5,14 5,11 L 5,8 Z'" \
  -fill white -font "$font" -pointsize 16 -gravity West -annotate +23+0 'Tolvi' PNG32:logo.png
convert -size 70x24 xc:black logo.png -composite -alpha off -type TrueColor BMP3:logo.bmp

# Close strip: a cross for light captions (dark lines) and one for dark captions (white lines).
cross() { convert -size 24x24 xc:"$magenta" +antialias -stroke "$1" -strokewidth 2 \
            -draw "line 7,7 16,16" -draw "line 16,7 7,16" "$2"; }
cross '#333333' close-0.png
cross white close-1.png
# 32 bits with the fourth byte zero: the image list then takes magenta as its mask colour.
convert close-0.png close-1.png +append -alpha set -channel A -evaluate set 0 +channel \
  -define bmp:format=bmp3 -define bmp3:alpha=true BMP3:close.bmp
rm -f close-0.png close-1.png

# Header icons, drawn smooth on the white client colour, outside made transparent.
header() { # $1 file, $2.. draw arguments
  local out=$1; shift
  convert -size 48x48 xc:white "$@" -fill "$magenta" -fuzz 0 \
    -draw "color 0,0 floodfill" -draw "color 47,0 floodfill" -draw "color 0,47 floodfill" \
    -draw "color 47,47 floodfill" "$out"
}
# 0 language: a globe.
header h0.png -fill "$brand" -stroke none -draw "circle 24,24 24,4" \
  -fill none -stroke white -strokewidth 2 -draw "ellipse 24,24 8,19 0,360" \
  -draw "line 5,24 43,24" -draw "line 9,14 39,14" -draw "line 9,34 39,34" -draw "line 24,5 24,43"
# 1 information.
header h1.png -fill "$brand" -stroke none -draw "circle 24,24 24,4" \
  -fill white -draw "circle 24,14 24,11" -draw "roundrectangle 21,20 27,37 2,2"
# 2 question.
header h2.png -fill "$brand" -stroke none -draw "circle 24,24 24,4" \
  -fill white -font "$font" -pointsize 28 -gravity center -annotate +0+1 '?'
# 3 warning: a triangle with an exclamation mark.
header h3.png -fill '#E8A317' -stroke '#E8A317' -strokewidth 4 -draw "polygon 24,6 44,41 4,41" \
  -fill white -stroke none -draw "roundrectangle 22,16 26,31 1,1" -draw "circle 24,36 24,34"
convert h0.png h1.png h2.png h3.png +append -alpha off -type TrueColor BMP3:header.bmp
rm -f h0.png h1.png h2.png h3.png
echo "images made in $(pwd)"
