#!/usr/bin/env bash
# Draws the picture set of the sample package with ImageMagick. The results are committed
# beside this script; run it again only to change them.
#   background.jpg  backdrop of the progress window (800 x 600, the 12000 x 9000-twip design
#                   size); no text, the window writes its own lines over it
#   Wizard.jpg      title strip of the wizard pages
#   button.bmp      face of the wizard's picture buttons
#   logo.dat        product logo (a BMP under the name the package expects)
set -euo pipefail
cd "${1:-$(dirname "$0")}"
font=DejaVu-Sans-Bold
convert -size 800x600 gradient:'#12335c'-'#3d7fb8' \
    -fill '#ffffff20' -draw 'circle 640,470 640,200' -draw 'circle 120,560 120,430' \
    -strip -quality 85 background.jpg
convert -size 600x70 gradient:'#ffffff'-'#d8e6f3' \
    -fill '#3d7fb8' -draw 'rectangle 0,66 600,70' \
    -fill '#3d7fb8' -draw 'polygon 540,10 590,35 540,60' \
    -strip -quality 90 Wizard.jpg
convert -size 100x28 gradient:'#f4f7fb'-'#c9d8e8' -fill none -stroke '#5a7fa6' \
    -draw 'rectangle 0,0 99,27' -strip BMP3:button.bmp
convert -size 120x60 xc:'#12335c' -fill '#ffb020' -draw 'circle 30,30 30,10' \
    -fill white -font "$font" -pointsize 18 -annotate +56+37 'MV' -strip BMP3:logo.dat
