#!/bin/sh
# Draws the program's pictures into $2 from the sources in $1.
# (placeholder drawing; the real artwork replaces it)
set -e
src=$1; out=$2
mkdir -p "$out"
for name in tray main item mess; do
  convert -size 32x32 xc:none -fill '#1f4e79' -draw 'roundrectangle 3,3 28,28 5,5' \
    -define icon:auto-resize=32,16 "$out/$name.ico"
done
convert -size 160x32 xc:'#c0c0c0' BMP3:"$out/toolbar.bmp"
convert -size 48x16 xc:'#c0c0c0' BMP3:"$out/smalltoolbar.bmp"
