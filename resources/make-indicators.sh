#!/bin/sh
# Draws the indicator images of both themes into qss/gray/ and qss/psblack/ (ImageMagick).
# Each image is drawn at four times its size and scaled down, which gives smooth edges.
# Run from anywhere: sh resources/make-indicators.sh
set -e
cd "$(dirname "$0")/qss"

# draw <file> <size> <draw commands...>: a transparent canvas of 4*size, scaled to size.
draw()
{
    out=$1
    size=$2
    shift 2
    big=$((size * 4))
    convert -size ${big}x${big} xc:none "$@" -resize ${size}x${size} -strip "PNG32:$out"
}

# theme <folder> <fill> <border> <accent> <mark> <disabled fill> <disabled border> <disabled mark> <arrow>
theme()
{
    dir=$1 fill=$2 border=$3 accent=$4 mark=$5 dfill=$6 dborder=$7 dmark=$8 arrow=$9
    mkdir -p "$dir"

    box="roundrectangle 3,3 52,52 9,9"
    tick="stroke-linecap round stroke-linejoin round polyline 14,29 24,39 42,18"
    bar="roundrectangle 14,24 42,32 3,3"

    draw "$dir/checkbox_unchecked.png" 14 -fill "$fill" -stroke "$border" -strokewidth 4 -draw "$box"
    draw "$dir/checkbox_unchecked_disable.png" 14 -fill "$dfill" -stroke "$dborder" -strokewidth 4 -draw "$box"
    draw "$dir/checkbox_checked.png" 14 -fill "$accent" -stroke "$accent" -strokewidth 4 -draw "$box" \
        -fill none -stroke "$mark" -strokewidth 7 -draw "$tick"
    draw "$dir/checkbox_checked_disable.png" 14 -fill "$dfill" -stroke "$dborder" -strokewidth 4 -draw "$box" \
        -fill none -stroke "$dmark" -strokewidth 7 -draw "$tick"
    draw "$dir/checkbox_parcial.png" 14 -fill "$accent" -stroke "$accent" -strokewidth 4 -draw "$box" \
        -fill "$mark" -stroke none -draw "$bar"
    draw "$dir/checkbox_parcial_disable.png" 14 -fill "$dfill" -stroke "$dborder" -strokewidth 4 -draw "$box" \
        -fill "$dmark" -stroke none -draw "$bar"

    ring="circle 28,28 28,3"
    dot="circle 28,28 28,16"
    draw "$dir/radiobutton_unchecked.png" 14 -fill "$fill" -stroke "$border" -strokewidth 4 -draw "$ring"
    draw "$dir/radiobutton_unchecked_disable.png" 14 -fill "$dfill" -stroke "$dborder" -strokewidth 4 -draw "$ring"
    draw "$dir/radiobutton_checked.png" 14 -fill "$fill" -stroke "$accent" -strokewidth 5 -draw "$ring" \
        -fill "$accent" -stroke none -draw "$dot"
    draw "$dir/radiobutton_checked_disable.png" 14 -fill "$dfill" -stroke "$dborder" -strokewidth 4 -draw "$ring" \
        -fill "$dmark" -stroke none -draw "$dot"

    # Arrows of spin boxes, combo boxes, scroll bars and menus.
    draw "$dir/add_top.png" 10 -fill "$arrow" -draw "polygon 20,9 35,29 5,29"
    draw "$dir/add_bottom.png" 10 -fill "$arrow" -draw "polygon 5,11 35,11 20,31"
    draw "$dir/add_left.png" 10 -fill "$arrow" -draw "polygon 9,20 29,5 29,35"
    draw "$dir/add_right.png" 10 -fill "$arrow" -draw "polygon 11,5 31,20 11,35"

    # Tree branches: an open branch points down, a closed one to the right.
    draw "$dir/branch_open.png" 10 -fill "$arrow" -draw "polygon 6,13 34,13 20,30"
    draw "$dir/branch_close.png" 10 -fill "$arrow" -draw "polygon 13,6 30,20 13,34"

    chevron="stroke-linecap round stroke-linejoin round polyline"
    draw "$dir/calendar_prevmonth.png" 16 -fill none -stroke "$arrow" -strokewidth 7 -draw "$chevron 39,12 20,32 39,52"
    draw "$dir/calendar_nextmonth.png" 16 -fill none -stroke "$arrow" -strokewidth 7 -draw "$chevron 25,12 44,32 25,52"
}

#     folder  fill     border   accent   mark     dis.fill dis.bord dis.mark arrow
theme gray    "#FFFFFF" "#8F8F8F" "#3C8CDC" "#FFFFFF" "#E6E6E6" "#A9A9A9" "#999999" "#505050"
theme psblack "#383838" "#7A7A7A" "#5B9BD5" "#FFFFFF" "#707070" "#808080" "#999999" "#DCDCDC"
