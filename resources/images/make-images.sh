#!/bin/sh
# Draws the program's own images (mark, logo, brand, application icon) with ImageMagick and the
# embedded fonts. The outputs are committed; run this only to change the design.
set -eu
cd "$(dirname "$0")"
fonts=../fonts
electric='#347BFF'; icy='#8DB8FF'; white='#F4F7FF'; blueprint='#123A91'; night='#071638'

# The mark: a lattice cube seen corner-on, three faces of a 3 x 3 grid, with a bright wake-up dot.
convert -size 512x512 xc:none \
    -fill "$blueprint" -stroke "$electric" -strokewidth 10 \
    -draw "polygon 256,40 456,150 256,260 56,150" \
    -fill "$night" -draw "polygon 56,150 256,260 256,480 56,370" \
    -fill "#0E2A6E" -draw "polygon 456,150 456,370 256,480 256,260" \
    -stroke "$icy" -strokewidth 5 -fill none \
    -draw "line 122.7,113.3 322.7,223.3" -draw "line 189.3,76.7 389.3,186.7" \
    -draw "line 189.3,223.3 389.3,113.3" -draw "line 122.7,186.7 322.7,76.7" \
    -draw "line 56,223.3 256,333.3" -draw "line 56,296.7 256,406.7" \
    -draw "line 122.7,186.7 122.7,406.7" -draw "line 189.3,223.3 189.3,443.3" \
    -draw "line 456,223.3 256,333.3" -draw "line 456,296.7 256,406.7" \
    -draw "line 389.3,186.7 389.3,406.7" -draw "line 322.7,223.3 322.7,443.3" \
    -stroke none -fill "$white" -draw "circle 256,260 256,232" \
    -depth 8 mark.png
# The logo: the mark on a soft glow, for the header.
convert -size 512x512 xc:none -fill "$electric" -draw "circle 256,260 256,20" -blur 0x48 -channel A -evaluate multiply 0.45 +channel \
    mark.png -composite -resize 256x256 -depth 8 logo.png
# The brand: the name in the display face with a rule underneath.
convert -background none -fill "$white" -font "$fonts/BrunoAceSC-Regular.ttf" -pointsize 96 label:QUORVANTIS \
    -gravity south -splice 0x28 -fill "$electric" -draw "rectangle 0,%[fx:h-14] %[fx:w],%[fx:h-6]" brand.png 2>/dev/null ||
convert -background none -fill "$white" -font "$fonts/BrunoAceSC-Regular.ttf" -pointsize 96 label:QUORVANTIS \
    -gravity south -background none -splice 0x28 brand.png
# The application icon, every size Windows asks for.
convert mark.png -depth 8 -define icon:auto-resize=256,128,64,48,32,24,16 quorvantis.ico
