#!/bin/sh
# Draws the program's pictures into $2 from the ImageMagick draw scripts in $1.
# Sources are drawn at 4x and scaled down, so edges come out smooth; a picture
# with a "-16" source gets its own drawing for the small sizes.
set -e
src=$1; out=$2
mkdir -p "$out"

# render SOURCE UNITS PIXELS OUT: SOURCE is drawn in a UNITS x UNITS space.
render() {
  big=$(( $3 * 4 ))
  # 20 pixels from a 32-unit drawing is a scale of 2.5: keep the fraction.
  scale=$(awk -v b="$big" -v u="$2" 'BEGIN { print b / u }')
  # The draw script is passed as text: Debian's ImageMagick policy refuses "@file".
  convert -size ${big}x${big} xc:none -affine $scale,0,0,$scale,0,0 -draw "$(sed '/^#/d' "$1")" \
    -filter Box -resize ${3}x${3} PNG32:"$4"
}

# Every size Windows asks an icon for, from 100 % to 200 % and the 256-pixel
# view; the 256 one goes into the .ico compressed as PNG.
icon() {
  name=$1; files=
  for size in 16 20 24 32 40 48 64 256; do
    if [ $size -le 20 ] && [ -f "$src/$name-16.mvg" ]; then
      render "$src/$name-16.mvg" 16 $size "$out/$name-$size.png"
    else
      render "$src/$name.mvg" 32 $size "$out/$name-$size.png"
    fi
    files="$files $out/$name-$size.png"
  done
  convert $files "$out/$name.ico"
}

# A strip of pictures with their alpha channel, straight (not premultiplied),
# as a 32-bit BMP whose version 5 header describes the alpha (BI_BITFIELDS
# with an alpha mask). Fully clear pixels carry the colour of a button's face,
# so that an image list which ignores the alpha still shows a plain ground.
strip() {
  result=$1; shift
  convert -background none "$@" +append -alpha on -background '#f0f0f0' -alpha background BMP:"$out/$result"
}

# toolbar NAME SOURCE COUNT UNITS SUFFIX PIXELS: NAME$SUFFIX.bmp holds COUNT
# cells of PIXELS drawn from SOURCE-1.mvg ... SOURCE-COUNT.mvg.
toolbar() {
  cells=
  for i in $(seq "$3"); do
    render "$src/$2-$i.mvg" $4 $6 "$out/$2-$i-$6.png"
    cells="$cells $out/$2-$i-$6.png"
  done
  strip "$1$5.bmp" $cells
}

for name in tray main item mess; do icon $name; done

# 100, 125, 150 and 200 %.
toolbar toolbar toolbar 5 32 "" 32
toolbar toolbar toolbar 5 32 -125 40
toolbar toolbar toolbar 5 32 -150 48
toolbar toolbar toolbar 5 32 -200 64
toolbar smalltoolbar small 3 16 "" 16
toolbar smalltoolbar small 3 16 -125 20
toolbar smalltoolbar small 3 16 -150 24
toolbar smalltoolbar small 3 16 -200 32
