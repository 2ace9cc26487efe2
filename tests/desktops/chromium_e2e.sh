#!/usr/bin/env bash
# The toolbar's road on a Wayland desktop: weston (headless, with XWayland) shows Chromium running
# natively on Wayland with the Torvo extension, on a page of four colour blocks. The extension's
# button handler (started through the browser's debugging protocol) sends the page's picture;
# TorvoTool must make its thumbnail from it (the blocks at their places), show its window in front
# of the browser (the compositor's screenshot), and store the page in torvo-service on "저장".
#
#   tests/desktops/chromium_e2e.sh BUILD_DIR [--scale 2]
#
# --scale 2 shows the page at a device pixel ratio of 2: the picture has twice the pixels, the
# thumbnail the same size rule. Screenshots and logs go to BUILD_DIR/wayland-chromium[-scale2].
set -euo pipefail
build="$(cd "$1" && pwd)"
scale="${3:-1}"
[ "${2:-}" = "--scale" ] || scale=1
out="$build/wayland-chromium$([ "$scale" = 1 ] || echo "-scale$scale")"
source "$(dirname "$0")/session.sh"
command -v chromium >/dev/null && command -v node >/dev/null || { echo "wayland: chromium and node are needed" >&2; exit 1; }

start_weston 1280 900
start_bus
start_service
start_page
step "Chromium on Wayland at scale $scale"
start_chromium --ozone-platform=wayland --disable-gpu --force-device-scale-factor="$scale" \
  --window-size=1200,820 --window-position=0,0 --disable-features=Translate,TranslateUI
drive open "$page"
view_w="$(answered innerWidth)" view_h="$(answered innerHeight)" ratio="$(answered devicePixelRatio)"
step "page view ${view_w}x${view_h} CSS pixels at a device pixel ratio of $ratio; the button pressed"
drive press

wait_for 30 tool_started || fail "TorvoTool did not start"
tool_pid="$(tool_pids | head -1)"
wait_for 30 tool_window "$tool_pid" || fail "TorvoTool's window did not show"
window="$(tool_window "$tool_pid")"
sleep 1.5
screenshot 1-torvotool-in-front || fail "weston-screenshooter failed"
[ -f "$HOME/Torvo/img.png" ] || fail "no thumbnail"
# The browser's picture is the view in device pixels.
pic_w="$(python3 -c "print(round($view_w * $ratio))")"
pic_h="$(python3 -c "print(round($view_h * $ratio))")"
check_thumbnail "$HOME/Torvo/img.png" "$pic_w" "$pic_h"
[ "$ratio" = "$scale" ] || bad "the page shows at a device pixel ratio of $ratio, not $scale"
check_in_front "$out/1-torvotool-in-front.png"
ls /proc/"$tool_pid"/fd -l 2>/dev/null | grep -q memfd && bad "TorvoTool still holds the picture's memory file"
save_and_check "$window" "$tool_pid"
screenshot 2-saved || true
[ "$failures" -eq 0 ] || { echo "wayland: $failures checks failed" >&2; exit 1; }
step "passed"
