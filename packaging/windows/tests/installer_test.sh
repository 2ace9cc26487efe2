#!/usr/bin/env bash
# The installer under Wine, as a person would use it, in the test run's Wine prefix:
#   installer_test.sh PREFIX SETUP.exe STAND_IN_TOOL.exe SOURCE_DIR VERSION [SERVICE PORT PAGE.exe]
# `TorvoSetup.exe /S` installs; every browser's key names a manifest whose path is the installed
# host and whose allowed origin or extension is the extension's own; Apps & features has its
# entry; the installed host, fed a framed request as the browser would, starts the installed
# TorvoTool.exe with the exact command line (a stand-in that writes it down takes the installed
# program's place for that one start); with a Linux torvo-service, its port and the test page
# window, the installed host then starts the real TorvoTool.exe in front of the page, handing over
# a picture of the page as the browser would, and "저장" stores the page with a thumbnail of that
# picture in the service; the uninstaller (/S) leaves no file in the folder and no Torvo
# key.
set -euo pipefail
prefix="$1" setup="$2" stand_in="$3" source="$4" version="$5"
service="${6:-}" port="${7:-}" page="${8:-}"
here="$(cd "$(dirname "$0")" && pwd)"
source "$source/scripts/lib/window-manager.sh"
run() { "$source/scripts/wine-run.sh" "$prefix" "$@"; }
fail() { echo "installer_test: $*" >&2; exit 1; }
export WINEPREFIX="$prefix" WINEDEBUG=-all
unset TORVO_TOOLBAR_TORVOTOOL TORVO_PICTURE_HANDLE
work="$(mktemp -d)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT

# The value of a registry entry ("" for the key's default), or nothing when there is none.
reg_value() {
  local key="$1" name="$2" out
  if [ -z "$name" ]; then out="$(wine reg query "$key" /ve 2>/dev/null)" || return 1
  else out="$(wine reg query "$key" /v "$name" 2>/dev/null)" || return 1; fi
  printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^ *[^ ].*  *REG_[A-Z_]*  *//p' | head -1
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }

run "$setup" /S </dev/null >/dev/null 2>&1 || fail "TorvoSetup.exe /S failed"
install_win='C:\users\'"$(id -un)"'\AppData\Local\Programs\Torvo'
install="$(winepath -u "$install_win" 2>/dev/null | tr -d '\r')"
install="${install%/}"
for file in torvo-toolbar-host.exe torvo-image.exe torvo-connect.exe FreeImage.dll uninstall.exe \
            torvo.toolbar.chromium.json torvo.toolbar.firefox.json; do
  [ -f "$install/$file" ] || fail "$file is not in $install_win"
done

# Torvo Sync in the Start menu, where the build has it.
shortcut="$(winepath -u 'C:\users\'"$(id -un)"'\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\Torvo Sync.lnk' | tr -d '\r')"
if [ -f "$install/TorvoSync.exe" ]; then
  [ -f "$shortcut" ] || fail "no Start-menu entry for Torvo Sync"
fi

# The extension's own ids: Chromium's from the key in its manifest, Firefox's from its gecko id.
read -r chromium_origin firefox_id < <(python3 "$here/extension_ids.py" "$source/toolbar/extension/manifest.json")
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvo'
host_keys=('HKCU\Software\Google\Chrome\NativeMessagingHosts\torvo.toolbar'
           'HKCU\Software\Microsoft\Edge\NativeMessagingHosts\torvo.toolbar'
           'HKCU\Software\Chromium\NativeMessagingHosts\torvo.toolbar'
           'HKCU\Software\Mozilla\NativeMessagingHosts\torvo.toolbar')
for key in "${host_keys[@]}"; do
  manifest_win="$(reg_value "$key" "")" || fail "no key $key"
  manifest="$(winepath -u "$manifest_win" | tr -d '\r')"
  [ -f "$manifest" ] || fail "$key names $manifest_win, which is not there"
  case "$key" in *Mozilla*) field=allowed_extensions want="$firefox_id" ;; *) field=allowed_origins want="$chromium_origin" ;; esac
  python3 - "$manifest" "$install_win"'\torvo-toolbar-host.exe' "$field" "$want" <<'PY' || fail "$key: its manifest is wrong"
import json, sys
manifest = json.load(open(sys.argv[1], encoding="utf-8"))
expected = {"name": "torvo.toolbar", "path": sys.argv[2], "type": "stdio", sys.argv[3]: [sys.argv[4]]}
for name, value in expected.items():
    if manifest.get(name) != value:
        sys.exit(f"{sys.argv[1]}: {name} is {manifest.get(name)!r}, not {value!r}")
PY
done
declare -A entry=([DisplayName]=Torvo [DisplayVersion]="$version" [InstallLocation]="$install_win"
                  [UninstallString]="\"$install_win\\uninstall.exe\""
                  [QuietUninstallString]="\"$install_win\\uninstall.exe\" /S" [NoModify]=0x1 [NoRepair]=0x1)
for name in "${!entry[@]}"; do
  got="$(reg_value "$uninstall_key" "$name")" || fail "Apps & features lacks $name"
  [ "$got" = "${entry[$name]}" ] || fail "Apps & features: $name is '$got', not '${entry[$name]}'"
done

# The host as the browser starts it: the origin as its argument, one framed request (JSON given
# as Python's literal) on its input; it must answer {"ok":true}.
ask_host() {  # ask_host REQUEST
  python3 - "$work/request" "$1" <<'PY'
import ast, json, struct, sys
body = json.dumps(ast.literal_eval(sys.argv[2]), ensure_ascii=False).encode("utf-8")
open(sys.argv[1], "wb").write(struct.pack("<I", len(body)) + body)
PY
  run "$install/torvo-toolbar-host.exe" "$chromium_origin" \
    <"$work/request" >"$work/answer"
  python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.exit(0 if d==b"\x0b\x00\x00\x00{\"ok\":true}" else "answer: %r" % d)' \
    "$work/answer" || fail "the host did not answer {\"ok\":true}"
}

# The exact command line, from a stand-in in the installed program's place for one start.
real_tool=""
if [ -f "$install/TorvoTool.exe" ]; then mv "$install/TorvoTool.exe" "$work/TorvoTool.exe"; real_tool=1; fi
cp "$stand_in" "$install/TorvoTool.exe"
report="$work/report"
TORVO_STAND_IN_REPORT="$(winepath -w "$report" | tr -d '\r')" \
  ask_host '{"toolbarId": "홍길동", "url": "https://a.example/x  y", "title": "it\x27s \"quoted\" C:\\dir\\", "note": "메모 50%"}'
for _ in $(seq 100); do [ -f "$report" ] && break; sleep 0.1; done
[ -f "$report" ] || fail "the installed TorvoTool.exe was not started"
want="\"$install_win\\TorvoTool.exe\" 홍길동;^;https://a.example/x  y;^;it's \"quoted\" C:\\dir\\;^;%B8%DE%B8%F0%20%35%30%A3%A5"
got="$(head -1 "$report")"
[ "$got" = "$want" ] || fail "TorvoTool.exe's command line is [$got], not [$want]"
sed -n 4p "$report" | grep -qx "no standard handles" || fail "TorvoTool.exe got the browser's pipes"
for _ in $(seq 50); do rm -f "$install/TorvoTool.exe" 2>/dev/null && break; sleep 0.1; done
[ -z "$real_tool" ] || mv "$work/TorvoTool.exe" "$install/TorvoTool.exe"
echo "installer_test: the installed host starts the installed TorvoTool.exe with the exact command line"

# "저장" through the installed programs, into the service on loopback.
if [ -n "$real_tool" ] && [ -n "$service" ]; then
  [ -x "$service" ] || fail "no Linux torvo-service at $service (build it in the local preset)"
  ensure_window_manager || exit 1
  # Another test run on this machine may hold the port for a while: wait for it, up to a minute.
  for _ in $(seq 600); do curl -s -o /dev/null "http://127.0.0.1:$port/" || break; sleep 0.1; done
  data="$work/data"
  "$service" user add --data "$data" alice --toolbar-id alice >/dev/null
  "$service" --port "$port" --data "$data" --ready-file "$work/ready" >/dev/null 2>"$work/service.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.1; done
  [ -s "$work/ready" ] || fail "torvo-service did not start on port $port: $(tail -2 "$work/service.log")"
  run "$page" >/dev/null 2>&1 &
  pids+=($!)
  window() { for _ in $(seq 200); do xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 | grep . && return 0; sleep 0.1; done; return 1; }
  window page >/dev/null || fail "no page window"
  sleep 0.5
  # The browser's own picture of the page, handed over by the host: 600 x 300 of two colours, so
  # the thumbnail (200 x 100 by the size rule) cannot be mistaken for the page window in front.
  convert -size 300x300 xc:'#E040E0' -size 300x300 xc:'#20C0C0' +append "$work/picture.png"
  picture="data:image/png;base64,$(base64 -w0 "$work/picture.png")"
  ask_host '{"toolbarId": "alice", "url": "http://example.com/installed", "title": "설치한 Torvo", "note": "설치 메모", "picture": "'"$picture"'"}'
  torvo="$(window Torvo)" || fail "the installed host started no TorvoTool window"
  sleep 1
  import -window root "$(dirname "$setup")/installer-test-torvotool.png"  # to look at
  # The save button holds the focus in TorvoTool's window.
  timeout 20 xdotool windowactivate --sync "$torvo" key Return || fail "TorvoTool's window could not be given the focus"
  for _ in $(seq 200); do xdotool search --onlyvisible --name '^Torvo$' >/dev/null 2>&1 || break; sleep 0.1; done
  stored="$("$service" image list --data "$data" alice | tail -n +2 | cut -f 6-)"
  [ "$stored" = "$(printf 'http://example.com/installed\t설치한 Torvo\t설치 메모')" ] ||
    fail "the service holds [$stored] after 저장, not the page"
  name="$("$service" image list --data "$data" alice | sed -n 2p | cut -f 1)"
  thumbnail="$(find "$data" -type f -name "$name*" | head -1)"
  [ -n "$thumbnail" ] || fail "the service holds no picture named $name"
  [ "$(identify -format '%wx%h' "$thumbnail")" = 200x100 ] ||
    fail "the stored thumbnail is $(identify -format '%wx%h' "$thumbnail"), not the 200x100 of the handed-over picture"
  for at in "50,50 E040E0" "150,50 20C0C0"; do
    read -r xy want <<<"$at"
    got="$(convert "$thumbnail" -format "%[hex:p{$xy}]" info: | cut -c1-6)"
    python3 -c 'import sys; a, b = (bytes.fromhex(c) for c in sys.argv[1:]); sys.exit(max(abs(x - y) for x, y in zip(a, b)) > 24)' \
      "$got" "$want" || fail "the stored thumbnail's pixel ($xy) is #$got, not the handed-over picture's #$want"
  done
  echo "installer_test: 저장 in the installed TorvoTool.exe stored the page, with the browser's picture, in torvo-service"
fi

# The uninstaller copies itself away and returns at once: wait for the folder to go. The copy
# lives on after the script under Wine: it gets none of the test's output, or the test would not
# end until it does.
run "$install/uninstall.exe" /S </dev/null >/dev/null 2>&1
for _ in $(seq 150); do [ -e "$install" ] || break; sleep 0.2; done
[ ! -e "$install" ] || fail "left in the install folder: $(cd "$install" && ls -A | tr '\n' ' ')"
[ ! -e "$shortcut" ] || fail "the Start-menu entry for Torvo Sync is still there"
for key in "${host_keys[@]}" "$uninstall_key" 'HKCU\Software\Chromium' 'HKCU\Software\Google'; do
  if key_exists "$key"; then fail "the key $key is still there"; fi
done
echo "installer_test: installed, registered, started TorvoTool.exe and uninstalled cleanly"
