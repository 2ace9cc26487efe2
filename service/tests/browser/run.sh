#!/usr/bin/env bash
# The web page as its users meet it, in Debian's Chromium (headless, driven through the DevTools
# protocol by puppeteer-core): first TorvoTool uploads a page to a real torvo-service on the
# build's loopback port (Xvfb, openbox, a click on "저장"), then web_test.mjs signs in and finds
# that page with its thumbnail, searches, filters, edits, deletes, exports into a fresh service,
# and tries the hostile entries, a form from another site, a second user on every route, devices
# signed in through the exchange (listed, revoked) and repeated wrong passwords. Screenshots of the list, dark mode and a phone's width land in SHOTS.
# With --store postgresql both services and every administration command work on databases of a
# PostgreSQL cluster the test starts itself (scripts/lib/postgres.sh) instead of data folders.
#
#   run.sh --tool TorvoTool --service torvo-service --port 8765 --shots DIR [--store sqlite|postgresql]
set -uo pipefail

if [ -z "${TORVO_WEB_DISPLAY_READY:-}" ]; then
  export TORVO_WEB_DISPLAY_READY=1
  exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi

source "$(dirname "$0")/../../../scripts/lib/e2e.sh"
e2e_arguments "tool service port shots store" "$@"
store="${store:-sqlite}"
[ -x "$tool" ] && [ -x "$service" ] && [ -n "$port" ] && [ -n "$shots" ] && [[ "$store" =~ ^(sqlite|postgresql)$ ]] ||
  { echo "usage: $0 --tool T --service S --port P --shots DIR [--store sqlite|postgresql]" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
command -v chromium >/dev/null || { echo "web: chromium is missing (scripts/setup.sh installs it)" >&2; exit 1; }

unset QT_QPA_PLATFORM
e2e_begin
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
fail() { echo "web: FAILED: $*" >&2; import -window root "$shots/failure.png" 2>/dev/null; exit 1; }
step() { echo "web: $*"; }

# The test's own copy of puppeteer-core, as the lock file names it; no browser is downloaded.
step "npm ci"
mkdir -p "$tmp/node"
cp "$here/package.json" "$here/package-lock.json" "$here/web_test.mjs" "$here/browser.mjs" "$tmp/node/"
(cd "$tmp/node" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error) >"$tmp/npm.log" 2>&1 ||
  { cat "$tmp/npm.log" >&2; fail "npm ci"; }

# Other tests on this machine may hold the build's port for minutes, and take it again between
# our look and our start: then the service cannot listen, and we wait again.
start_service() {
  local attempt
  for attempt in 1 2 3; do
    for _ in $(seq 240); do port_free && break; sleep 1; done
    port_free || fail "port $port stays taken"
    "$service" --port "$port" "${main_store[@]}" >"$tmp/service.out" 2>"$tmp/service.log" &
    service_pid=$!
    for _ in $(seq 100); do grep -q "listening on" "$tmp/service.out" && break; kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
    grep -q "listening on" "$tmp/service.out" && { pids+=("$service_pid"); return 0; }
    kill "$service_pid" 2>/dev/null
    wait "$service_pid" 2>/dev/null
    step "the port was taken again (attempt $attempt): $(tail -1 "$tmp/service.log")"
  done
  fail "torvo-service did not start"
}

# Where the two services keep everything: data folders, or two databases of one cluster.
data="$tmp/data"
if [ "$store" = postgresql ]; then
  source "$here/../../../scripts/lib/postgres.sh"
  step "PostgreSQL"
  e2e_at_exit pg_stop
  pg_start || fail "PostgreSQL did not start"
  main_url=$(pg_database torvo) && fresh_url=$(pg_database fresh) || fail "no database"
  main_store=(--database "$main_url")
  fresh_store=(--database "$fresh_url")
  # For the checks that the deleted entry's picture is gone from the database too.
  export TORVO_DATABASE="$main_url" TORVO_PSQL="$pg_bin/psql"
else
  main_store=(--data "$data")
  fresh_store=(--data "$tmp/fresh")
fi
printf 'correct horse 7\n' >"$tmp/alice.pw"
printf 'bob password 9\n' >"$tmp/bob.pw"
"$service" user add "${main_store[@]}" alice --toolbar-id alice-toolbar --password-file "$tmp/alice.pw" >/dev/null || fail "user add"
"$service" user add "${main_store[@]}" bob --password-file "$tmp/bob.pw" >/dev/null || fail "user add"
"$service" folder add "${main_store[@]}" alice 여행 --number 3 >/dev/null || fail "folder add"
start_service

step "TorvoTool uploads a page"
ensure_window_manager || fail "no window manager"
xmessage -geometry 640x400+400+250 -buttons "" "A web page about sharpened thumbnails." &
pids+=($!)
for _ in $(seq 100); do page=$(xdotool search --onlyvisible --class xmessage 2>/dev/null | head -1) && [ -n "$page" ] && break; sleep 0.1; done
[ -n "${page:-}" ] || fail "the page window did not show"
xdotool windowactivate --sync "$page" 2>/dev/null
title="Sharpened thumbnails 시험 페이지"
url="http://example.com/torvo/sharpened"
note="$(python3 -c 'print("".join("%%%02X" % b for b in "오늘의 메모\n둘째 줄".encode("cp949")), end="")')"
"$tool" "alice-toolbar;^;$url;^;$title;^;$note" >"$tmp/tool.out" 2>"$tmp/tool.err" &
tool_pid=$!
pids+=("$tool_pid")
for _ in $(seq 300); do torvo=$(xdotool search --onlyvisible --name '^Torvo$' 2>/dev/null | head -1) && [ -n "$torvo" ] && break; sleep 0.1; done
[ -n "${torvo:-}" ] || { cat "$tmp/tool.err" >&2; fail "TorvoTool showed no window"; }
# A window mapped but not yet painted loses the click: wait for its controls' colours.
for _ in $(seq 50); do
  seen=$(import -window "$torvo" png:- 2>/dev/null | convert - -format '%[hex:p{295,17}] %k' info: 2>/dev/null)
  [[ "$seen" == "EFEFEF "* && "${seen#* }" -gt 50 ]] && break
  sleep 0.2
done
sleep 0.5
xdotool mousemove --window "$torvo" 264 164 click 1
status=""
for _ in $(seq 300); do
  case "$(ps -o stat= -p "$tool_pid" 2>/dev/null)" in
    "" | Z*) wait "$tool_pid"; status=$?; break ;;
  esac
  sleep 0.1
done
[ "$status" == "0" ] || { cat "$tmp/tool.err" >&2; fail "TorvoTool did not end after 저장 (${status:-still running})"; }
kept="$(cd "$HOME/Torvo" && ls)"
[[ "$kept" =~ ^[0-9]{14}\.png$ ]] || fail "TorvoTool kept [$kept]"
step "TorvoTool kept $kept"

# More entries for the list: a Korean title in a folder, and hostile text from a hostile page.
"$service" image add "${main_store[@]}" alice "$HOME/Torvo/$kept" --folder 3 --url "https://example.org/jeju" \
  --title "제주 여행지 안내" --note "바다와 오름" >/dev/null || fail "image add"
"$service" image add "${main_store[@]}" alice "$HOME/Torvo/$kept" --url "javascript:alert(3)" --private \
  --title "<img src=x onerror=alert(1)>" --note $'<script>alert(2)</script>\n"quoted" & \'single\'' >/dev/null || fail "image add"

"$service" --port 0 "${fresh_store[@]}" >"$tmp/fresh.out" 2>"$tmp/fresh.log" &
pids+=($!)
printf 'carol password 5\n' >"$tmp/carol.pw"
"$service" user add "${fresh_store[@]}" carol --password-file "$tmp/carol.pw" >/dev/null || fail "user add"
for _ in $(seq 100); do grep -q "listening on" "$tmp/fresh.out" && break; sleep 0.1; done
fresh_port="$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$tmp/fresh.out")"
[ -n "$fresh_port" ] || fail "the fresh torvo-service did not start"

step "Chromium"
(cd "$tmp/node" && TORVO_BASE="http://127.0.0.1:$port" TORVO_FRESH_BASE="http://127.0.0.1:$fresh_port" \
  TORVO_STORE="$store" TORVO_DATA="$data" TORVO_KEPT="$HOME/Torvo/$kept" TORVO_TITLE="$title" TORVO_URL="$url" TORVO_SHOTS="$shots" \
  TORVO_PROFILE="$tmp/profile" node web_test.mjs)
result=$?
if [ "$result" != 0 ]; then
  tail -40 "$tmp/service.log" >&2
  exit "$result"
fi
grep -q "Sanitizer\|runtime error" "$tmp/service.log" && fail "the service reported an error: $(grep -m1 'Sanitizer\|runtime error' "$tmp/service.log")"
exit 0
