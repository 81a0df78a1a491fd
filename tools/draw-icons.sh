#!/usr/bin/env bash
# Draws the client's icons and bitmaps (a paper note, pale yellow with a
# folded corner and ruled lines) with ImageMagick into src/app/win32/res.
# The files are kept in the repository; run this again after changing it.
set -euo pipefail
out=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/src/app/win32/res
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# note SIZE FILE [BADGE-COLOUR]: the note, with a round badge at the lower
# right when a colour is given.
note() {
    local s=$1 file=$2 badge=${3:-}
    local m=$((s / 16)) f=$((s * 5 / 16))
    local r=$((s - m - 1)) b=$((s - m - 1))
    local draw=(-fill '#FFF3A0' -stroke '#8A7A2A' -strokewidth 1
        -draw "polygon $m,$m $((r - f)),$m $r,$((m + f)) $r,$b $m,$b"
        -fill '#E8D670' -draw "polygon $((r - f)),$m $((r - f)),$((m + f)) $r,$((m + f))"
        -stroke '#B8A860')
    for ((y = m + f + s / 8; y < b - s / 8; y += s / 6)); do
        draw+=(-draw "line $((m + s / 8)),$y $((r - s / 8)),$y")
    done
    if [[ -n $badge ]]; then
        local c=$((s * 11 / 16)) d=$((s * 5 / 16))
        draw+=(-stroke '#303030' -fill "$badge" -draw "circle $c,$c $((c + d / 2)),$c")
    fi
    convert -size "${s}x${s}" xc:none "${draw[@]}" "PNG32:$file"
}

icon() {  # NAME [BADGE-COLOUR]
    note 16 "$work/16.png" "${2:-}"
    note 32 "$work/32.png" "${2:-}"
    note 48 "$work/48.png" "${2:-}"
    convert "$work/16.png" "$work/32.png" "$work/48.png" "$out/$1.ico"
}
icon program
icon connected '#2EB82E'
icon disconnected '#9A9A9A'
icon away '#F0A020'
icon new-notes '#E03030'

# The note window's small icons, 16 x 16 on a transparent ground: its close
# box (normal and pressed, for many colours and for 8 bits), the header
# toggle (an arrow up hides the header strip, down shows it; pressed a
# shade darker) and the attachment that cannot be had (a page with a "?").
small() {  # NAME DRAW...
    local name=$1
    shift
    convert -size 16x16 xc:none "$@" "PNG32:$work/small.png"
    convert "$work/small.png" "$out/$name.ico"
}
close_box() {  # NAME FILL LINE OFFSET
    local o=$4
    small "$1" -fill "$2" -stroke '#303030' -draw "rectangle 1,1 13,13" -stroke "$3" -strokewidth 2 \
        -draw "line $((4 + o)),$((4 + o)) $((10 + o)),$((10 + o))" -draw "line $((10 + o)),$((4 + o)) $((4 + o)),$((10 + o))"
}
close_box close '#E8E8F0' '#203060' 0
close_box close-pressed '#A8A8B8' '#101830' 1
close_box close-8 '#C0C0C0' '#000000' 0
close_box close-8-pressed '#808080' '#000000' 1
toggle() {  # NAME FILL POLYGON
    small "$1" -fill "$2" -stroke '#202850' -draw "polygon $3"
}
toggle header-up '#F0F0F8' "2,9 8,2 14,9"
toggle header-up-pressed '#9098B8' "2,9 8,2 14,9"
toggle header-down '#F0F0F8' "2,2 14,2 8,9"
toggle header-down-pressed '#9098B8' "2,2 14,2 8,9"
small missing-file -fill white -stroke '#606060' -draw "polygon 3,1 10,1 13,4 13,14 3,14" \
    -fill '#C03030' -stroke none -font DejaVu-Sans-Bold -pointsize 10 -annotate +5+12 '?'

# Menu bitmaps, 13 x 13 on the menu's grey: connect (a green arrow into a
# bar), disconnect (a red cross), exit (a door).
menu() {  # FILE DRAW...
    local file=$1
    shift
    convert -size 13x13 xc:'#C0C0C0' "$@" -type truecolor "BMP3:$out/$file.bmp"
}
menu connect -stroke '#1E8C1E' -strokewidth 2 -draw "line 1,6 9,6" -draw "line 6,3 9,6" -draw "line 6,9 9,6" \
    -stroke '#404040' -strokewidth 1 -draw "line 11,1 11,11"
menu disconnect -stroke '#C02020' -strokewidth 2 -draw "line 2,2 10,10" -draw "line 10,2 2,10"
menu exit -fill '#8A5A2A' -stroke '#404040' -strokewidth 1 -draw "rectangle 3,1 9,11" -fill '#F0D020' \
    -stroke none -draw "point 7,6"

# The logo box's picture, 384 x 255: a note on a blue desk with the name.
note 160 "$work/logo-note.png"
convert -size 384x255 gradient:'#5A78C8'-'#2A3E78' "$work/logo-note.png" -geometry +20+48 -composite \
    -fill white -font DejaVu-Sans-Bold -pointsize 27 -annotate +194+122 'Vellumpost' \
    -font DejaVu-Sans -pointsize 15 -annotate +198+150 'notes that stick' \
    -type truecolor "BMP3:$out/logo.bmp"
convert "$out/logo.bmp" -colors 16 -type palette "BMP3:$out/logo16.bmp"
