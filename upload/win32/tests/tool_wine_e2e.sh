#!/usr/bin/env bash
# TorvoTool.exe as a user meets it under Wine: a page window of known colour blocks in front, the
# tool started with the toolbar's four-field command line (Korean title and note) once with the
# Korean ANSI code page (949) and once with the English one (1252). The window on top with its
# Korean labels, the thumbnail of the page, C:\Torvo\img.png of the size rule; the edited fields,
# "보안", a folder and "저장" give the upload bytes the Linux build sends (the same check), and the
# thumbnail is kept as C:\Torvo\<name>.png. Then the early stops against a real torvo-service.
#
#   tool_wine_e2e.sh --tool TorvoTool.exe --page torvo_test_page.exe --spy message_spy.exe --service torvo-service
#                    --port 8766 --prefix WINEPREFIX --shots DIR
set -uo pipefail
set -f  # the command line's words hold "?" and must not be globbed

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../../../scripts/lib/e2e.sh"

e2e_arguments "tool page spy service port prefix shots" "$@"
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../../.." && pwd)"
e2e="$source_dir/upload/tests/e2e"
wine_run="$source_dir/scripts/wine-run.sh"
[ -f "$tool" ] && [ -f "$page" ] && [ -f "$spy" ] && [ -n "$port" ] && [ -n "$prefix" ] && [ -n "$shots" ] || {
  echo "usage: $0 --tool T --page P --spy M --service S --port N --prefix WINEPREFIX --shots DIR" >&2; exit 2; }
[ -x "$service" ] || { echo "FAIL: no Linux torvo-service at $service (build it in the local preset)"; exit 1; }

e2e_begin
window_wait=200 exit_wait=200  # Wine starts programs more slowly
work="$prefix/drive_c/Torvo"

# Starts TorvoTool.exe under locale $1 with the command line $2, as the toolbar writes it: its
# words, which Wine joins with single spaces behind the program's name. Sets tool_pid.
start_tool() {
  local words
  read -ra words <<<"$2"
  LC_ALL="$1" "$wine_run" "$prefix" "$tool" "${words[@]}" >"$tmp/tool.out" 2>"$tmp/tool.err" &
  tool_pid=$!
  pids+=("$tool_pid")
}

# Where img.png shows on the screen, pixel for pixel: "x y" of its top left corner, or nothing.
find_on_screen() {  # find_on_screen SCREENSHOT PNG
  python3 - "$1" "$2" <<'PY'
import subprocess, sys
def pixels(path):
    w, h = map(int, subprocess.check_output(["identify", "-format", "%w %h", path]).split())
    raw = subprocess.check_output(["convert", path, "-depth", "8", "rgb:-"])
    return w, h, [raw[y * w * 3:(y + 1) * w * 3] for y in range(h)]
sw, sh, screen = pixels(sys.argv[1])
w, h, image = pixels(sys.argv[2])
for y in range(sh - h + 1):
    x = screen[y].find(image[0])
    while x >= 0:
        if x % 3 == 0 and all(screen[y + r][x:x + w * 3] == image[r] for r in range(h)):
            print(x // 3, y)
            sys.exit(0)
        x = screen[y].find(image[0], x + 1)
PY
}

# The program ends on a message box: message_spy reads it as Windows shows it and presses OK; the
# same message is on standard error; the program ends with status 1.
expect_stop() {  # expect_stop NAME LOCALE LINE MESSAGE
  local box
  start_tool "$2" "$3"
  find_window TorvoTool >/dev/null && { sleep 0.3; shot "$1"; }
  box=$("$wine_run" "$prefix" "$spy" box TorvoTool 20 2>/dev/null | tr -d '\r')
  expect "$1: the message box" "$box" "$4"
  wait_exit "$tool_pid"
  expect "$1: exit status" "$status" "1"
  expect "$1: message on standard error" "$(tr -d '\r' <"$tmp/tool.err" | grep '^TorvoTool: ' | tail -1)" "TorvoTool: $4"
}

# --- the desktop: a window manager (topmost means nothing without one), unless one runs
ensure_window_manager || exit 1
for _ in $(seq 600); do port_free && break; sleep 0.1; done
port_free || { echo "FAIL: port $port stays taken by another program"; exit 1; }

line='alice;^;http://example.com/a page?q=1;^;한국어 제목;^;%C7%D1%B1%DB+%B8%DE%B8%F0'

# --- 1. the whole road, under each code page, against a bare listener that records the upload
for run in "ko_KR.UTF-8 949 ko" "en_US.UTF-8 1252 en"; do
  read -r locale acp name <<<"$run"
  rm -rf "$work"
  for _ in $(seq 600); do port_free && break; sleep 0.1; done
  python3 "$e2e/raw_listener.py" --port "$port" --record "$tmp/request-$name.bin" >"$tmp/raw.out" 2>&1 &
  raw=$!
  pids+=("$raw")
  for _ in $(seq 50); do grep -q listening "$tmp/raw.out" && break; sleep 0.1; done
  grep -q listening "$tmp/raw.out" || { bad "$name: the bare listener could not listen on $port"; cat "$tmp/raw.out"; continue; }
  LC_ALL="$locale" "$wine_run" "$prefix" "$page" >"$tmp/page.out" 2>/dev/null &
  page_pid=$!
  pids+=("$page_pid")
  find_window page >/dev/null || bad "$name: no page window"
  for _ in $(seq 50); do grep -q acp "$tmp/page.out" && break; sleep 0.1; done
  expect "$name: Wine's ANSI code page" "$(tr -d '\r' <"$tmp/page.out")" "acp $acp"
  sleep 0.5

  start_tool "$locale" "$line"
  if ! torvo=$(find_window Torvo); then
    bad "$name: no window named Torvo"; cat "$tmp/tool.err"
    kill "$tool_pid" "$page_pid" "$raw" 2>/dev/null
    continue
  fi
  sleep 1
  shot "$name-01-shown"
  top=$(xprop -root _NET_CLIENT_LIST_STACKING | awk '{print $NF}')
  expect "$name: TorvoTool's window is on top" "$((top))" "$torvo"
  expect "$name: the page kept the focus" "$(xdotool getwindowname "$(xdotool getactivewindow)")" "page"
  # The controls as Windows holds them, in the tab order: the labels, the fields, 기본 chosen.
  expect "$name: the controls" "$("$wine_run" "$prefix" "$spy" controls Torvo 5 2>/dev/null | tr -d '\r' | paste -sd '|')" \
    "저장|주소|http://example.com/a page?q=1|제목|한국어 제목|내용|한글 메모||보안|폴더|기본"
  expect "$name: work folder holds img.png only" "$(ls "$work")" "img.png"
  expect "$name: img.png by the size rule (400 x 300 gives 200 x 150)" \
    "$(identify -format '%w %h' "$work/img.png")" "200 150"
  # The four blocks, scaled: red, green, blue, yellow at the quarters' centres.
  expect "$name: img.png is the page's picture" \
    "$(convert "$work/img.png" -format '%[hex:p{50,37}] %[hex:p{150,37}] %[hex:p{50,112}] %[hex:p{150,112}]' info:)" \
    "C81E1E 1EB43C 283CC8 E6D228"
  at=$(find_on_screen "$shots/$name-01-shown.png" "$work/img.png")
  if [ -n "$at" ]; then
    ok "$name: the window shows img.png pixel for pixel at $at"
    read -r px py <<<"$at"
    # The client area's corner, from the picture box's place in it.
    cx=$((px - 316)) cy=$((py - 8))
    click() { xdotool mousemove $((cx + $1)) $((cy + $2)) click 1; sleep 0.3; }
    click 172 41  # the title
    xdotool key End
    xdotool type --delay 30 ' (edited)'
    click 15 161  # 보안
    click 150 162  # the folder list: 기본 is chosen, 여행 below it
    shot "$name-02-folders"
    xdotool key Down Return
    sleep 0.3
    shot "$name-03-before-save"
    click 264 164  # 저장
    wait_exit "$tool_pid"
    expect "$name: stored: TorvoTool has ended by itself" "$status" "0"
    expect "$name: kept as the listener's name" "$(ls "$work")" "20091201123456.png"
    if python3 "$e2e/check_upload_bytes.py" "$tmp/request-$name.bin" "$work/20091201123456.png" --what "$name" \
        --tid alice --url "http://example.com/a page?q=1" --title "한국어 제목 (edited)" --note "한글 메모" \
        --public S --folder 3; then
      passed=$((passed + 1))
      cp "$work/20091201123456.png" "$tmp/kept-$name.png"
    else
      failed=$((failed + 1))
    fi
  else
    bad "$name: img.png is not on the screen"
  fi
  kill "$tool_pid" "$page_pid" "$raw" 2>/dev/null
  wait "$tool_pid" "$page_pid" "$raw" 2>/dev/null
done
if [ -f "$tmp/request-ko.bin" ] && [ -f "$tmp/request-en.bin" ]; then
  expect "the code page does not change the bytes" "$(md5sum <"$tmp/request-ko.bin")" "$(md5sum <"$tmp/request-en.bin")"
fi

# --- 2. the early stops, against the service
# Another test run on the same machine may hold the build's port a while: wait for it, and start
# again when it took the port between the look and the start.
started=""
for _ in 1 2 3 4 5; do
  for _ in $(seq 600); do port_free && break; sleep 0.1; done
  "$service" --port "$port" --data "$tmp/data" >"$tmp/service.out" 2>"$tmp/service.log" &
  service_pid=$!
  pids+=("$service_pid")
  for _ in $(seq 100); do
    grep -q "listening on" "$tmp/service.out" 2>/dev/null && { started=1; break; }
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$started" ] && break
  kill "$service_pid" 2>/dev/null
  wait "$service_pid" 2>/dev/null
done
[ -n "$started" ] || { echo "FAIL: torvo-service did not start on port $port"; cat "$tmp/service.log"; exit 1; }
"$service" user add --data "$tmp/data" alice --toolbar-id alice >/dev/null
"$service" folder add --data "$tmp/data" alice 여행 --number 3 >/dev/null
"$service" user add --data "$tmp/data" bob --toolbar-id bob >/dev/null
"$service" user signout --data "$tmp/data" bob >/dev/null
LC_ALL=ko_KR.UTF-8 "$wine_run" "$prefix" "$page" >/dev/null 2>&1 &
page_pid=$!
pids+=("$page_pid")
find_window page >/dev/null || bad "stops: no page window"

rm -rf "$work"
start_tool ko_KR.UTF-8 "$line"
first=$tool_pid
if torvo=$(find_window Torvo); then
  expect_stop 11-second-copy ko_KR.UTF-8 "$line" "이 프로그램은 두번 실행될 수 없슴니다."
  # The first copy runs on. Its tab order from the save button: the address, the title, the note
  # (typing replaces it; Tab leaves it), the picture, 보안, the folder list.
  sleep 1
  # Under load the window manager may take a while to hand over the focus: wait for it.
  for _ in $(seq 50); do
    xdotool windowactivate "$torvo" 2>/dev/null
    [ "$(xdotool getactivewindow 2>/dev/null)" == "$torvo" ] && break
    sleep 0.1
  done
  sleep 0.5
  xdotool key Tab Tab Tab
  xdotool type --delay 30 'typed'
  xdotool key Tab Tab space Tab Down
  sleep 0.3
  shot 15-tab-order
  expect "tab order: the note typed over, then the folder list" \
    "$("$wine_run" "$prefix" "$spy" controls Torvo 5 2>/dev/null | tr -d '\r' | paste -sd '|')" \
    "저장|주소|http://example.com/a page?q=1|제목|한국어 제목|내용|typed||보안|폴더|여행"
else
  bad "second copy: the first copy shows no window"
fi
kill "$first" 2>/dev/null
wait "$first" 2>/dev/null
# Its lock goes with its window: wait for both before the next start.
for _ in $(seq 100); do xdotool search --onlyvisible --name '^Torvo$' >/dev/null 2>&1 || break; sleep 0.1; done
sleep 0.5
expect_stop 12-not-http ko_KR.UTF-8 'alice;^;ftp://example.com/x;^;t;^;n' "Http web page만 등록 됩니다."
expect_stop 13-signed-out ko_KR.UTF-8 'bob;^;http://example.com/x;^;t;^;n' "로그아웃 상태입니다."
expect_stop 14-signed-out-en en_US.UTF-8 'bob;^;http://example.com/x;^;t;^;n' "로그아웃 상태입니다."

echo "screenshots in $shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
