#!/usr/bin/env bash
# The shared album as a visitor meets it, in Debian's Chromium (headless, puppeteer-core): TorvoTool
# uploads two pages to a real torvo-service on the build's loopback port (Xvfb, openbox), one of
# them with its private box ticked; a few more entries are added beside them, hostile and private
# ones among them. album_test.mjs then turns sharing on and tries every public road, reads the
# feeds with Debian's feedparser (check_feed.py), fetches an entry's page as a chat program's link
# preview would, and takes the screenshots of the list, the wall and an entry's page (light, dark,
# a phone's width) into SHOTS.
#
#   album.sh --tool TorvoTool --service torvo-service --port 8765 --shots DIR
set -uo pipefail

if [ -z "${TORVO_WEB_DISPLAY_READY:-}" ]; then
  export TORVO_WEB_DISPLAY_READY=1
  exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi

source "$(dirname "$0")/../../../scripts/lib/e2e.sh"
e2e_arguments "tool service port shots" "$@"
[ -x "$tool" ] && [ -x "$service" ] && [ -n "$port" ] && [ -n "$shots" ] ||
  { echo "usage: $0 --tool T --service S --port P --shots DIR" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
command -v chromium >/dev/null || { echo "album: chromium is missing (scripts/setup.sh installs it)" >&2; exit 1; }
/usr/bin/python3 -c "import feedparser" 2>/dev/null || { echo "album: python3-feedparser is missing (scripts/setup.sh installs it)" >&2; exit 1; }

unset QT_QPA_PLATFORM
e2e_begin
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
fail() { echo "album: FAILED: $*" >&2; import -window root "$shots/failure.png" 2>/dev/null; exit 1; }
step() { echo "album: $*"; }

step "npm ci"
mkdir -p "$tmp/node"
cp "$here/package.json" "$here/package-lock.json" "$here/album_test.mjs" "$here/browser.mjs" "$here/check_feed.py" "$tmp/node/"
(cd "$tmp/node" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error) >"$tmp/npm.log" 2>&1 ||
  { cat "$tmp/npm.log" >&2; fail "npm ci"; }

# Other tests on this machine may hold the build's port for minutes, and take it again between
# our look and our start: then the service cannot listen, and we wait again.
start_service() {
  local attempt
  for attempt in 1 2 3; do
    for _ in $(seq 240); do port_free && break; sleep 1; done
    port_free || fail "port $port stays taken"
    "$service" --port "$port" --data "$data" >"$tmp/service.out" 2>"$tmp/service.log" &
    service_pid=$!
    for _ in $(seq 100); do grep -q "listening on" "$tmp/service.out" && break; kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
    grep -q "listening on" "$tmp/service.out" && { pids+=("$service_pid"); return 0; }
    kill "$service_pid" 2>/dev/null
    wait "$service_pid" 2>/dev/null
    step "the port was taken again (attempt $attempt): $(tail -1 "$tmp/service.log")"
  done
  fail "torvo-service did not start"
}

data="$tmp/data"
printf 'correct horse 7\n' >"$tmp/alice.pw"
"$service" user add --data "$data" alice --toolbar-id alice-toolbar --password-file "$tmp/alice.pw" >/dev/null || fail "user add"
"$service" user add --data "$data" bob --toolbar-id bob-toolbar >/dev/null || fail "user add"
"$service" folder add --data "$data" alice 여행 --number 3 >/dev/null || fail "folder add"
start_service
ensure_window_manager || fail "no window manager"

# upload TITLE URL TEXT PRIVATE: TorvoTool over a window showing TEXT; PRIVATE "yes" ticks 보안.
# Prints the name of the file it kept.
upload() {
  local title="$1" url="$2" text="$3" private="$4" before page torvo status tool_pid
  before="$(ls "$HOME/Torvo" 2>/dev/null)"
  xmessage -geometry 640x400+400+250 -buttons "" "$text" &
  local message=$!
  for _ in $(seq 100); do page=$(xdotool search --onlyvisible --class xmessage 2>/dev/null | head -1) && [ -n "$page" ] && break; sleep 0.1; done
  [ -n "${page:-}" ] || fail "the page window did not show"
  xdotool windowactivate --sync "$page" 2>/dev/null
  "$tool" "alice-toolbar;^;$url;^;$title;^;" >"$tmp/tool.out" 2>"$tmp/tool.err" &
  tool_pid=$!
  for _ in $(seq 300); do torvo=$(xdotool search --onlyvisible --name '^Torvo$' 2>/dev/null | head -1) && [ -n "$torvo" ] && break; sleep 0.1; done
  [ -n "${torvo:-}" ] || { cat "$tmp/tool.err" >&2; fail "TorvoTool showed no window"; }
  # A window mapped but not yet painted loses the click: wait for its controls' colours.
  for _ in $(seq 50); do
    seen=$(import -window "$torvo" png:- 2>/dev/null | convert - -format '%[hex:p{295,17}] %k' info: 2>/dev/null)
    [[ "$seen" == "EFEFEF "* && "${seen#* }" -gt 50 ]] && break
    sleep 0.2
  done
  sleep 0.5
  if [ "$private" == yes ]; then
    xdotool mousemove --window "$torvo" 20 161 click 1
    sleep 0.3
  fi
  xdotool mousemove --window "$torvo" 264 164 click 1
  status=""
  for _ in $(seq 300); do
    case "$(ps -o stat= -p "$tool_pid" 2>/dev/null)" in
      "" | Z*) wait "$tool_pid"; status=$?; break ;;
    esac
    sleep 0.1
  done
  kill "$message" 2>/dev/null
  wait "$message" 2>/dev/null
  [ "$status" == "0" ] || { cat "$tmp/tool.err" >&2; fail "TorvoTool did not end after 저장 (${status:-still running})"; }
  comm -13 <(echo "$before") <(ls "$HOME/Torvo")
}

step "TorvoTool uploads a public page and a private one"
public_kept="$(upload "Sharpened thumbnails 공개 페이지" "http://example.com/torvo/public" "A public page about sharpened thumbnails." no)"
[[ "$public_kept" =~ ^[0-9]{14}\.png$ ]] || fail "TorvoTool kept [$public_kept]"
private_kept="$(upload "Quokka diary 비밀" "http://example.com/torvo/private" "A private page about quokkas." yes)"
[[ "$private_kept" =~ ^[0-9]{14}\.png$ ]] || fail "TorvoTool kept [$private_kept] for the private page"
listed="$("$service" image list --data "$data" alice)"
step "stored: $(echo "$listed" | tr '\t' ' ')"

# Beside them: a Korean title in a folder, a hostile page (public), a private one in the folder,
# and bob's public entry, whose album is never shared.
"$service" image add --data "$data" alice "$HOME/Torvo/$public_kept" --folder 3 --url "https://example.org/jeju" \
  --title "제주 여행지 안내" --note "바다와 오름" >/dev/null || fail "image add"
"$service" image add --data "$data" alice "$HOME/Torvo/$public_kept" --url "javascript:alert(3)" \
  --title "<img src=x onerror=alert(1)> & <b>bold</b>" --note $'<script>alert(2)</script>\n"quoted" & \'single\'' >/dev/null || fail "image add"
"$service" image add --data "$data" alice "$HOME/Torvo/$private_kept" --folder 3 --private --url "https://example.org/secret-trip" \
  --title "Secret trip" --note "wombatland only here" >/dev/null || fail "image add"
"$service" image add --data "$data" bob "$HOME/Torvo/$public_kept" --url "https://example.net/bob" \
  --title "Bob's page" --note "bob words" >/dev/null || fail "image add"

step "Chromium"
(cd "$tmp/node" && TORVO_BASE="http://127.0.0.1:$port" TORVO_PUBLIC_PNG="$HOME/Torvo/$public_kept" \
  TORVO_PRIVATE_PNG="$HOME/Torvo/$private_kept" TORVO_SHOTS="$shots" TORVO_PROFILE="$tmp/profile" node album_test.mjs)
result=$?
if [ "$result" != 0 ]; then
  tail -40 "$tmp/service.log" >&2
  exit "$result"
fi
grep -q "Sanitizer\|runtime error" "$tmp/service.log" && fail "the service reported an error: $(grep -m1 'Sanitizer\|runtime error' "$tmp/service.log")"
exit 0
