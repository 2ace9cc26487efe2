#!/usr/bin/env bash
# The toolbar's road on a Wayland desktop: weston (headless, with XWayland) shows Chromium running
# natively on Wayland with the Torvo extension, on a page of four colour blocks. The extension's
# button handler (started through the browser's debugging protocol) sends the page's picture;
# TorvoTool must make its thumbnail from it (the blocks at their places), show its window in front
# of the browser (the compositor's screenshot), and store the page in torvo-service on "저장".
#
#   tests/wayland/chromium_e2e.sh BUILD_DIR [--scale 2]
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
"$repo/toolbar/install-host.sh" --host "$host" >>"$log"

step "Chromium on Wayland at scale $scale, the button pressed on $page"
TORVO_TOOLBAR_TORVOTOOL="$tool" node "$repo/tests/wayland/chromium_driver.mjs" --chromium "$(command -v chromium)" \
  --extension "$repo/toolbar/extension" --profile "$HOME/.config/chromium" --page "$page" \
  --toolbar-id "$user" --out "$out/view.json" \
  --chromium-arg --ozone-platform=wayland --chromium-arg --disable-gpu \
  --chromium-arg --force-device-scale-factor="$scale" \
  --chromium-arg --window-size=1200,820 --chromium-arg --window-position=0,0 \
  --chromium-arg --disable-features=Translate,TranslateUI >"$out/chromium.log" 2>&1 &
pids+=($!)
wait_for 60 grep -q '"pressed"\|"error"' "$out/view.json" || fail "the browser did not come up (see $out/chromium.log)"
grep -q '"pressed"' "$out/view.json" || fail "the driver: $(cat "$out/view.json")"
read -r view_w view_h ratio <<<"$(python3 -c 'import json, sys; v = json.load(open(sys.argv[1])); print(v["innerWidth"], v["innerHeight"], v["devicePixelRatio"])' "$out/view.json")"
step "page view ${view_w}x${view_h} CSS pixels at a device pixel ratio of $ratio"

wait_for 30 test -n "$(tool_pids)" || fail "TorvoTool did not start"
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
