#!/usr/bin/env bash
# Draws the two bitmaps the application ships (resources/images): the app mark, a white
# stylised "P" with a check-in dot on a terracotta tile, and the soft window background.
# Run again only when the artwork changes; the PNGs are committed.
set -euo pipefail
out="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/resources/images"
mkdir -p "$out"

# PelkIcon: 512 px, terracotta tile with a slight vertical gradient and a white mark.
convert -size 512x512 gradient:'#e0574f'-'#b8442f' \
  \( -size 512x512 xc:black -fill white -draw "roundrectangle 0,0 511,511 112,112" \) \
  -alpha off -compose CopyOpacity -composite -compose Over \
  -fill none -stroke white -strokewidth 52 -draw "line 176,142 176,392" \
  -draw "roundrectangle 176,142 350,310 84,84" \
  -stroke none -fill white -draw "circle 356,384 356,354" \
  -define png:exclude-chunks=date,time "$out/PelkIcon.png"

# LoginBackground: a warm diagonal gradient with two large blurred glows.
convert -size 1440x960 gradient:"#c9563f"-"#8f3328" \
  \( -size 1440x960 xc:none -fill 'rgba(255,196,160,0.55)' -draw "circle 300,180 300,620" \
     -fill 'rgba(120,30,40,0.55)' -draw "circle 1180,820 1180,1240" \
     -fill 'rgba(255,170,120,0.30)' -draw "circle 1120,160 1120,420" -blur 0x120 \) \
  -compose Over -composite \
  -depth 8 \
  -define png:exclude-chunks=date,time -strip "$out/LoginBackground.png"

# The application icon in the hicolor theme, at the sizes desktops ask for (menus, panels,
# notification area, dialogs), scaled down from PelkIcon.
for size in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "$out/../hicolor/${size}x${size}/apps"
  convert "$out/PelkIcon.png" -filter Lanczos -resize "${size}x${size}" -depth 8 \
    -define png:exclude-chunks=date,time -strip "$out/../hicolor/${size}x${size}/apps/pelk-agent.png"
done
