#!/usr/bin/env bash
# TorvoTool's start-up as a user meets it: a real torvo-service on the build's loopback port, an X
# server of our own with a window manager, another window in front, and the tool started with the
# toolbar's four-field command line. Screenshots of every step land in the shots folder.
#
#   startup_e2e.sh --tool TorvoTool --service torvo-service --port 8765 --shots DIR
set -uo pipefail

if [ -z "${TORVO_E2E_DISPLAY_READY:-}" ]; then
  export TORVO_E2E_DISPLAY_READY=1
  exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../../../scripts/lib/e2e.sh"

e2e_arguments "tool service port shots" "$@"
[ -x "$tool" ] && [ -x "$service" ] && [ -n "$port" ] && [ -n "$shots" ] || { echo "usage: $0 --tool T --service S --port P --shots DIR" >&2; exit 2; }

unset QT_QPA_PLATFORM
e2e_begin
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
work="$HOME/Torvo"

folder_requests() { grep -c 'imgList.php?state=geturi' "$tmp/service.log" || true; }
work_state() { (cd "$work" 2>/dev/null && ls -A | sort | tr '\n' ' '; md5sum img.png 2>/dev/null); }

# Starts TorvoTool with the command line $2 (case name $1), expecting a message box: checks the
# message on standard error ($3), that OK ends the program with status 1, that no further folder
# request was made when $4 is "no-request", and that the work folder is untouched.
expect_stop() {
  local name="$1" line="$2" message="$3" request="${4:-}"
  local before_requests before_state box pid
  before_requests=$(folder_requests)
  before_state=$(work_state)
  "$tool" "$line" >"$tmp/$name.out" 2>"$tmp/$name.err" &
  pid=$!
  pids+=("$pid")
  if box=$(find_window TorvoTool); then
    sleep 0.3
    shot "$name"
    xdotool windowactivate --sync "$box" key Return
  else
    bad "$name: no message box"
  fi
  wait_exit "$pid"
  expect "$name: exit status" "$status" "1"
  expect "$name: message" "$(head -1 "$tmp/$name.err")" "TorvoTool: $message"
  expect "$name: work folder untouched" "$(work_state)" "$before_state"
  if [ "$request" == "no-request" ]; then
    expect "$name: no folder request" "$(folder_requests)" "$before_requests"
  fi
}

# --- the service, with a user who has two Korean folders and one who signed out. The port is the
# build's own: wait for anyone else using it to finish.
for _ in $(seq 600); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" || break
  sleep 0.1
done
curl -s -o /dev/null "http://127.0.0.1:$port/" && { echo "FAIL: port $port stays taken by another program"; exit 1; }
"$service" --port "$port" --data "$tmp/data" >"$tmp/service.out" 2>"$tmp/service.log" &
pids+=($!)
for _ in $(seq 100); do grep -q "listening on" "$tmp/service.out" 2>/dev/null && break; sleep 0.1; done
grep -q "listening on" "$tmp/service.out" || { echo "FAIL: torvo-service did not start on port $port"; cat "$tmp/service.log"; exit 1; }
"$service" user add --data "$tmp/data" alice --toolbar-id alice >/dev/null
"$service" folder add --data "$tmp/data" alice 여행 --number 3 >/dev/null
"$service" folder add --data "$tmp/data" alice "업무 자료" --number 12 >/dev/null
"$service" user add --data "$tmp/data" bob --toolbar-id bob >/dev/null
"$service" user signout --data "$tmp/data" bob >/dev/null

# --- the desktop: a window manager and a page window in front
ensure_window_manager || exit 1
xmessage -geometry 640x400+400+250 -buttons "" "A web page in the browser. Its client area is what TorvoTool captures." &
page_pid=$!
pids+=("$page_pid")
page=$(find_window xmessage) || { echo "FAIL: no page window"; exit 1; }
xdotool windowactivate --sync "$page"
read -r page_w page_h < <(xwininfo -id "$page" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
echo "page window $page: client area ${page_w}x${page_h}"

# The thumbnail size rule: 200 wide for landscape, else 160 high; the other side rounded down.
thumb_size() {
  if [ "$1" -gt "$2" ]; then echo "200 $(($2 * 200 / $1))"; else echo "$(($1 * 160 / $2)) 160"; fi
}

# --- 1. a normal start-up
line='alice;^;http://example.com/a page?q=1;^;예제 페이지 Example;^;%C7%D1%B1%DB+%B8%DE%B8%F0%2541'
"$tool" "$line" >"$tmp/first.out" 2>"$tmp/first.err" &
first=$!
pids+=("$first")
if torvo=$(find_window Torvo); then
  sleep 0.5
  shot 01-started
  read -r want_w want_h < <(thumb_size "$page_w" "$page_h")
  expect "img.png has the thumbnail size" "$(identify -format '%w %h' "$work/img.png" 2>&1)" "$want_w $want_h"
  expect "no BMP work files" "$(ls "$work" | grep -ci '\.bmp$')" "0"
  expect "one folder request, as the toolbar sent the identity" \
    "$(grep -c 'GET /imgList.php?state=geturi&tid=alice ' "$tmp/service.log")" "1"
  expect "the page window keeps the focus" "$(xdotool getactivewindow)" "$page"
  top=$(xprop -root _NET_CLIENT_LIST_STACKING | awk '{print $NF}')
  expect "TorvoTool's window is on top" "$((top))" "$torvo"
  xprop -id "$torvo" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE && ok "kept above the others" || bad "no _NET_WM_STATE_ABOVE"
  expect "window caption" "$(xdotool getwindowname "$torvo")" "Torvo"
  # The thumbnail in the window is img.png, pixel for pixel (the box sits right of the fields).
  import -window "$torvo" "$tmp/window.png"
  x=$((312 + 4 + (200 - want_w) / 2))
  convert "$tmp/window.png" -crop "${want_w}x${want_h}+${x}+8" +repage "$tmp/shown.png"
  expect "the window shows img.png" "$(compare -metric AE "$tmp/shown.png" "$work/img.png" null: 2>&1)" "0"

  # The user's view: activated, the save button holds the focus; Tab runs through the fields and
  # out of the note box; the folder list.
  xdotool windowactivate --sync "$torvo"
  sleep 0.3
  shot 02-activated
  xdotool key Tab Tab Tab
  xdotool type --delay 20 ' (edited)'
  xdotool key Tab Tab space
  sleep 0.3
  shot 03-tab-order
  xdotool mousemove --window "$torvo" 150 162 click 1
  sleep 0.5
  shot 04-folders
  xdotool key Escape
else
  bad "no window named Torvo"; cat "$tmp/first.err"
fi

# --- 2. a second start leaves the first alone
before=$(md5sum "$work/img.png")
expect_stop 05-second-start "$line" "이 프로그램은 두번 실행될 수 없슴니다." no-request
kill -0 "$first" 2>/dev/null && ok "the first copy still runs" || bad "the first copy ended"
expect "img.png of the first copy unchanged" "$(md5sum "$work/img.png")" "$before"

# --- 3. closing the window ends the program
xdotool windowactivate --sync "$torvo" key alt+F4
wait_exit "$first"
expect "closing the window ends TorvoTool" "$status" "0"
expect "img.png stays after closing" "$(ls "$work")" "img.png"

# --- 4. early stops
expect_stop 06-not-http 'alice;^;ftp://example.com/x;^;t;^;n' "Http web page만 등록 됩니다." no-request
expect_stop 07-capital-http 'alice;^;HTTP://example.com/x;^;t;^;n' "Http web page만 등록 됩니다." no-request
expect_stop 08-signed-out 'bob;^;http://example.com/x;^;t;^;n' "로그아웃 상태입니다."
expect_stop 09-unknown-user 'nobody;^;http://example.com/x;^;t;^;n' "로그아웃 상태입니다."
expect_stop 10-undecodable-note 'alice;^;http://example.com/x;^;t;^;100%25' \
  "Invalid data passed to UrlDecode() function." no-request
curl -s -d '' "http://127.0.0.1:$port/admin/faults?add=folders:status=500,times=1" >/dev/null
expect_stop 11-http-error 'alice;^;http://example.com/x;^;t;^;n' "서비스가 폴더 목록 요청에 오류로 응답했습니다 (HTTP 500)."
curl -s -d '' "http://127.0.0.1:$port/admin/faults?add=folders:reply=127.0.0.1%257CWork,times=1" >/dev/null
expect_stop 12-malformed-reply 'alice;^;http://example.com/x;^;t;^;n' \
  "서비스의 폴더 목록 응답을 읽을 수 없습니다: 폴더 항목 1에 '^'가 없습니다: \"Work\""

# --- 5. no window in front: the whole screen
kill "$page_pid"
wait "$page_pid" 2>/dev/null
for _ in $(seq 50); do xprop -root _NET_ACTIVE_WINDOW | grep -q '0x0$' && break; sleep 0.1; done
"$tool" 'alice;^;https://example.com/;^;;^;' >"$tmp/screen.out" 2>"$tmp/screen.err" &
whole=$!
pids+=("$whole")
if torvo=$(find_window Torvo); then
  sleep 0.5
  shot 13-whole-screen
  expect "no window in front: the whole screen's thumbnail" "$(identify -format '%w %h' "$work/img.png" 2>&1)" "200 125"
  xdotool windowactivate --sync "$torvo" key alt+F4
  wait_exit "$whole"
  expect "closed" "$status" "0"
else
  bad "no window for the whole-screen start"; cat "$tmp/screen.err"
fi

# --- 6. a work folder that cannot be made: the message names it
rm -rf "$work"
echo "not a folder" >"$work"
expect_stop 14-no-work-folder 'alice;^;http://example.com/x;^;t;^;n' "작업 폴더를 만들 수 없습니다: $work (File exists)"
rm -f "$work"

# --- 7. no service at all
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null
expect_stop 15-no-service 'alice;^;http://example.com/x;^;t;^;n' "서비스에 연결하지 못해 폴더 목록을 받을 수 없습니다."

echo "screenshots in $shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
