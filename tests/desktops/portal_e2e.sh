#!/usr/bin/env bash
# TorvoTool started by hand in a Wayland session (weston, headless, with XWayland), without a
# picture from the browser: it must ask the desktop portal for the screen (a stand-in for
# org.freedesktop.portal.Screenshot on a session bus of the test's own) and make its thumbnail of
# the portal's picture. A refusing portal, and no portal at all while a native Wayland window
# has the focus, must each end in a clear message with nothing left in the work folder.
#
#   tests/desktops/portal_e2e.sh BUILD_DIR      (screenshots and logs in BUILD_DIR/wayland-portal)
set -euo pipefail
build="$(cd "$1" && pwd)"
out="$build/wayland-portal"
source "$(dirname "$0")/session.sh"

start_weston 1280 900
start_bus
start_service
line="$user;^;http://example.com/page;^;손으로 연 페이지;^;%B8%DE%B8%F0"

# The portal's picture of the screen: the four blocks, at the screen's size.
convert -size 640x450 xc:'#E53935' xc:'#43A047' +append \( -size 640x450 xc:'#1E88E5' xc:'#FDD835' +append \) \
  -append "$out/screen.png"

start_portal() {
  "$portal" "$@" --log "$out/portal.log" >"$out/portal.out" 2>>"$log" &
  portal_pid=$!
  pids+=("$portal_pid")
  wait_for 10 grep -q ready "$out/portal.out" || fail "the stand-in portal did not start"
}
stop_portal() { kill "$portal_pid"; wait "$portal_pid" 2>/dev/null || true; }
calls() { [ -f "$out/portal.log" ] && wc -l <"$out/portal.log" || echo 0; }

step "the portal gives the screen"
start_portal --picture "$out/screen.png"
"$tool" "$line" >"$out/taken.out" 2>"$out/taken.err" &
tool_pid=$!
pids+=("$tool_pid")
wait_for 30 tool_window "$tool_pid" || fail "TorvoTool's window did not show ($(cat "$out/taken.err"))"
window="$(tool_window "$tool_pid")"
sleep 1
screenshot 1-portal-picture || fail "weston-screenshooter failed"
[ "$(calls)" = 1 ] || bad "the portal was asked $(calls) times, not once"
grep -q "^- interactive=false token=torvo" "$out/portal.log" || bad "the portal was asked: $(cat "$out/portal.log")"
check_thumbnail "$HOME/Torvo/img.png" 1280 900
check_in_front "$out/1-portal-picture.png"
[ -z "$(ls "$HOME/Torvo" | grep -vx img.png)" ] || bad "work files left: $(ls "$HOME/Torvo")"
xdotool key --window "$window" alt+F4 2>>"$log" || true
wait_for 10 sh -c "! kill -0 $tool_pid" || kill "$tool_pid"
stop_portal

# A message box of TorvoTool's (its title is the program's name); OK ends the program with 1.
expect_message() {
  local name="$1" message="$2" pid box status
  rm -rf "$HOME/Torvo"
  "$tool" "$line" >"$out/$name.out" 2>"$out/$name.err" &
  pid=$!
  box=""
  for _ in $(seq 300); do
    box="$(xdotool search --onlyvisible --pid "$pid" --name "^TorvoTool$" 2>/dev/null | head -1)" && [ -n "$box" ] && break
    sleep 0.1
  done
  if [ -n "$box" ]; then
    sleep 0.5
    screenshot "$name" || true
    # The box may be gone before the key is released.
    xdotool key --window "$box" Return 2>>"$log" || true
  else
    bad "$name: no message box"
  fi
  status=0
  wait_for 15 sh -c "! kill -0 $pid" || { bad "$name: TorvoTool did not end"; kill "$pid"; }
  wait "$pid" || status=$?
  [ "$status" = 1 ] || bad "$name: exit status $status, not 1"
  [ "$(head -1 "$out/$name.err")" = "TorvoTool: $message" ] || bad "$name: the message is '$(head -1 "$out/$name.err")'"
  [ -z "$(ls -A "$HOME/Torvo" 2>/dev/null)" ] || bad "$name: left in the work folder: $(ls -A "$HOME/Torvo")"
  step "$name: $message"
}

step "the portal refuses"
start_portal --refuse
expect_message 2-refused "화면 캡처가 거부되어 썸네일을 만들 수 없습니다. 브라우저의 Torvo 단추로 다시 시도하세요."
[ "$(calls)" = 2 ] || bad "the refusing portal was asked $(( $(calls) - 1 )) times, not once"
stop_portal

step "no portal, a native Wayland window in front"
weston-terminal >>"$log" 2>&1 &
pids+=($!)
sleep 2
expect_message 3-no-portal "이 Wayland 데스크톱에서는 앞에 있는 창을 캡처할 수 없습니다: 화면 캡처 포털이 없고 앞에 있는 창이 X11 창이 아닙니다. 브라우저의 Torvo 단추로 실행하면 브라우저가 페이지 그림을 넘겨 줍니다."
[ "$(calls)" = 2 ] || bad "a portal answered after it ended"

[ "$failures" -eq 0 ] || { echo "wayland: $failures checks failed" >&2; exit 1; }
step "passed"
