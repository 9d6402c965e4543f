#!/usr/bin/env bash
# Draws the product mark (a white "Q" ring on a teal tile) and makes the program's
# icon files from it: the main icon and the five tray pictures, each at 48, 32, 24,
# 20 and 16 pixels, 32-bit with alpha. The generated .ico files are kept in the
# repository; run this again after changing the drawing. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=(48 32 24 20 16)

# The mark is drawn once large and scaled down, so every size has the same shape.
tile=(-fill '#0e7490' -stroke none -draw 'roundrectangle 8,8 247,247 52,52')
ring=(-fill none -stroke white -strokewidth 30 -draw 'circle 122,118 122,52'
      -draw 'line 150,146 206,202')
# The status dot sits at the lower right, with a white rim that keeps it apart
# from the tile at 16 pixels.
grey_dot=(-fill '#8c8c8c' -stroke white -strokewidth 14 -draw 'circle 190,190 190,132')
blue_dot=(-fill '#1f6fe0' -stroke white -strokewidth 14 -draw 'circle 190,190 190,132')

draw() { # name, extra drawing arguments...
    local name=$1
    shift
    convert -size 256x256 xc:none "$@" "$work/$name-256.png"
}

draw mark "${tile[@]}" "${ring[@]}"
draw mark-grey "${tile[@]}" "${ring[@]}" "${grey_dot[@]}"
draw mark-blue "${tile[@]}" "${ring[@]}" "${blue_dot[@]}"
draw empty

to_ico() { # name, target file
    local name=$1 target=$2 pngs=()
    for size in "${sizes[@]}"; do
        # PNG32 keeps the alpha channel and the full colour depth even for the
        # fully transparent picture, so every entry is 32-bit.
        convert "$work/$name-256.png" -filter Lanczos -resize "${size}x${size}" "PNG32:$work/$name-$size.png"
        pngs+=("$work/$name-$size.png")
    done
    convert "${pngs[@]}" "$target"
}

to_ico mark uxlink.ico
to_ico mark tray0.ico
to_ico mark-grey tray1.ico
to_ico mark tray2.ico
to_ico mark-blue tray3.ico
to_ico empty tray4.ico
