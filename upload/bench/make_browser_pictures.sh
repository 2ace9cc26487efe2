#!/usr/bin/env bash
# The browser's pictures of a 1920 x 1080 page, as its PNG encoder would give them, for the
# benchmarks of the picture road: a page of text with a photograph (DIR/page.png), and the worst
# case, a photograph over the whole view (DIR/photo.png). ImageMagick's convert draws them.
#   make_browser_pictures.sh DIR
set -euo pipefail
dir="$1"
text=()
for i in $(seq 0 30); do
  text+=(-annotate "+80+$((160 + i * 28))" "Line $i of the article: the page as the browser shows it, with its text and pictures.")
done
convert -size 1920x1080 xc:white -fill '#1A237E' -draw "rectangle 0,0 1920,90" \
  \( -size 640x400 plasma:fractal -blur 0x1 \) -geometry +1200+160 -composite \
  -fill '#333333' -pointsize 20 "${text[@]}" -depth 8 "$dir/page.png"
convert -size 1920x1080 plasma:fractal -blur 0x2 -depth 8 "$dir/photo.png"
