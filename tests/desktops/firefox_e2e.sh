#!/usr/bin/env bash
# The toolbar's road on a Wayland desktop with Firefox ESR running natively on Wayland
# (MOZ_ENABLE_WAYLAND=1) in weston (headless, with XWayland): the extension side-loaded, the
# identity typed into its options page, a page of four colour blocks, the button pressed (its
# trigger started through Marionette). TorvoTool must make its thumbnail of the browser's
# picture, show its window in front, and store the page on "저장".
#
#   tests/desktops/firefox_e2e.sh BUILD_DIR   (screenshots and logs in BUILD_DIR/wayland-firefox)
set -euo pipefail
build="$(cd "$1" && pwd)"
out="$build/wayland-firefox"
source "$(dirname "$0")/session.sh"
command -v firefox-esr >/dev/null && command -v node >/dev/null && command -v zip >/dev/null ||
  { echo "desktops: firefox-esr, node and zip are needed" >&2; exit 1; }

start_weston 1280 900
start_bus
start_service
start_page
step "Firefox on Wayland"
export MOZ_ENABLE_WAYLAND=1
start_firefox
drive open "$page"
view_w="$(answered innerWidth)" view_h="$(answered innerHeight)" ratio="$(answered devicePixelRatio)"
step "page view ${view_w}x${view_h} CSS pixels at a device pixel ratio of $ratio; the button pressed"
drive press
wait_for 30 tool_started || fail "TorvoTool did not start"
tool_pid="$(tool_pids | head -1)"
# Firefox, not XWayland, shows the page: it is no X11 window.
xdotool search --name "$page_title" >/dev/null 2>&1 && bad "Firefox runs through XWayland, not natively on Wayland"
wait_for 30 tool_window "$tool_pid" || fail "TorvoTool's window did not show"
window="$(tool_window "$tool_pid")"
sleep 1.5
screenshot 1-torvotool-in-front || fail "weston-screenshooter failed"
check_thumbnail "$HOME/Torvo/img.png" "$(python3 -c "print(round($view_w * $ratio))")" "$(python3 -c "print(round($view_h * $ratio))")"
check_in_front "$out/1-torvotool-in-front.png"
save_and_check "$window" "$tool_pid"
screenshot 2-saved || true
[ "$failures" -eq 0 ] || { echo "desktops: $failures checks failed" >&2; exit 1; }
step "passed"
