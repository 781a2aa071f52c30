#!/bin/sh
# Draws Keywarden's icons and pictures into the given folder with ImageMagick primitives:
# key.ico (tree image of a key, tray icon), cert.ico (tree image of a certificate), app.ico
# (the program), logo.png (130 x 67) and keyboard.png (21 x 16), the last two also for 150 % and
# 200 % display scaling (logo-150.png, logo-200.png, keyboard-150.png, keyboard-200.png). The
# icons carry every size from 16 to 96 pixels, so that each scale finds its own.
set -e
out=$1
mkdir -p "$out"

# A gold key lying on its side: a ring with a hole, a shaft and two teeth.
key() {
    convert -size 256x256 xc:none \
        -fill '#c98a12' -stroke '#7a4f00' -strokewidth 8 -draw 'circle 76,128 76,58' \
        -draw 'roundrectangle 120,112 236,144 10,10' \
        -draw 'rectangle 190,140 208,184' -draw 'rectangle 214,140 232,172' \
        -stroke none -fill '#e9b949' -draw 'circle 76,128 76,70' \
        -fill none -stroke '#7a4f00' -strokewidth 8 -draw 'circle 66,128 66,104' \
        "$1"
}
# A certificate: a sheet with lines and a red seal with two ribbons.
cert() {
    convert -size 256x256 xc:none \
        -fill white -stroke '#3b5b86' -strokewidth 8 -draw 'roundrectangle 24,32 232,200 12,12' \
        -stroke '#7f95b4' -strokewidth 10 -draw 'line 56,76 200,76' -draw 'line 56,112 170,112' \
        -draw 'line 56,148 120,148' \
        -stroke none -fill '#b3261e' -draw 'polygon 160,176 146,244 172,226 186,240 184,178' \
        -draw 'polygon 196,178 198,240 212,226 236,242 220,176' \
        -fill '#d9423a' -stroke '#8c1a14' -strokewidth 6 -draw 'circle 190,164 190,124' \
        "$1"
}
# The program: a blue shield carrying the key.
app() {
    key "$out/key-large.png"
    convert -size 256x256 xc:none \
        -fill '#1f5fa8' -stroke '#0e3566' -strokewidth 8 \
        -draw 'path "M 128,12 L 232,48 L 224,148 Q 208,216 128,248 Q 48,216 32,148 L 24,48 Z"' \
        \( "$out/key-large.png" -resize 150x150 \) -geometry +53+60 -composite "$1"
}

key "$out/key.png"
cert "$out/cert.png"
app "$out/app.png"
for n in key cert app; do
    convert "$out/$n.png" -define icon:auto-resize=96,72,64,48,40,36,32,24,20,16 "$out/$n.ico"
done

# The logo beside the buttons: the shield and the maker's name. logo SCALE SIZE OUT draws it
# SCALE times the design's 130 x 67 (whole-number scales are drawn, 150 % is made smaller from a
# drawing at four times the size, so that no picture is stretched up).
logo() {
    s=$1
    convert -size "$2" xc:none \
        -fill '#eef3fa' -stroke '#9fb3cf' -strokewidth "$s" \
        -draw "affine $s,0,0,$s,0,0 roundrectangle 0,0 129,66 8,8" \
        \( "$out/app.png" -resize "$((52 * s))x$((52 * s))" \) -geometry "+$((6 * s))+$((7 * s))" -composite \
        -stroke none -draw "affine $s,0,0,$s,0,0 fill #1f5fa8 rectangle 64,22 122,26
            fill #0e3566 rectangle 64,32 122,44 fill #c98a12 rectangle 64,50 104,54
            fill #ffffff rectangle 70,35 76,41 rectangle 82,35 88,41
            rectangle 94,35 100,41 rectangle 106,35 112,41" \
        PNG32:"$3"
}
logo 1 130x67 "$out/logo.png"
logo 2 260x134 "$out/logo-200.png"
logo 4 520x268 "$out/logo-400.png"
convert "$out/logo-400.png" -filter Lanczos -resize '195x101!' PNG32:"$out/logo-150.png"

# A small keyboard: a grey board with three rows of keys, drawn the same way (21 x 16).
keyboard() {
    s=$1
    convert -size "$2" xc:none \
        -draw "affine $s,0,0,$s,0,0 fill #5a6270 roundrectangle 0,2 20,14 2,2 fill #e8ecf2
            rectangle 2,4 4,6 rectangle 6,4 8,6 rectangle 10,4 12,6 rectangle 14,4 16,6
            rectangle 3,8 5,10 rectangle 7,8 9,10 rectangle 11,8 13,10 rectangle 15,8 17,10
            rectangle 5,12 15,12" \
        PNG32:"$3"
}
keyboard 1 21x16 "$out/keyboard.png"
keyboard 2 42x32 "$out/keyboard-200.png"
keyboard 4 84x64 "$out/keyboard-400.png"
convert "$out/keyboard-400.png" -filter Lanczos -resize '32x24!' PNG32:"$out/keyboard-150.png"
