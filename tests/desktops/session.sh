# Shared by the Wayland tests (sourced): a headless weston with XWayland, a private session bus,
# torvo-service on the build's port, a loopback page of known colour blocks, and checks of
# TorvoTool's thumbnail and window. Each test sources it after setting $build and $out.

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
tool="$build/upload/app/TorvoTool"
service="$build/service/torvo-service"
host="$build/toolbar/host/torvo-toolbar-host"
portal="$build/tests/desktops/stand_in_portal"
for program in "$tool" "$service" "$host" "$portal"; do
  [ -x "$program" ] || { echo "wayland: $program is not built" >&2; exit 1; }
done
for command in weston weston-screenshooter Xwayland dbus-daemon xdotool import convert identify python3 curl; do
  command -v "$command" >/dev/null || { echo "wayland: $command is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
service_host="$(sed -n 's/^TORVO_SERVICE_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")"
port="${service_host##*:}"
[[ "$service_host" == 127.0.0.1:* && "$port" =~ ^[0-9]+$ ]] ||
  { echo "wayland: $build talks to '$service_host', not to a service on 127.0.0.1" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out/www"
export HOME="$out/home" XDG_RUNTIME_DIR="$out/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
log="$out/test.log"
: >"$log"
pids=()
failures=0
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in $(tool_pids); do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

step() { echo "desktops: $*" | tee -a "$log"; }
bad() { echo "desktops: FAILED: $*" | tee -a "$log" >&2; failures=$((failures + 1)); }
fail() { bad "$*"; screenshot failure || true; exit 1; }
wait_for() {
  local seconds="$1"; shift
  for _ in $(seq $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# The compositor's own picture of its screen, as the user sees it: $out/$1.png (on X11 the
# X server's).
screenshot() {
  if [ -z "${WAYLAND_DISPLAY:-}" ]; then
    import -window root "$out/$1.png" && step "screenshot $out/$1.png"
    return
  fi
  local before
  before="$(ls "$out"/shots/wayland-screenshot-*.png 2>/dev/null | wc -l)"
  mkdir -p "$out/shots"
  (cd "$out/shots" && weston-screenshooter >>"$log" 2>&1) || return 1
  wait_for 5 test "$(ls "$out"/shots/wayland-screenshot-*.png 2>/dev/null | wc -l)" -gt "$before" || return 1
  mv "$(ls -t "$out"/shots/wayland-screenshot-*.png | head -1)" "$out/$1.png"
  step "screenshot $out/$1.png"
}

# weston, headless, drawing with pixman, with XWayland; its socket and X display are our own.
start_weston() {
  export WAYLAND_DISPLAY="wl-torvo-$$"
  weston --backend=headless-backend.so --use-pixman --xwayland --debug --socket="$WAYLAND_DISPLAY" \
    --width="${1:-1280}" --height="${2:-900}" >"$out/weston.log" 2>&1 &
  pids+=($!)
  wait_for 20 grep -q "xserver listening on display" "$out/weston.log" || fail "weston did not start with XWayland"
  export DISPLAY="$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$out/weston.log" | head -1)"
  # XWayland starts on the first X client: wait until it answers.
  wait_for 20 xdotool getmouselocation || fail "XWayland on $DISPLAY does not answer"
  step "weston on $WAYLAND_DISPLAY, XWayland on $DISPLAY"
}

# An X server of our own. It picks a free display itself and names it (-displayfd): other test
# runs on this machine start theirs at the same time, and a number chosen beforehand may be taken
# by one of them in between.
start_xvfb() {
  # -noreset: the server would start over each time its last client leaves (the check below).
  Xvfb -displayfd 3 -screen 0 "${1}x${2}x24" -nolisten tcp -noreset 3>"$out/xvfb.display" 2>>"$log" &
  pids+=($!)
  wait_for 20 test -s "$out/xvfb.display" || fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$out/xvfb.display")"
  # The number comes before the server takes connections: a client that comes at once (the
  # window manager) can find no display, as seen under a loaded test run.
  wait_for 20 sh -c 'xprop -root >/dev/null 2>&1' || fail "Xvfb on $DISPLAY does not answer"
  step "Xvfb on $DISPLAY"
}

# A session bus of our own, as a desktop session has.
start_bus() {
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$XDG_RUNTIME_DIR/bus" --print-address=1 \
    >"$out/bus.address" 2>>"$log" &
  pids+=($!)
  wait_for 10 test -s "$out/bus.address" || fail "dbus-daemon did not start"
  export DBUS_SESSION_BUS_ADDRESS="$(head -1 "$out/bus.address")"
}

# The port is the build's own, which other test runs on this machine may hold for a while: wait
# until it is free, and try again when another run took it first.
start_service() {
  user="wl_user"
  "$service" user add --data "$out/service" "$user" --toolbar-id "$user" >>"$log"
  "$service" folder add --data "$out/service" "$user" 업무 --number 12 >>"$log"
  local attempt service_pid
  for attempt in 1 2 3 4 5; do
    for _ in $(seq 600); do
      curl -s -o /dev/null "http://127.0.0.1:$port/" || break
      sleep 0.1
    done
    rm -f "$out/service.ready"
    "$service" serve --data "$out/service" --port "$port" --ready-file "$out/service.ready" >"$out/service.log" 2>&1 &
    service_pid=$!
    if wait_for 10 test -s "$out/service.ready"; then
      pids+=("$service_pid")
      return 0
    fi
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    step "port $port was taken (attempt $attempt)"
  done
  fail "torvo-service did not start (port $port busy?)"
}

# The page: four blocks of known colours filling the view, so the thumbnail's pixels say whether
# it shows this page and at which places.
page_title="토르보 색 블록"
start_page() {
  cat >"$out/www/blocks.html" <<HTML
<!DOCTYPE html>
<html lang="ko"><head><meta charset="utf-8"><title>$page_title</title>
<style>html, body { margin: 0; height: 100%; overflow: hidden; }
body { display: grid; grid-template: 1fr 1fr / 1fr 1fr; }
#a { background: #E53935; } #b { background: #43A047; } #c { background: #1E88E5; } #d { background: #FDD835; }</style></head>
<body><div id="a"></div><div id="b"></div><div id="c"></div><div id="d"></div></body></html>
HTML
  python3 -u -m http.server --bind 127.0.0.1 --directory "$out/www" 0 >"$out/http.log" 2>&1 &
  pids+=($!)
  wait_for 10 grep -q "port [0-9]" "$out/http.log" || fail "the web server did not start"
  page="http://127.0.0.1:$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$out/http.log" | head -1)/blocks.html"
}

# TorvoTool processes of this test (their HOME is ours).
tool_pids() {
  local pid
  for pid in $(pgrep -x TorvoTool); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "HOME=$HOME" && echo "$pid"
  done
}
tool_started() { [ -n "$(tool_pids)" ]; }
tool_window() { xdotool search --onlyvisible --pid "$1" --name "^Torvo$" 2>/dev/null | head -1 | grep .; }

# "#RRGGBB" of the pixel (x, y) of the picture.
pixel() { convert "$1" -format "%[hex:p{$2,$3}]" info: | cut -c1-6; }
# Whether two "RRGGBB" colours are within 24 of each other in every channel.
near() {
  python3 -c 'import sys; a, b = (bytes.fromhex(c) for c in sys.argv[1:]); sys.exit(max(abs(x - y) for x, y in zip(a, b)) > 24)' "$1" "$2"
}

# The thumbnail $1 of a picture of $2 x $3 pixels: its size by the size rule, and the four blocks
# at their places (the centre of each quarter).
check_thumbnail() {
  local file="$1" width="$2" height="$3" want tw th
  want="$(python3 -c 'import sys; w, h = map(int, sys.argv[1:]); print(*((200, h * 200 // w) if w > h else (w * 160 // h, 160)))' "$width" "$height")"
  read -r tw th <<<"$(identify -format '%w %h' "$file")"
  [ "$tw $th" = "$want" ] || bad "the thumbnail is ${tw}x${th}; a ${width}x${height} picture gives $want"
  local -A colour=([a]=E53935 [b]=43A047 [c]=1E88E5 [d]=FDD835)
  local block x y got
  for block in a b c d; do
    case "$block" in
      a) x=$((tw / 4)); y=$((th / 4)) ;;
      b) x=$((tw * 3 / 4)); y=$((th / 4)) ;;
      c) x=$((tw / 4)); y=$((th * 3 / 4)) ;;
      d) x=$((tw * 3 / 4)); y=$((th * 3 / 4)) ;;
    esac
    got="$(pixel "$file" "$x" "$y")"
    near "$got" "${colour[$block]}" || bad "the thumbnail's pixel ($x, $y) is #$got, not block $block's #${colour[$block]}"
  done
  step "thumbnail ${tw}x${th} of a ${width}x${height} picture, blocks at their places"
}

# TorvoTool's window is in front of the browser in the compositor's screenshot $1: the thumbnail
# the window shows (img.png, pixel for pixel) is there, wholly visible, and the browser's page
# (a block colour) lies around it. The compositor places windows itself, so it is looked for.
check_in_front() {
  local shot="$1" where
  convert "$shot" -depth 8 rgb:"$out/shot.rgb"
  convert "$HOME/Torvo/img.png" -depth 8 rgb:"$out/thumb.rgb"
  where="$(python3 - "$out/shot.rgb" "$(identify -format '%w' "$shot")" "$out/thumb.rgb" \
            "$(identify -format '%w %h' "$HOME/Torvo/img.png")" <<'PY'
import sys
shot, shot_w, thumb, tw, th = open(sys.argv[1], "rb").read(), int(sys.argv[2]), open(sys.argv[3], "rb").read(), *map(int, sys.argv[4].split())
rows = [thumb[y * tw * 3:(y + 1) * tw * 3] for y in range(th)]
at = shot.find(rows[0])
while at >= 0:
    y, x = divmod(at // 3, shot_w)
    if at % 3 == 0 and all(shot[((y + r) * shot_w + x) * 3:((y + r) * shot_w + x + tw) * 3] == rows[r] for r in range(th)):
        print(x, y)
        break
    at = shot.find(rows[0], at + 1)
PY
)"
  [ -n "$where" ] || { bad "the screenshot $shot does not show TorvoTool's thumbnail"; return; }
  step "TorvoTool's thumbnail shows at ($where) in $shot"
}

# Presses 저장 in TorvoTool's window $1 (process $2) and checks the service holds the page.
save_and_check() {
  local window="$1" pid="$2"
  # The headless compositor has no pointer (XWayland drops a client that moves one) and keeps
  # the keyboard with the browser, so the key goes to the window itself: space presses 저장,
  # which holds the window's focus.
  xdotool key --window "$window" space 2>>"$log" || true  # the window may go before the release
  wait_for 30 sh -c "! kill -0 $pid" || fail "TorvoTool did not end after 저장"
  "$service" image list --data "$out/service" "$user" >"$out/images.tsv"
  python3 - "$out/images.tsv" "$out/service" "$HOME/Torvo" "$page" "$page_title" <<'PY' || bad "the service does not hold the page"
import os, sys
listing, data, work, url, title = sys.argv[1:]
rows = [line.rstrip("\n").split("\t") for line in open(listing, encoding="utf-8")]
images = [dict(zip(rows[0], r)) for r in rows[1:]]
assert len(images) == 1, images
image = images[0]
assert (image["url"], image["title"]) == (url, title), image
stored = [os.path.join(root, f) for root, _, files in os.walk(data) for f in files if f.startswith(image["name"])]
assert len(stored) == 1, stored
kept = os.path.join(work, image["name"] + ".png")
assert open(stored[0], "rb").read() == open(kept, "rb").read(), (stored, kept)
print("desktops: stored", image["name"], "and kept as", kept)
PY
}

# Chromium with the Torvo extension and the identity, driven by chromium_driver.mjs; the host it
# starts runs this build's TorvoTool. Arguments: more Chromium arguments.
start_chromium() {
  local args=() a
  for a in "$@"; do args+=(--chromium-arg "$a"); done
  "$repo/toolbar/install-host.sh" --host "$host" >>"$log"
  coproc DRIVER {
    TORVO_TOOLBAR_TORVOTOOL="$tool" exec node "$repo/tests/desktops/chromium_driver.mjs" \
      --chromium "$(command -v chromium)" --extension "$repo/toolbar/extension" \
      --profile "$HOME/.config/chromium" --toolbar-id "$user" "${args[@]}" 2>>"$out/chromium.log"
  }
  pids+=("$DRIVER_PID")
}
# Firefox ESR the same way, through firefox_driver.mjs.
start_firefox() {
  "$repo/toolbar/install-host.sh" --host "$host" >>"$log"
  coproc DRIVER {
    TORVO_TOOLBAR_TORVOTOOL="$tool" exec node "$repo/tests/desktops/firefox_driver.mjs" \
      --firefox "$(command -v firefox-esr)" --extension "$repo/toolbar/extension" \
      --profile "$HOME/profile" --toolbar-id "$user" 2>>"$out/firefox.log"
  }
  pids+=("$DRIVER_PID")
}
# Sends one command to the driver and puts its answer in $answer; fails on an error.
drive() {
  echo "$*" >&"${DRIVER[1]}"
  IFS= read -r -t 90 answer <&"${DRIVER[0]}" || fail "the browser did not answer '$*' (see $out/*.log)"
  case "$answer" in *'"error"'*) fail "the browser: $answer" ;; esac
}
# Field $1 of the driver's last answer.
answered() { python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$answer" "$1"; }
