#!/bin/sh
# Draws the program's pictures into $2 from the ImageMagick draw scripts in $1.
# Sources are drawn at 4x and scaled down, so edges come out smooth; a picture
# with a "-16" source gets its own drawing for the 16-pixel size.
set -e
src=$1; out=$2
mkdir -p "$out"

# render SOURCE UNITS PIXELS OUT: SOURCE is drawn in a UNITS x UNITS space.
render() {
  big=$(( $3 * 4 )); scale=$(( big / $2 ))
  # The draw script is passed as text: Debian's ImageMagick policy refuses "@file".
  convert -size ${big}x${big} xc:none -affine $scale,0,0,$scale,0,0 -draw "$(sed '/^#/d' "$1")" \
    -filter Box -resize ${3}x${3} PNG32:"$4"
}

icon() {
  name=$1
  render "$src/$name.mvg" 32 32 "$out/$name-32.png"
  if [ -f "$src/$name-16.mvg" ]; then
    render "$src/$name-16.mvg" 16 16 "$out/$name-16.png"
  else
    render "$src/$name.mvg" 32 16 "$out/$name-16.png"
  fi
  convert "$out/$name-16.png" "$out/$name-32.png" "$out/$name.ico"
}

# A strip of pictures on the colour the image lists treat as transparent.
strip() {
  result=$1; shift
  convert "$@" +append -channel A -threshold 50% +channel \
    -background '#ff00ff' -alpha remove -alpha off BMP3:"$out/$result"
}

for name in tray main item mess; do icon $name; done

cells=
for i in 1 2 3 4 5; do render "$src/toolbar-$i.mvg" 32 32 "$out/toolbar-$i.png"; cells="$cells $out/toolbar-$i.png"; done
strip toolbar.bmp $cells
cells=
for i in 1 2 3; do render "$src/small-$i.mvg" 16 16 "$out/small-$i.png"; cells="$cells $out/small-$i.png"; done
strip smalltoolbar.bmp $cells
