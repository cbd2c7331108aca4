#!/bin/sh
# Draws the program's artwork reproducibly (same inputs, same bytes) with ImageMagick:
#   background.png  750 x 477, 8-bit RGB without alpha (resource 129): where to drop the image,
#                   and the two link areas filled exactly where the hot-spot polygons lie (the
#                   polygons of ui/hot_spot.cpp, rasterised here with the same integer test, so a
#                   pixel has a link colour exactly when a click on it opens that link);
#   tessaly.ico     16, 24, 32, 48 and 256 pixels (resource 128).
# Usage: make-art.sh OUTPUT_DIR FONT_FILE
set -eu
out=$1
font=$2
convert=${CONVERT:-convert}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

width=750
height=477
# Keep in step with kHotSpots (ui/hot_spot.cpp); the window tests compare the two.
slot1="289,147 336,152 355,139 371,143 377,158 434,171 434,188 289,163"
slot2="285,169 433,193 433,204 284,181"
slot1_colour='#E76F51'
slot2_colour='#2A9D8F'

# A grey map (PGM) of the pixels inside a polygon: the quadrant-counting test of the window
# (vertices and edges count as inside).
polygon_mask() {
    awk -v w="$width" -v h="$height" -v poly="$1" '
    function quadrant(dx, dy) { if (dy >= 0) return dx >= 0 ? 0 : 1; return dx < 0 ? 2 : 3 }
    function inside(x, y,    k, px, py, cx, cy, cross, q, prev, turns) {
        prev = quadrant(vx[0] - x, vy[0] - y); turns = 0
        for (k = 1; k <= n; k++) {
            px = vx[k - 1] - x; py = vy[k - 1] - y
            cx = vx[k % n] - x; cy = vy[k % n] - y
            if (cx == 0 && cy == 0) return 1
            cross = px * cy - cx * py
            if (cross == 0 && px * cx <= 0 && py * cy <= 0) return 1
            q = quadrant(cx, cy)
            if (q == (prev + 1) % 4) turns++
            else if (q == (prev + 3) % 4) turns--
            else if (q == (prev + 2) % 4) turns += cross > 0 ? 2 : -2
            prev = q
        }
        return turns != 0
    }
    BEGIN {
        n = split(poly, pairs, " ")
        for (i = 1; i <= n; i++) { split(pairs[i], xy, ","); vx[i - 1] = xy[1]; vy[i - 1] = xy[2] }
        print "P2"; print w, h; print 255
        for (y = 0; y < h; y++) {
            line = ""
            for (x = 0; x < w; x++) line = line (inside(x, y) ? " 255" : " 0")
            print line
        }
    }'
}

polygon_mask "$slot1" >"$tmp/slot1.pgm"
polygon_mask "$slot2" >"$tmp/slot2.pgm"

# No metadata: no dates (same inputs, same bytes) and no gamma or colour chunks, which a decoder
# could apply to the colours.
common="-strip -define png:exclude-chunks=date,time,gAMA,cHRM,bKGD"

# The scene: a deep blue ground, a dashed frame around the whole picture (the drop target is the
# whole window), the title, a disc with an arrow and the instruction.
"$convert" -size "${width}x${height}" gradient:'#10263F'-'#1E4C78' \
    -fill none -stroke '#8FB8DE' -strokewidth 2 -draw "stroke-dasharray 14 8 roundrectangle 12,12 737,464 18,18" \
    -stroke none \
    -font "$font" -fill '#FFFFFF' -pointsize 30 -annotate +40+70 '《Quillmoor 2》DISC1' \
    -fill '#F4D35E' -pointsize 30 -annotate +350+70 '汉化补丁' \
    -fill '#8FB8DE' -pointsize 15 -annotate +42+100 'Tessaly 汉化补丁程序' \
    -fill '#DCE9F5' -draw 'circle 150,300 150,212' \
    -fill '#A9C6E2' -draw 'circle 150,300 150,250' \
    -fill '#1A4066' -draw 'circle 150,300 150,282' \
    -fill none -stroke '#FFFFFF' -strokewidth 3 -draw 'arc 70,220 230,380 200,250' \
    -stroke none -fill '#F4D35E' -draw 'polygon 150,205 185,170 165,170 165,140 135,140 135,170 115,170' \
    -fill '#FFFFFF' -pointsize 24 -annotate +270+300 '把原版 ISO 镜像拖放到这张图片上' \
    -fill '#8FB8DE' -pointsize 16 -annotate +272+332 '程序会检查镜像，然后询问新镜像的保存位置' \
    -fill '#FFFFFF' -pointsize 14 -annotate +446+186 '综合讨论区 ›' \
    -fill '#FFFFFF' -pointsize 14 -annotate +446+206 '本作讨论区 ›' \
    -fill '#8FB8DE' -pointsize 13 -annotate +292+132 '点击进入：' \
    -alpha off "$tmp/scene.png"

# The link areas: a soft shadow outside them, then the fills through the exact masks.
"$convert" "$tmp/scene.png" \
    \( -size "${width}x${height}" xc:'#0B1C2E' \) \( "$tmp/slot1.pgm" -roll +2+2 \) -composite \
    \( -size "${width}x${height}" xc:'#0B1C2E' \) \( "$tmp/slot2.pgm" -roll +2+2 \) -composite \
    \( -size "${width}x${height}" xc:"$slot1_colour" \) "$tmp/slot1.pgm" -composite \
    \( -size "${width}x${height}" xc:"$slot2_colour" \) "$tmp/slot2.pgm" -composite \
    -alpha off -depth 8 -type TrueColor $common "PNG24:$out/background.png"

# The icon: a disc with the character for "Chinese" on a rounded tile, drawn at 256 pixels and
# scaled down for the smaller images.
"$convert" -size 256x256 xc:none \
    -fill '#1E4C78' -draw 'roundrectangle 8,8 247,247 40,40' \
    -fill '#DCE9F5' -draw 'circle 128,128 128,26' \
    -fill '#A9C6E2' -draw 'circle 128,128 128,70' \
    -fill '#1E4C78' -draw 'circle 128,128 128,112' \
    -fill '#E76F51' -draw 'roundrectangle 140,140 240,240 18,18' \
    -font "$font" -fill '#FFFFFF' -pointsize 78 -gravity center -annotate +62+62 '汉' \
    $common "$tmp/icon-256.png"
"$convert" "$tmp/icon-256.png" -depth 8 -define icon:auto-resize=256,48,32,24,16 $common "$out/tessaly.ico"
