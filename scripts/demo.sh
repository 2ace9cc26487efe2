#!/usr/bin/env bash
# The main job: builds the programs and runs them on this machine: torvo-image sharpens a sample
# picture; torvo-service starts on 127.0.0.1:8765 with a demo user and two Korean folders; a page
# window shows, and TorvoTool starts as the browser toolbar would start it, captures that window
# and shows its upload window with the thumbnail. Then, as a person would, the demo edits the
# title, checks "보안", picks a folder and presses "저장": the service stores the thumbnail and
# TorvoTool keeps it under the stored name and ends. Screenshots and both PNGs are listed at the
# end, and the last one is the service's web page in headless Chromium, signed in as the demo user,
# with the page just uploaded at the top of the list. Between the two, TorvoSync on a second home
# (the user's other computer) presses "Sync" and downloads that page's picture. The exit status is
# 0 only when the upload landed and the sync brought it back. Without a display everything runs on
# an X server of its own (Xvfb with openbox).
set -euo pipefail
cd "$(dirname "$0")/.."
# The waits for windows and processes (and the window manager's routines).
source scripts/lib/e2e.sh
root="$PWD"
bin="${TORVO_DEMO_BUILD:-$root/build/local}"

# The upload part, on the display in DISPLAY; $1 is the output folder.
upload_demo() {
  local out="$1" port tmp data pids=() page tool torvo
  # The port the build's programs talk to (the local preset's 8765).
  port=$(sed -n 's/^TORVO_SERVICE_HOST:STRING=127\.0\.0\.1:\([0-9]*\)$/\1/p' "$bin/CMakeCache.txt")
  port="${port:-8765}"
  tmp=$(mktemp -d)
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$tmp"' RETURN
  # TorvoTool's work folder is ~/Torvo: the demo gives it a home of its own.
  export HOME="$out/home" XDG_RUNTIME_DIR="$tmp/run"
  rm -rf "$HOME"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset QT_QPA_PLATFORM

  for _ in $(seq 300); do curl -s -o /dev/null "http://127.0.0.1:$port/" || break; sleep 0.1; done
  if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
    echo "demo: port $port is taken by another program; stop it and run the demo again" >&2
    return 1
  fi
  data="$out/service-data"
  rm -rf "$data"
  "$bin/service/torvo-service" --port "$port" --data "$data" >"$tmp/service.out" 2>"$out/service.log" &
  pids+=($!)
  for _ in $(seq 100); do grep -q "listening on" "$tmp/service.out" && break; sleep 0.1; done
  grep -q "listening on" "$tmp/service.out" || { echo "demo: torvo-service did not start" >&2; return 1; }
  printf 'demo password\n' >"$tmp/password"
  "$bin/service/torvo-service" user add --data "$data" demo --toolbar-id demo --password-file "$tmp/password" >/dev/null
  echo "demo: the web page        http://127.0.0.1:$port/  (sign in as demo, password \"demo password\")"
  "$bin/service/torvo-service" folder add --data "$data" demo 여행 --number 3 >/dev/null
  "$bin/service/torvo-service" folder add --data "$data" demo "업무 자료" --number 12 >/dev/null

  ensure_window_manager || return 1

  # The "browser": a window with a picture, in front when TorvoTool starts.
  display -immutable -title "A web page" -geometry +420+200 -resize 640x480 "$out/sample.bmp" &
  pids+=($!)
  page=$(find_window "A web page" 100) || { echo "demo: the page window did not show" >&2; return 1; }
  xdotool windowactivate --sync "$page"

  "$bin/upload/app/TorvoTool" 'demo;^;http://example.com/torvo/demo;^;Torvo 데모 페이지;^;%C7%D1%B1%DB+%B8%DE%B8%F0' \
    2>"$out/torvotool.log" &
  tool=$!
  pids+=("$tool")
  if ! torvo=$(find_window Torvo); then
    echo "demo: TorvoTool showed no window:" >&2
    cat "$out/torvotool.log" >&2
    return 1
  fi
  sleep 0.5
  import -window root "$out/torvotool.png"

  # The user: a new title, "보안" checked, the folder "업무 자료", then "저장".
  at() { xdotool mousemove --window "$torvo" "$1" "$2" click 1; sleep 0.3; }
  at 172 41
  xdotool key ctrl+a
  xdotool type --delay 30 'Torvo demo, saved'
  at 15 161
  at 150 162
  xdotool key Down Down Return
  sleep 0.3
  import -window root "$out/torvotool-before-save.png"
  at 264 164
  local status
  wait_exit "$tool" 300
  import -window root "$out/after-save.png"
  if [ "$status" != "0" ]; then
    echo "demo: the upload did not land (TorvoTool: $status):" >&2
    cat "$out/torvotool.log" >&2
    return 1
  fi
  local kept listed stored
  kept=$(cd "$HOME/Torvo" && ls)
  listed=$("$bin/service/torvo-service" image list --data "$data" demo | tail -n +2)
  stored=$(find "$data/images" -name "${kept%.png}.png" 2>/dev/null | head -1)
  if ! [[ "$kept" =~ ^[0-9]{14}\.png$ ]] || [ -z "$stored" ] || ! cmp -s "$stored" "$HOME/Torvo/$kept"; then
    echo "demo: the upload did not land: ~/Torvo holds [$kept], the service lists [$listed]" >&2
    return 1
  fi
  echo "demo: the service lists  $(echo "$listed" | cut -f1,3-4,6-8 | tr '\t' ' ')"
  echo "demo: TorvoTool window   $out/torvotool.png"
  echo "demo: before the save    $out/torvotool-before-save.png"
  echo "demo: after the save     $out/after-save.png"
  echo "demo: kept thumbnail     $HOME/Torvo/$kept ($(identify -format '%wx%h' "$HOME/Torvo/$kept"))"
  echo "demo: stored by service  $stored"

  # TorvoSync on the user's second computer (a home of its own with an empty album): "Sync"
  # downloads the page just uploaded.
  local second="$out/second-home" synced="" window
  rm -rf "$second"
  mkdir -p "$second"
  HOME="$second" "$bin/sync/app/TorvoSync" demo 2>"$out/torvosync.log" &
  local sync=$!
  pids+=("$sync")
  if ! window=$(find_window "Torvo Sync"); then
    echo "demo: TorvoSync showed no window:" >&2
    cat "$out/torvosync.log" >&2
    return 1
  fi
  xdotool mousemove --window "$window" 45 22 click 1
  for _ in $(seq 100); do [ -s "$second/Torvo/$kept" ] && cmp -s "$second/Torvo/$kept" "$HOME/Torvo/$kept" && synced=yes && break; sleep 0.1; done
  sleep 0.5
  import -window root "$out/after-sync.png"
  xdotool windowactivate --sync "$window" key alt+F4 2>/dev/null
  if [ -z "$synced" ]; then
    echo "demo: the sync did not bring $kept to the second computer's album:" >&2
    ls -la "$second/Torvo" >&2 2>/dev/null
    cat "$out/torvosync.log" >&2
    return 1
  fi
  echo "demo: synced elsewhere   $second/Torvo/$kept (the same bytes)"
  echo "demo: after the sync     $out/after-sync.png"

  # The list on the web page, as the user finds the page there.
  local node="$out/node" shown
  mkdir -p "$node"
  cp "$root/service/tests/browser/package.json" "$root/service/tests/browser/package-lock.json" \
    "$root/service/tests/browser/list_screenshot.mjs" "$node/"
  if ! (cd "$node" && npm ci --no-audit --no-fund --loglevel=error) >"$out/npm.log" 2>&1; then
    echo "demo: npm ci failed:" >&2
    cat "$out/npm.log" >&2
    return 1
  fi
  if ! shown=$(cd "$node" && node list_screenshot.mjs "http://127.0.0.1:$port" demo "demo password" "$out/web-list.png"); then
    echo "demo: the web page could not be shown" >&2
    return 1
  fi
  if ! grep -qx "Torvo demo, saved" <<<"$shown"; then
    echo "demo: the web page's list does not hold the upload: [$shown]" >&2
    return 1
  fi
  echo "demo: the web page's list $out/web-list.png"
}

if [ "${1:-}" == "--upload-demo" ]; then
  upload_demo "$2"
  exit
fi

scripts/setup.sh
cmake --preset local >/dev/null
cmake --build --preset local -j "$(nproc)"

out="${TORVO_DEMO_OUT:-$root/build/demo}"
mkdir -p "$out"
python3 scripts/make_sample.py "$out/sample.bmp"
"$bin/tools/torvo-image/torvo-image" filter 5 "$out/sample.bmp" "$out/sharpened.png"
echo "demo: sample picture  $out/sample.bmp"
echo "demo: sharpened       $out/sharpened.png"

if [ -n "${DISPLAY:-}" ]; then
  upload_demo "$out"
else
  xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" --upload-demo "$out"
fi
