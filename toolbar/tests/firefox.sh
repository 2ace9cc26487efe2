#!/usr/bin/env bash
# The extension and the host in Firefox ESR, under Xvfb and openbox: the extension is side-loaded
# into a fresh profile (unsigned add-ons are allowed there), the host registered for the user. The
# shortcut without an identity opens the options page; with one, on a page with a selected Korean
# sentence, the host starts a stand-in TorvoTool, which records the command line it got. (The
# whole road with the real TorvoTool is e2e.sh, in Chromium.)
#
#   toolbar/tests/firefox.sh [BUILD_DIR]     (default build/local; needs torvo-toolbar-host)
#
# Screenshots and logs go to $TORVO_E2E_OUT (default BUILD_DIR/toolbar-firefox). Installs
# firefox-esr from Debian when it is missing. Exits 0 when every check passed.
set -euo pipefail

repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$repo/build/local}" && pwd)"
out="${TORVO_E2E_OUT:-$build/toolbar-firefox}"

if [ -z "${TORVO_E2E_INNER:-}" ]; then
  for tool in xvfb-run Xvfb openbox xdotool import python3 zip; do
    command -v "$tool" >/dev/null || { echo "firefox: $tool is missing" >&2; exit 1; }
  done
  if ! command -v firefox-esr >/dev/null; then
    echo "firefox: installing firefox-esr"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq firefox-esr >/dev/null
  fi
  rm -rf "$out"
  mkdir -p "$out"
  exec env TORVO_E2E_INNER=1 TORVO_E2E_OUT="$out" \
    xvfb-run -a -s "-screen 0 1280x900x24 -nolisten tcp" "$0" "$build"
fi

host="$build/toolbar/host/torvo-toolbar-host"
[ -x "$host" ] || { echo "firefox: $host is not built" >&2; exit 1; }

export HOME="$out/home"
profile="$HOME/profile"
mkdir -p "$out/www" "$profile/extensions"
log="$out/firefox.log"
: >"$log"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

step() { echo "firefox: $*" | tee -a "$log"; }
fail() { echo "firefox: FAILED: $*" | tee -a "$log" >&2; shot failure; exit 1; }
shot() { import -window root "$out/$1.png"; step "screenshot $out/$1.png"; }
# The first visible window whose name matches; xdotool fails when a window vanishes mid-search.
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 | grep .; }
wait_for() {
  local seconds="$1"; shift
  for _ in $(seq $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

user="ff_user"
title="토르보 시험 페이지"
sentence="파이어폭스에서 고른 문장: 50% 할인!"

openbox >"$out/openbox.log" 2>&1 &
pids+=($!)
wait_for 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start"

cat >"$out/www/page.html" <<EOF
<!DOCTYPE html>
<html lang="ko"><head><meta charset="utf-8"><title>$title</title>
<style>body { margin: 0; height: 100vh; display: flex; align-items: center; justify-content: center;
              font: 32px sans-serif; background: #FFF8E1; }</style></head>
<body><p>$sentence</p></body></html>
EOF
python3 -u -m http.server --bind 127.0.0.1 --directory "$out/www" 0 >"$out/http.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q "port [0-9]" "$out/http.log" || fail "the web server did not start"
page="http://127.0.0.1:$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$out/http.log" | head -1)/page.html"

"$repo/toolbar/install-host.sh" --host "$host" >>"$log"
(cd "$repo/toolbar/extension" && zip -qr "$profile/extensions/toolbar@torvo.example.xpi" .)
cat >"$profile/user.js" <<'EOF'
user_pref("xpinstall.signatures.required", false);
user_pref("extensions.autoDisableScopes", 0);
user_pref("extensions.enabledScopes", 15);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("app.update.enabled", false);
EOF
stand_in="$out/TorvoTool"
printf '#!/bin/sh\nprintf "%%s" "$1" > "%s/command-line"\n' "$out" >"$stand_in"
chmod +x "$stand_in"

step "Firefox with the extension"
TORVO_TOOLBAR_TORVOTOOL="$stand_in" firefox-esr --no-remote --profile "$profile" "$page" >"$out/firefox-esr.log" 2>&1 &
pids+=($!)
wait_for 60 find_window "$title" || fail "no Firefox window with the page"
browser="$(find_window "$title")"
sleep 3

step "shortcut without an identity: the options page opens"
xdotool key alt+shift+k
wait_for 15 sh -c "xdotool getactivewindow getwindowname | grep -q '^Torvo'" || fail "the options page did not open"
sleep 1
# The address has the focus; the build's own service needs only the ToolbarID, three fields on.
xdotool key Tab Tab Tab
xdotool type --delay 40 "$user"
xdotool key Return
sleep 1
shot 1-identity-saved

step "select the sentence and press the shortcut"
xdotool key alt+1
wait_for 10 sh -c "xdotool getactivewindow getwindowname | grep -q '$title'" || fail "the page's tab is not in front"
eval "$(xdotool getwindowgeometry --shell "$browser")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2 + 40)) click --repeat 3 --delay 120 1
sleep 1
xdotool key alt+shift+k
wait_for 15 test -s "$out/command-line" || fail "the host did not start the stand-in TorvoTool"
shot 2-sent

expected="$(python3 -c '
import sys
user, url, title, note = sys.argv[1:]
note = note.replace("%", "\uff05")  # the ASCII percent sign travels as the full-width one
print(user + ";^;" + url + ";^;" + title + ";^;" + "".join("%%%02X" % b for b in note.encode("cp949")), end="")
' "$user" "$page" "$title" "$sentence")"
actual="$(cat "$out/command-line")"
[ "$actual" = "$expected" ] || fail "the command line is '$actual', expected '$expected'"
step "command line: $actual"
step "passed"
