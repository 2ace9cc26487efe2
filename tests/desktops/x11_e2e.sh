#!/usr/bin/env bash
# The toolbar's road on X11 (Xvfb and openbox) with the browser's picture: Chromium with the Torvo
# extension shows a page of four colour blocks, and another window covers part of it. The press
# (the button's handler, through the debugging protocol) must give a thumbnail of the page, the
# covered part included, not of the covering window. Then, on a page where the browser refuses to
# capture (its own web store), the press must still work, with TorvoTool's capture of the
# browser's client area.
#
#   tests/desktops/x11_e2e.sh BUILD_DIR        (screenshots and logs in BUILD_DIR/x11-chromium)
set -euo pipefail
command -v Xvfb >/dev/null && command -v openbox >/dev/null && command -v xmessage >/dev/null ||
  { echo "x11: Xvfb, openbox and xmessage are needed (scripts/setup.sh installs them)" >&2; exit 1; }
build="$(cd "$1" && pwd)"
out="$build/x11-chromium"
source "$(dirname "$0")/session.sh"

start_xvfb 1280 900

openbox >"$out/openbox.log" 2>&1 &
pids+=($!)
wait_for 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start"
start_service
start_page
# The browser's web store, a page no extension may capture, is our loopback page here: the
# browser resolves the store's host name to it.
web_port="${page#http://127.0.0.1:}"
web_port="${web_port%%/*}"
store="http://chromewebstore.google.com/"

step "Chromium on X11, a window over the page"
start_chromium --ozone-platform=x11 --disable-gpu --window-size=1000,700 --window-position=0,0 \
  --disable-features=Translate,TranslateUI --host-resolver-rules="MAP chromewebstore.google.com 127.0.0.1:$web_port"
drive open "$page"
view_w="$(answered innerWidth)" view_h="$(answered innerHeight)"
browser="$(xdotool search --onlyvisible --name "$page_title" | head -1)"
[ -n "$browser" ] || fail "no Chromium window"
xmessage -bg '#FF00FF' -fg '#FF00FF' -geometry 420x300+60+130 -buttons "" "cover" &
cover=$!
pids+=("$cover")
wait_for 10 sh -c "xdotool search --onlyvisible --name xmessage | grep -q ." || fail "the covering window did not show"
sleep 0.5
screenshot 1-covered
[ "$(pixel "$out/1-covered.png" 250 260)" = FF00FF ] || bad "the covering window is not over the page's first block"

drive press
wait_for 30 tool_started || fail "TorvoTool did not start"
tool_pid="$(tool_pids | head -1)"
wait_for 30 tool_window "$tool_pid" || fail "TorvoTool's window did not show"
window="$(tool_window "$tool_pid")"
sleep 1
screenshot 2-torvotool
# The picture is the page's view; the first block's quarter, under the covering window on the
# screen, shows the block.
check_thumbnail "$HOME/Torvo/img.png" "$view_w" "$view_h"
check_in_front "$out/2-torvotool.png"
save_and_check "$window" "$tool_pid"
kill "$cover"

step "the web store: the browser refuses to capture"
rm -rf "$out/service" "$HOME/Torvo"
drive open "${store}blocks.html"
xdotool windowactivate --sync "$browser"
sleep 0.5
drive press
wait_for 30 tool_started || fail "TorvoTool did not start on the store's page"
tool_pid="$(tool_pids | head -1)"
wait_for 30 tool_window "$tool_pid" || fail "TorvoTool's window did not show"
sleep 1
screenshot 3-store-page
# TorvoTool's own capture: Chromium's client area, tabs and address bar included.
eval "$(xdotool getwindowgeometry --shell "$browser")"
read -r tw th <<<"$(identify -format '%w %h' "$HOME/Torvo/img.png")"
want="$(python3 -c 'import sys; w, h = map(int, sys.argv[1:]); print(*((200, h * 200 // w) if w > h else (w * 160 // h, 160)))' "$WIDTH" "$HEIGHT")"
[ "$tw $th" = "$want" ] || bad "the thumbnail is ${tw}x${th}, not the ${want/ /x} of Chromium's ${WIDTH}x${HEIGHT} client area"
near "$(pixel "$HOME/Torvo/img.png" $((tw * 3 / 4)) $((th * 3 / 4)))" FDD835 || bad "the screen capture does not show the page"
step "thumbnail ${tw}x${th} of Chromium's ${WIDTH}x${HEIGHT} client area"
kill "$tool_pid"

[ "$failures" -eq 0 ] || { echo "x11: $failures checks failed" >&2; exit 1; }
step "passed"
