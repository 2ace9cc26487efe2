#!/usr/bin/env bash
# TorvoTool's save as a user meets it: a real torvo-service on the build's loopback port, an X
# server of our own with a window manager, a page window in front; the user edits the title,
# checks "보안", picks a folder and presses "저장". Then the replies that end with a message, a
# service that is not there at the press, and the bytes on the wire as a bare listener got them.
# A reply that does not come within 30 s is waited for once. Screenshots of every step land in
# the shots folder.
#
#   save_e2e.sh --tool TorvoTool --service torvo-service --port 8765 --shots DIR
set -uo pipefail

if [ -z "${TORVO_E2E_DISPLAY_READY:-}" ]; then
  export TORVO_E2E_DISPLAY_READY=1
  exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../../../scripts/lib/e2e.sh"

e2e_arguments "tool service port shots" "$@"
[ -x "$tool" ] && [ -x "$service" ] && [ -n "$port" ] && [ -n "$shots" ] || { echo "usage: $0 --tool T --service S --port P --shots DIR" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"

unset QT_QPA_PLATFORM
e2e_begin
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
work="$HOME/Torvo"
service_pid=""

start_service() {
  "$service" --port "$port" --data "$tmp/data" >"$tmp/service.out" 2>>"$tmp/service.log" &
  service_pid=$!
  pids+=("$service_pid")
  for _ in $(seq 100); do grep -q "listening on" "$tmp/service.out" 2>/dev/null && return 0; sleep 0.1; done
  echo "FAIL: torvo-service did not start on port $port"; cat "$tmp/service.log"; exit 1
}
stop_service() {
  kill "$service_pid"; wait "$service_pid" 2>/dev/null
  for _ in $(seq 50); do port_free && return; sleep 0.1; done
}

# True once window $1 shows TorvoTool's controls: the address field's own grey where the short
# address does not reach, and the many colours of its text and thumbnail (a plain window beneath
# may share the grey). A window mapped but never painted shows what lies beneath it, and a click
# on it is lost. Waits up to 10 s.
painted() {
  local seen
  for _ in $(seq 50); do
    seen=$(import -window "$1" png:- 2>/dev/null | convert - -format '%[hex:p{295,17}] %k' info: 2>/dev/null)
    [[ "$seen" == "EFEFEF "* && "${seen#* }" -gt 50 ]] && return 0
    sleep 0.2
  done
  return 1
}

# Starts TorvoTool for the page window with command line $1; sets tool_pid and torvo.
start_tool() {
  xdotool windowactivate --sync "$page" 2>/dev/null
  "$tool" "$1" >"$tmp/tool.out" 2>"$tmp/tool.err" &
  tool_pid=$!
  pids+=("$tool_pid")
  torvo=$(find_window Torvo) || { bad "no window named Torvo"; cat "$tmp/tool.err"; return 1; }
  if ! painted "$torvo"; then
    shot unpainted
    bad "the window is shown but not painted"; cat "$tmp/tool.err"
    kill "$tool_pid"; wait "$tool_pid" 2>/dev/null
    return 1
  fi
  sleep 0.5
}

# The form's controls, in pixels of its client area.
click() { xdotool mousemove --window "$torvo" "$1" "$2" click 1; sleep 0.3; }
press_save() { click 264 164; }

# A message box of TorvoTool is up: its text on standard error, a screenshot, then OK.
expect_box() {  # expect_box NAME MESSAGE
  local box
  if box=$(find_window TorvoTool 200); then
    sleep 0.3
    shot "$1"
    expect "$1: message" "$(grep '^TorvoTool: ' "$tmp/tool.err" | tail -1)" "TorvoTool: $2"
    xdotool windowactivate --sync "$box" key Return
    sleep 0.3
  else
    bad "$1: no message box"; cat "$tmp/tool.err"
  fi
}

images() { "$service" image list --data "$tmp/data" alice | tail -n +2; }

# --- the service, a user with two Korean folders, the desktop and a page window
for _ in $(seq 600); do port_free && break; sleep 0.1; done
port_free || { echo "FAIL: port $port stays taken by another program"; exit 1; }
start_service
"$service" user add --data "$tmp/data" alice --toolbar-id alice >/dev/null
"$service" folder add --data "$tmp/data" alice 여행 --number 3 >/dev/null
"$service" folder add --data "$tmp/data" alice "업무 자료" --number 12 >/dev/null
ensure_window_manager || exit 1
xmessage -geometry 640x400+400+250 -buttons "" "A web page in the browser. Its client area is what TorvoTool captures." &
pids+=($!)
page=$(find_window xmessage 300) || { echo "FAIL: no page window"; exit 1; }

line='alice;^;http://example.com/a page?q=1;^;Example page;^;%C7%D1%B1%DB+%B8%DE%B8%F0'

# --- 1. the whole road: edit the title, check "보안", pick "업무 자료", press "저장"
if start_tool "$line"; then
  shot 01-shown
  click 172 41
  xdotool key ctrl+a
  xdotool type --delay 30 'Saved by hand'
  click 15 161
  click 150 162
  sleep 0.3
  shot 02-folder-list
  xdotool key Down Down Return
  sleep 0.3
  shot 03-before-save
  before=$(md5sum <"$work/img.png")
  press_save
  wait_exit "$tool_pid"
  expect "stored: TorvoTool has ended by itself" "$status" "0"
  kept=$(cd "$work" && ls)
  if [[ "$kept" =~ ^[0-9]{14}\.png$ ]]; then ok "~/Torvo holds $kept and no img.png"; else bad "~/Torvo holds [$kept]"; fi
  expect "the kept file is the uploaded thumbnail" "$(md5sum <"$work/$kept")" "$before"
  expect "the service stored it with the user's fields" "$(images | cut -f1,3-4,6-8)" \
    "${kept%.png}	12	S	http://example.com/a page?q=1	Saved by hand	한글 메모"
  stored=$(find "$tmp/data/images" -name "$kept")
  expect "the service's PNG is the thumbnail" "$(md5sum <"$stored")" "$before"
  expect "no message" "$(grep -c '^TorvoTool: ' "$tmp/tool.err")" "0"
fi

# --- 2. the replies that end with a message; img.png stays
reply_case() {  # reply_case NAME FAULT MESSAGE
  curl -s -d '' "http://127.0.0.1:$port/admin/faults?clear=all&add=$2,times=1" >/dev/null
  rm -rf "$work"
  start_tool "$line" || return
  xdotool windowactivate --sync "$torvo" key space  # the save button holds the focus
  expect_box "$1" "$3"
  wait_exit "$tool_pid"
  expect "$1: TorvoTool has ended" "$status" "1"
  expect "$1: ~/Torvo holds img.png only" "$(ls "$work")" "img.png"
}
count_before=$(images | wc -l)
reply_case 04-signed-out upload:signedout "로그아웃 상태입니다."
reply_case 05-not-a-number upload:notanumber "You must login again.1"
expect "the replies with a message stored nothing" "$(images | wc -l)" "$count_before"

# --- 3. an answer in three pieces, the first without it: the whole reply decides
curl -s -d '' "http://127.0.0.1:$port/admin/faults?clear=all&add=upload:split=3,pause=300,times=1" >/dev/null
rm -rf "$work"
if start_tool "$line"; then
  xdotool windowactivate --sync "$torvo" key space
  wait_exit "$tool_pid"
  expect "06-answer-in-pieces: stored, no message" "$status $(grep -c '^TorvoTool: ' "$tmp/tool.err")" "0 0"
  expect "06-answer-in-pieces: kept under the stored name" "$(ls "$work")" "$(images | tail -1 | cut -f1).png"
fi

# --- 4. the service is gone at the press: a message, the window stays; a second press works
rm -rf "$work"
if start_tool "$line"; then
  stop_service
  xdotool windowactivate --sync "$torvo" key space
  expect_box 07-no-connection "업로드 서버(127.0.0.1:$port)에 연결할 수 없습니다: Connection refused"
  kill -0 "$tool_pid" 2>/dev/null && ok "07: TorvoTool still runs" || bad "07: TorvoTool ended"
  expect "07: the window is still shown" "$(xdotool search --onlyvisible --name '^Torvo$' | head -1)" "$torvo"
  shot 08-window-kept
  start_service
  press_save
  wait_exit "$tool_pid"
  expect "07: the second press stored it" "$status" "0"
  [[ "$(ls "$work")" =~ ^[0-9]{14}\.png$ ]] && ok "07: kept under the service's name" || bad "07: ~/Torvo holds [$(ls "$work")]"
fi

# --- 4b. no reply within 30 s: a message, the window stays; a second press works
curl -s -d '' "http://127.0.0.1:$port/admin/faults?clear=all&add=upload:delay=40000,times=1" >/dev/null
rm -rf "$work"
if start_tool "$line"; then
  xdotool windowactivate --sync "$torvo" key space
  sleep 29
  expect "09: no message before 30 s" "$(grep -c '^TorvoTool: ' "$tmp/tool.err")" "0"
  expect_box 09-no-reply "업로드 서버가 30초 안에 응답하지 않았습니다. 잠시 후 다시 저장해 주세요."
  kill -0 "$tool_pid" 2>/dev/null && ok "09: TorvoTool still runs" || bad "09: TorvoTool ended"
  press_save
  wait_exit "$tool_pid"
  expect "09: the second press stored it" "$status" "0"
  [[ "$(ls "$work")" =~ ^[0-9]{14}\.png$ ]] && ok "09: kept under the service's name" || bad "09: ~/Torvo holds [$(ls "$work")]"
fi

# --- 5. the bytes on the wire, as a bare listener got them
stop_service
rm -rf "$work"
python3 "$here/raw_listener.py" --port "$port" --record "$tmp/request.bin" >"$tmp/raw.out" &
raw=$!
pids+=("$raw")
for _ in $(seq 50); do grep -q listening "$tmp/raw.out" && break; sleep 0.1; done
if start_tool "$line"; then
  xdotool windowactivate --sync "$torvo" key space
  wait_exit "$tool_pid"
  expect "raw: TorvoTool has ended" "$status" "0"
  expect "raw: kept under the listener's name" "$(ls "$work")" "20091201123456.png"
  python3 "$here/check_upload_bytes.py" "$tmp/request.bin" "$work/20091201123456.png" --tid alice \
    --url "http://example.com/a page?q=1" --title "Example page" --note "한글 메모" --public P --folder 0
  if [ $? -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

echo "screenshots in $shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
