#!/bin/sh
# Draws the Quenvor mark (a filter wheel seen face-on: five coloured filter windows around a hub)
# and the three program icons made from it (ImageMagick). Run from anywhere: sh resources/make-logos.sh
set -e
cd "$(dirname "$0")/icons"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The mark on a 400 x 400 canvas; filter windows at 105 px from the centre, 72 degrees apart,
# each a coloured glass with a dark rim and a small glint.
rim="-stroke #0B1424 -strokewidth 7"
glint="-fill #FFFFFF66 -stroke none"
convert -size 400x400 xc:none \
    -fill "#17273F" -stroke none -draw "circle 200,200 200,8" \
    -fill none -stroke "#3B6AA0" -strokewidth 8 -draw "circle 200,200 200,24" \
    -fill "#E0403A" $rim -draw "circle 200,95 200,48" $glint -draw "ellipse 184,77 14,8 0,360" \
    -fill "#3FB060" $rim -draw "circle 300,168 300,121" $glint -draw "ellipse 284,150 14,8 0,360" \
    -fill "#2F86E0" $rim -draw "circle 262,285 262,238" $glint -draw "ellipse 246,267 14,8 0,360" \
    -fill "#C9D3DF" $rim -draw "circle 138,285 138,238" $glint -draw "ellipse 122,267 14,8 0,360" \
    -fill "#8E3FC8" $rim -draw "circle 100,168 100,121" $glint -draw "ellipse 84,150 14,8 0,360" \
    -fill "#C9D3DF" -stroke "#0B1424" -strokewidth 6 -draw "circle 200,200 200,170" \
    -fill "#17273F" -stroke none -draw "circle 200,200 200,186" \
    "$tmp/mark.png"

# Header logo, 32 x 32: the mark alone.
convert "$tmp/mark.png" -resize 32x32 -strip PNG32:QVRlogo_NoText_32.png

# About logo, 100 x 100: the mark over the maker's name.
convert -size 400x400 xc:none \
    \( "$tmp/mark.png" -resize 292x292 \) -geometry +54+0 -composite \
    -font DejaVu-Sans-Bold -pointsize 60 -fill "#3B7CC4" -gravity south -annotate +0+4 "QUENVOR" \
    -resize 100x100 -strip PNG32:QVRlogo.png

# Window icon, 64 x 64: the mark with a green download badge for "firmware update".
convert -size 256x256 xc:none \
    \( "$tmp/mark.png" -resize 236x236 \) -geometry +0+0 -composite \
    -fill "#1E9E4A" -stroke "#FFFFFF" -strokewidth 8 -draw "circle 190,190 190,130" \
    -fill "#FFFFFF" -stroke none -draw "polygon 178,150 202,150 202,186 222,186 190,222 158,186 178,186" \
    -resize 64x64 -strip PNG32:fwupdaterlogo.png
