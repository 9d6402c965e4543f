#!/usr/bin/env bash
# Draws the program's icon files: the five tray pictures (the product mark, a white
# "Q" ring on a teal tile) at the tray's sizes from 100 % to 400 % (16 to 64 pixels),
# and the main icon "MAINICON" (the rebranded mark, a white ring round a dot on an
# orange tile, so that a rebranded tray can be told apart) at the same sizes and 256
# pixels for Explorer's large views. Every size is drawn at that size from the same
# outline, not scaled from another picture, so that small sizes stay sharp. 32-bit
# with alpha. The generated .ico files are kept in the repository; run this again
# after changing the drawing. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tray_sizes=(16 20 24 28 32 40 48 56 64)
main_sizes=("${tray_sizes[@]}" 256)

# Outlines on a 256-unit grid.
tile="fill '#0e7490' stroke none roundrectangle 8,8 247,247 52,52"
ring="fill none stroke white stroke-width 30 circle 122,118 122,52 line 150,146 206,202"
# The status dot sits at the lower right, with a white rim that keeps it apart
# from the tile at 16 pixels.
grey_dot="fill '#8c8c8c' stroke white stroke-width 14 circle 190,190 190,132"
blue_dot="fill '#1f6fe0' stroke white stroke-width 14 circle 190,190 190,132"
rebranded="fill '#c2410c' stroke none roundrectangle 8,8 247,247 52,52
           fill none stroke white stroke-width 28 circle 128,128 128,50
           fill white stroke none circle 128,128 128,100"

to_ico() { # target file, outline (empty: fully transparent), sizes...
    local target=$1 outline=$2 pngs=()
    shift 2
    for size in "$@"; do
        local png="$work/$target-$size.png"
        if [ -n "$outline" ]; then
            convert -size "${size}x${size}" xc:none \
                -draw "scale $(bc -l <<<"$size / 256"),$(bc -l <<<"$size / 256") $outline" "PNG32:$png"
        else
            # PNG32 keeps the alpha channel and the full colour depth even for the
            # fully transparent picture, so every entry is 32-bit.
            convert -size "${size}x${size}" xc:none "PNG32:$png"
        fi
        pngs+=("$png")
    done
    convert "${pngs[@]}" "$target"
}

to_ico uxlink.ico "$rebranded" "${main_sizes[@]}"
to_ico tray0.ico "$tile $ring" "${tray_sizes[@]}"
to_ico tray1.ico "$tile $ring $grey_dot" "${tray_sizes[@]}"
to_ico tray2.ico "$tile $ring" "${tray_sizes[@]}"
to_ico tray3.ico "$tile $ring $blue_dot" "${tray_sizes[@]}"
to_ico tray4.ico "" "${tray_sizes[@]}"
