#!/usr/bin/env bash
# The toolbar end to end, as a new user meets it: Chromium (a real window under Xvfb and openbox)
# with the Torvo extension loaded and the host registered; a page served on loopback holds a
# Korean sentence. The user presses Alt+Shift+K without an identity (the options page opens),
# types the identity, goes back to the page, selects the sentence with a triple click and
# presses Alt+Shift+K. TorvoTool must start with the page's command line, make its thumbnail of
# the browser's picture of the page and show the note in Korean; after "저장" the image and its note must be in
# torvo-service and the thumbnail in ~/Torvo.
#
#   toolbar/tests/e2e.sh [BUILD_DIR]     (default build/local)
#
# BUILD_DIR must hold TorvoTool, torvo-service and torvo-toolbar-host built against a service on
# loopback (its TORVO_SERVICE_HOST, e.g. 127.0.0.1:8765; the service is started on that port).
# Screenshots and logs go to $TORVO_E2E_OUT (default BUILD_DIR/toolbar-e2e). Installs Chromium
# from Debian when it is missing. Exits 0 when every check passed.
set -euo pipefail

repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$repo/build/local}" && pwd)"
out="${TORVO_E2E_OUT:-$build/toolbar-e2e}"

# Everything runs on a private X server: re-run this script under xvfb-run.
if [ -z "${TORVO_E2E_INNER:-}" ]; then
  for tool in xvfb-run Xvfb openbox xdotool import identify python3; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
  done
  if ! command -v chromium >/dev/null; then
    echo "e2e: installing chromium"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium >/dev/null
  fi
  rm -rf "$out"
  mkdir -p "$out"
  exec env TORVO_E2E_INNER=1 TORVO_E2E_OUT="$out" \
    xvfb-run -a -s "-screen 0 1280x900x24 -nolisten tcp" "$0" "$build"
fi

tool="$build/upload/app/TorvoTool"
service="$build/service/torvo-service"
host="$build/toolbar/host/torvo-toolbar-host"
for program in "$tool" "$service" "$host"; do
  [ -x "$program" ] || { echo "e2e: $program is not built" >&2; exit 1; }
done
service_host="$(sed -n 's/^TORVO_SERVICE_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")"
port="${service_host##*:}"
[[ "$service_host" == 127.0.0.1:* && "$port" =~ ^[0-9]+$ ]] ||
  { echo "e2e: $build talks to '$service_host', not to a service on 127.0.0.1" >&2; exit 1; }

export HOME="$out/home"
mkdir -p "$HOME" "$out/www"
log="$out/e2e.log"
: >"$log"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

step() { echo "e2e: $*" | tee -a "$log"; }
fail() { echo "e2e: FAILED: $*" | tee -a "$log" >&2; shot failure; exit 1; }
shot() { import -window root "$out/$1.png"; step "screenshot $out/$1.png"; }
# Waits up to $1 seconds for the command after it to succeed.
# The first visible window whose name matches; xdotool fails when a window vanishes mid-search.
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 | grep .; }
wait_for() {
  local seconds="$1"; shift
  for _ in $(seq $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

user="e2e_user"
title="토르보 시험 페이지"
sentence="오늘 본 기사: 서울의 봄꽃이 일주일 일찍 피었다."

step "window manager"
openbox >"$out/openbox.log" 2>&1 &
pids+=($!)
wait_for 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start"

step "torvo-service on port $port"
"$service" user add --data "$out/service" "$user" --toolbar-id "$user" >>"$log"
"$service" serve --data "$out/service" --port "$port" --ready-file "$out/service.ready" >"$out/service.log" 2>&1 &
pids+=($!)
wait_for 10 test -s "$out/service.ready" || fail "torvo-service did not start (port $port busy?)"

step "web page on loopback"
cat >"$out/www/page.html" <<EOF
<!DOCTYPE html>
<html lang="ko"><head><meta charset="utf-8"><title>$title</title>
<style>body { margin: 0; height: 100vh; display: flex; align-items: center; justify-content: center;
              font: 32px sans-serif; background: #FFF8E1; } p { color: #1A237E; }</style></head>
<body><p>$sentence</p>
<script>addEventListener("load", () => fetch("/view?" + innerWidth + "x" + innerHeight + "x" + devicePixelRatio));</script>
</body></html>
EOF
python3 -u -m http.server --bind 127.0.0.1 --directory "$out/www" 0 >"$out/http.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q "port [0-9]" "$out/http.log" || fail "the web server did not start"
web_port="$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$out/http.log" | head -1)"
page="http://127.0.0.1:$web_port/page.html"

step "host registered for Chromium"
"$repo/toolbar/install-host.sh" --host "$host" >>"$log"

step "Chromium with the extension"
# The host inherits Chromium's environment; the variable makes it start this build's TorvoTool.
TORVO_TOOLBAR_TORVOTOOL="$tool" chromium --no-sandbox --test-type --disable-background-networking \
  --disable-component-update --disable-sync --no-first-run --no-default-browser-check --disable-quic \
  --password-store=basic --lang=ko --user-data-dir="$HOME/.config/chromium" \
  --load-extension="$repo/toolbar/extension" "$page" >"$out/chromium.log" 2>&1 &
pids+=($!)
wait_for 30 find_window "$title" || fail "no Chromium window with the page"
browser="$(find_window "$title")"
sleep 2  # the extension's worker and shortcut are ready a moment after the window

step "shortcut without an identity: the options page opens"
xdotool key alt+shift+k
wait_for 10 find_window "Torvo 설정" || fail "the options page did not open"
sleep 1
shot 1-options
# The address has the focus; this build's own service needs only the ToolbarID, three fields on.
xdotool key Tab Tab Tab
xdotool type --delay 40 "$user"
xdotool key Return
sleep 1
shot 2-identity-saved

step "select the sentence and press the shortcut"
xdotool key ctrl+1
wait_for 10 sh -c "xdotool getactivewindow getwindowname | grep -q '$title'" || fail "the page's tab is not in front"
eval "$(xdotool getwindowgeometry --shell "$browser")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2 + 40)) click --repeat 3 --delay 120 1
sleep 1
shot 3-selected
xdotool key alt+shift+k

step "TorvoTool starts with the page's command line"
find_tool() {
  local pid
  for pid in $(pgrep -x TorvoTool); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "HOME=$HOME" && { echo "$pid"; return 0; }
  done
  return 1
}
wait_for 20 find_tool || fail "TorvoTool did not start"
tool_pid="$(find_tool)"
pids+=("$tool_pid")
expected="$(python3 -c '
import sys
user, url, title, note = sys.argv[1:]
print(user + ";^;" + url + ";^;" + title + ";^;" + "".join("%%%02X" % b for b in note.encode("cp949")), end="")
' "$user" "$page" "$title" "$sentence")"
actual="$(tr '\0' '\n' <"/proc/$tool_pid/cmdline" | sed -n 2p)"
arguments="$(tr -cd '\0' <"/proc/$tool_pid/cmdline" | wc -c)"
[ "$arguments" -eq 2 ] || fail "TorvoTool got $((arguments - 1)) arguments, not one"
[ "$actual" = "$expected" ] || fail "TorvoTool's command line is '$actual', expected '$expected'"
step "command line: $actual"

step "TorvoTool's window shows over Chromium"
tool_window() { xdotool search --onlyvisible --pid "$tool_pid" --name "^Torvo$" 2>/dev/null | head -1 | grep .; }
wait_for 30 tool_window || fail "TorvoTool's window did not show"
window="$(tool_window)"
sleep 1
shot 4-torvotool

# The extension sent the browser's picture of the visible page: the thumbnail has exactly the size
# the page's view gives (200 wide when landscape, else 160 high, the other side in proportion and
# rounded down). The page reported its view to the web server when it loaded.
[ -f "$HOME/Torvo/img.png" ] || fail "no thumbnail $HOME/Torvo/img.png"
IFS=x read -r view_width view_height ratio <<<"$(sed -n 's|.*GET /view?\([0-9.x]*\) .*|\1|p' "$out/http.log" | tail -1)"
WIDTH=$(python3 -c "print(round($view_width * $ratio))") HEIGHT=$(python3 -c "print(round($view_height * $ratio))")
read -r thumb_width thumb_height <<<"$(identify -format '%w %h' "$HOME/Torvo/img.png")"
step "the page's view ${WIDTH}x${HEIGHT}, thumbnail ${thumb_width}x${thumb_height}"
python3 - "$WIDTH" "$HEIGHT" "$thumb_width" "$thumb_height" <<'EOF' || fail "the thumbnail is not the page's view"
import sys
w, h, tw, th = map(int, sys.argv[1:])
expect = (200, max(1, h * 200 // w)) if w > h else (max(1, w * 160 // h), 160)
sys.exit(0 if (tw, th) == expect else 1)
EOF

step "click 저장"
# The button's place in the window is fixed (3360, 2280 twips, 1215 x 375, at 15 twips a pixel).
xdotool mousemove --window "$window" 264 164 click 1
wait_for 30 sh -c "! kill -0 $tool_pid" || fail "TorvoTool did not end after 저장"
sleep 1
shot 5-saved

step "the image and its note are in torvo-service"
"$service" image list --data "$out/service" "$user" | tee -a "$log" >"$out/images.tsv"
python3 - "$out/images.tsv" "$out/service" "$HOME/Torvo" "$page" "$title" "$sentence" <<'EOF' || fail "the service does not hold the page"
import os, sys
listing, data, work, url, title, note = sys.argv[1:]
rows = [line.rstrip("\n").split("\t") for line in open(listing, encoding="utf-8")]
header, images = rows[0], [dict(zip(rows[0], r)) for r in rows[1:]]
assert len(images) == 1, images
image = images[0]
assert (image["url"], image["title"], image["note"]) == (url, title, note), image
stored = [os.path.join(root, f) for root, _, files in os.walk(data) for f in files if f.startswith(image["name"])]
assert len(stored) == 1, stored
kept = os.path.join(work, image["name"] + ".png")
assert open(stored[0], "rb").read() == open(kept, "rb").read(), (stored, kept)
assert not os.path.exists(os.path.join(work, "img.png"))
print("e2e: stored", image["name"], "with its note, and kept as", kept)
EOF
step "passed"
