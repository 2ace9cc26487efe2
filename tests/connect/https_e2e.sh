#!/usr/bin/env bash
# Connecting once, over https through a real TLS proxy: torvo-service on a loopback port of its
# own, Debian's nginx in front of it with a certificate of a CA made here, serving the service
# under the folder /torvo/. torvo-connect saves the connection only with the CA trusted and tells
# each failure apart; TorvoTool uploads and TorvoSync downloads through the proxy; with a
# connection that does not trust the CA, both say so and nothing moves. Screenshots land in the
# shots folder.
#
#   https_e2e.sh --connect torvo-connect --tool TorvoTool --sync TorvoSync --service torvo-service --shots DIR
set -uo pipefail

if [ -z "${TORVO_E2E_DISPLAY_READY:-}" ]; then
  export TORVO_E2E_DISPLAY_READY=1
  exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$@"
fi
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
source "$(dirname "$0")/../../scripts/lib/tls-proxy.sh"

e2e_arguments "connect tool sync service shots" "$@"
for program in "$connect" "$tool" "$sync" "$service"; do
  [ -x "$program" ] || { echo "usage: $0 --connect C --tool T --sync S --service SV --shots DIR" >&2; exit 2; }
done
[ -n "$shots" ] || exit 2

unset QT_QPA_PLATFORM
e2e_begin
export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/home/.config"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
work="$HOME/Torvo"
file="$XDG_CONFIG_HOME/torvo/connection"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# --- a CA, and a certificate of it for 127.0.0.1
make_test_ca "$tmp" Torvo-Test-CA || { echo "FAIL: no certificate"; exit 1; }

# --- the service on a port of its own, behind nginx (https on one port, plain http on another)
tls_port=$(free_port)
plain_port=$(free_port)
address="https://127.0.0.1:$tls_port/torvo/"
"$service" --port 0 --data "$tmp/data" --public-address "$address" \
  >"$tmp/service.out" 2>>"$tmp/service.log" &
pids+=($!)
for _ in $(seq 100); do grep -q "listening on" "$tmp/service.out" 2>/dev/null && break; sleep 0.1; done
service_port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$tmp/service.out" | head -1)
[ -n "$service_port" ] || { echo "FAIL: torvo-service did not start"; cat "$tmp/service.log"; exit 1; }
printf 'secret-1\n' >"$tmp/password"
"$service" user add --data "$tmp/data" alice --toolbar-id alice-toolbar-id --password-file "$tmp/password" >/dev/null
"$service" folder add --data "$tmp/data" alice 여행 --number 3 >/dev/null

start_nginx "$tmp" "
  server {
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $tmp/server.pem;
    ssl_certificate_key $tmp/server.key;
    client_max_body_size 16m;
    location /torvo/ {
      proxy_pass http://127.0.0.1:$service_port/;
      proxy_set_header X-Forwarded-Proto \$scheme;
      proxy_set_header Host \$http_host;
    }
    location / { return 404 \"not here\n\"; }
  }
  server {
    listen 127.0.0.1:$plain_port;
    location / { return 200 \"a plain web page\n\"; }
  }
" || exit 1
for _ in $(seq 100); do curl -s -o /dev/null --cacert "$tmp/ca.pem" "https://127.0.0.1:$tls_port/" && break; sleep 0.1; done
curl -s -o /dev/null --cacert "$tmp/ca.pem" "https://127.0.0.1:$tls_port/" || { echo "FAIL: nginx did not start"; cat "$tmp/nginx/start.log" "$tmp/nginx/error.log"; exit 1; }
closed_port=$(free_port)

# --- torvo-connect: each failure one line, a status other than 0, no file
connect_fails() {  # connect_fails NAME LINE-PART ARGUMENTS... (the ToolbarID on standard input)
  local name="$1" want="$2"
  shift 2
  rm -rf "$XDG_CONFIG_HOME"
  local out status
  out=$(printf '%s\n' "${id:-alice-toolbar-id}" | "$connect" "$@" 2>&1)
  status=$?
  [ "$status" -ne 0 ] && ok "$name: status $status" || bad "$name: status 0 ($out)"
  [[ "$out" == *"$want"* ]] && ok "$name: says \"$want\"" || bad "$name: said [$out]"
  expect "$name: one line" "$(printf '%s\n' "$out" | wc -l)" "1"
  [ ! -e "$file" ] && ok "$name: no file written" || bad "$name: a file was written"
}
connect_fails not-http "must begin with http:// or https://" "ftp://127.0.0.1:$tls_port/torvo/" --toolbar-id
connect_fails unreachable "Cannot reach 127.0.0.1:$closed_port" "http://127.0.0.1:$closed_port/" --toolbar-id
connect_fails untrusted "certificate of 127.0.0.1:$tls_port is not trusted" "$address" --toolbar-id
connect_fails plain-server "does not speak https" "https://127.0.0.1:$plain_port/" --toolbar-id
connect_fails tls-server "speaks https (TLS)" "http://127.0.0.1:$tls_port/torvo/" --toolbar-id --certificate "$tmp/ca.pem"
connect_fails not-torvo "not as a Torvo service" "https://127.0.0.1:$tls_port/elsewhere/" --toolbar-id --certificate "$tmp/ca.pem"
connect_fails not-torvo-plain "not as a Torvo service" "http://127.0.0.1:$plain_port/" --toolbar-id
id=nobody-knows-this connect_fails signed-out "signed out" "$address" --toolbar-id --certificate "$tmp/ca.pem"

# --- a ToolbarID the user has: checked and saved
out=$(printf 'alice-toolbar-id\n' | "$connect" "$address" --toolbar-id --certificate "$tmp/ca.pem" 2>&1)
expect "toolbar-id: status" "$?" "0"
[[ "$out" == "Connected to $address"* ]] && ok "toolbar-id: $out" || bad "toolbar-id said [$out]"

# --- the system's certificate authorities (a folder of hashed names; SSL_CERT_DIR names it, as
# for OpenSSL's tools) count beside the user's own certificate, and the user's beside theirs
mkdir -p "$tmp/other" "$tmp/system-with" "$tmp/system-without"
make_test_ca "$tmp/other" Other-Test-CA || { echo "FAIL: no second certificate"; exit 1; }
cp "$tmp/ca.pem" "$tmp/system-with/$(openssl x509 -hash -noout -in "$tmp/ca.pem").0"
cp "$tmp/other/ca.pem" "$tmp/system-without/$(openssl x509 -hash -noout -in "$tmp/other/ca.pem").0"
connects_with() {  # connects_with NAME SYSTEM-FOLDER [--certificate FILE]
  local name="$1" folder="$2"
  shift 2
  rm -rf "$XDG_CONFIG_HOME"
  local out
  out=$(printf 'alice-toolbar-id\n' | SSL_CERT_DIR="$folder" "$connect" "$address" --toolbar-id "$@" 2>&1)
  expect "$name: status" "$?" "0"
  [[ "$out" == "Connected to $address"* ]] && ok "$name: $out" || bad "$name said [$out]"
}
connects_with "system's CA" "$tmp/system-with"
connects_with "system's CA beside another of the user's" "$tmp/system-with" --certificate "$tmp/other/ca.pem"
connects_with "the user's CA beside the system's others" "$tmp/system-without" --certificate "$tmp/ca.pem"
rm -rf "$XDG_CONFIG_HOME"
out=$(printf 'alice-toolbar-id\n' | SSL_CERT_DIR="$tmp/system-without" "$connect" "$address" --toolbar-id 2>&1)
[[ "$out" == *"certificate of 127.0.0.1:$tls_port is not trusted"* ]] && ok "neither the system's nor the user's: not trusted" \
  || bad "neither the system's nor the user's: said [$out]"

# --- signing in with the CA: a device of its own, saved 0600, shown without the identity whole
rm -rf "$XDG_CONFIG_HOME"
out=$(printf 'secret-1\n' | "$connect" "$address" alice --certificate "$tmp/ca.pem" --device "e2e laptop" 2>&1)
expect "sign-in: status" "$?" "0"
[[ "$out" == "Connected to $address as alice (device \"e2e laptop\")"* ]] && ok "sign-in: $out" || bad "sign-in said [$out]"
expect "sign-in: the file is the user's alone" "$(stat -c %a "$file" 2>/dev/null)" "600"
device_id=$(sed -n 's/^identity = //p' "$file")
[ -n "$device_id" ] && [ "$device_id" != alice-toolbar-id ] && ok "sign-in: a ToolbarID of the device's own" || bad "sign-in: identity [$device_id]"
"$service" device list --data "$tmp/data" alice | grep -q "e2e laptop" && ok "sign-in: the service lists the device" \
  || bad "sign-in: no device listed: $("$service" device list --data "$tmp/data" alice)"
shown=$("$connect" --show)
[[ "$shown" == *"service     $address"* && "$shown" != *"$device_id"* ]] && ok "show: address, identity shortened" || bad "show: [$shown]"
cp "$file" "$tmp/good-connection"

# --- TorvoTool through the proxy: the identity comes from the connection
ensure_window_manager || exit 1
xmessage -geometry 640x400+400+250 -buttons "" "A web page in the browser." &
pids+=($!)
page=$(find_window xmessage 300) || { echo "FAIL: no page window"; exit 1; }
images() { "$service" image list --data "$tmp/data" alice | tail -n +2; }
line=';^;http://example.com/a page?q=1;^;Example page;^;%C7%D1%B1%DB+%B8%DE%B8%F0'

run_tool() {  # sets status; the window is saved with space when it comes up
  xdotool windowactivate --sync "$page" 2>/dev/null
  "$tool" "$line" >"$tmp/tool.out" 2>"$tmp/tool.err" &
  tool_pid=$!
  pids+=("$tool_pid")
}
run_tool
if torvo=$(find_window Torvo 300); then
  sleep 1
  shot 01-tool-https
  before=$(md5sum <"$work/img.png")
  xdotool windowactivate --sync "$torvo" key space
  wait_exit "$tool_pid"
  expect "tool: stored over https" "$status" "0"
  kept=$(cd "$work" && ls)
  [[ "$kept" =~ ^[0-9]{14}\.png$ ]] && ok "tool: ~/Torvo holds $kept" || bad "tool: ~/Torvo holds [$kept]"
  stored=$(find "$tmp/data/images" -name "$kept")
  expect "tool: the service stored exactly the thumbnail" "$(md5sum <"$stored")" "$before"
  expect "tool: with the user's fields" "$(images | cut -f1,3-4,6-8)" \
    "${kept%.png}	0	P	http://example.com/a page?q=1	Example page	한글 메모"
  grep -Eq "\"POST (https://127.0.0.1:$tls_port)?/torvo/imgUpload.php\\?tid=$device_id" "$tmp/nginx/access.log" && ok "tool: the upload went through the proxy's /torvo/" \
    || bad "tool: no upload in the proxy's log"
else
  bad "tool: no window"; cat "$tmp/tool.err"
fi

# --- TorvoSync through the proxy, started without an identity
rm -rf "$work"
"$sync" >"$tmp/sync.out" 2>"$tmp/sync.err" &
sync_pid=$!
pids+=("$sync_pid")
if window=$(find_window "Torvo Sync" 200); then
  sleep 0.5
  xdotool mousemove --window "$window" 45 22 click 1
  for _ in $(seq 100); do [ -n "$(ls "$work" 2>/dev/null)" ] && break; sleep 0.1; done
  sleep 1
  shot 02-sync-https
  expect "sync: downloaded the album's image" "$(ls "$work" 2>/dev/null)" "$kept"
  [ -n "${stored:-}" ] && expect "sync: the same bytes" "$(md5sum <"$work/$kept")" "$(md5sum <"$stored")"
  xdotool windowactivate --sync "$window" key alt+F4
  wait_exit "$sync_pid"
else
  bad "sync: no window"; cat "$tmp/sync.err"
fi

# --- a hand-written connection that does not trust the CA
mkdir -p "$XDG_CONFIG_HOME/torvo"
printf 'service = %s\nidentity = alice-toolbar-id\n' "$address" >"$file"
chmod 600 "$file"
count_before=$(images | wc -l)
rm -rf "$work"
run_tool
if box=$(find_window TorvoTool 300); then
  sleep 0.3
  shot 03-tool-untrusted
  grep -q "^TorvoTool: 서비스(127.0.0.1:$tls_port)의 인증서를 신뢰할 수 없습니다" "$tmp/tool.err" \
    && ok "tool: says the certificate of 127.0.0.1:$tls_port is not trusted" || bad "tool said [$(cat "$tmp/tool.err")]"
  xdotool windowactivate --sync "$box" key Return
  wait_exit "$tool_pid"
  expect "tool untrusted: ended with 1" "$status" "1"
else
  bad "tool untrusted: no message box"; cat "$tmp/tool.err"
fi
expect "tool untrusted: the work folder is clean" "$(ls -A "$work" 2>/dev/null)" ""
expect "tool untrusted: nothing uploaded" "$(images | wc -l)" "$count_before"

# The other protocol than the address says, each way: told naming the host, nothing left
tool_refused() {  # tool_refused NAME SERVICE MESSAGE-PART
  printf 'service = %s\nidentity = alice-toolbar-id\ncertificate = %s\n' "$2" "$tmp/ca.pem" >"$file"
  rm -rf "$work"
  run_tool
  if box=$(find_window TorvoTool 300); then
    sleep 0.3
    shot "$1"
    grep -q "^TorvoTool: $3" "$tmp/tool.err" && ok "$1: told" || bad "$1: said [$(cat "$tmp/tool.err")]"
    xdotool windowactivate --sync "$box" key Return
    wait_exit "$tool_pid"
    expect "$1: ended with 1" "$status" "1"
  else
    bad "$1: no message box"; cat "$tmp/tool.err"
  fi
  expect "$1: the work folder is clean" "$(ls -A "$work" 2>/dev/null)" ""
}
tool_refused 05-tool-https-to-plain "https://127.0.0.1:$plain_port/" "서비스(127.0.0.1:$plain_port)가 https(TLS)로 응답하지 않습니다"
tool_refused 06-tool-http-to-tls "http://127.0.0.1:$tls_port/torvo/" "서비스(127.0.0.1:$tls_port)가 https(TLS)로만 응답합니다"
expect "refused: nothing uploaded" "$(images | wc -l)" "$count_before"

# --- the system's authorities still count when the connection names a certificate of its own:
# TorvoTool with a connection whose certificate is another CA's, on a system whose certificate
# folder holds this server's CA (swapped in, in a mount namespace of the tool's own: root only)
if [ "$(id -u)" = 0 ] && unshare --mount true 2>/dev/null; then
  printf 'service = %s\nidentity = alice-toolbar-id\ncertificate = %s\n' "$address" "$tmp/other/ca.pem" >"$file"
  rm -rf "$work"
  xdotool windowactivate --sync "$page" 2>/dev/null
  unshare --mount sh -c 'mount --bind "$1" /etc/ssl/certs && exec "$2" "$3"' sh "$tmp/system-with" "$tool" "$line" \
    >"$tmp/tool.out" 2>"$tmp/tool.err" &
  tool_pid=$!
  pids+=("$tool_pid")
  if torvo=$(find_window Torvo 300); then
    xdotool windowactivate --sync "$torvo" key space
    wait_exit "$tool_pid"
    expect "tool, the system's CA beside the user's: stored" "$status" "0"
    expect "tool, the system's CA beside the user's: one image more" "$(images | wc -l)" "$((count_before + 1))"
  else
    bad "tool, the system's CA beside the user's: no window"; cat "$tmp/tool.err"
  fi
  count_before=$(images | wc -l)
  rm -rf "$work"
else
  echo "skip: the system's CA beside the user's in TorvoTool needs root, for a mount namespace"
fi
printf 'service = %s\nidentity = alice-toolbar-id\n' "$address" >"$file"

"$sync" >"$tmp/sync.out" 2>"$tmp/sync.err" &
sync_pid=$!
pids+=("$sync_pid")
if window=$(find_window "Torvo Sync" 200); then
  sleep 0.5
  xdotool mousemove --window "$window" 45 22 click 1
  if box=$(find_window TorvoSync 200); then
    sleep 0.3
    shot 04-sync-untrusted
    grep -q "^TorvoSync: The certificate of 127.0.0.1:$tls_port is not trusted: nothing was downloaded" "$tmp/sync.err" \
      && ok "sync: says the certificate is not trusted" || bad "sync said [$(cat "$tmp/sync.err")]"
    xdotool windowactivate --sync "$box" key Return
  else
    bad "sync untrusted: no message box"; cat "$tmp/sync.err"
  fi
  expect "sync untrusted: nothing downloaded" "$(ls -A "$work" 2>/dev/null)" ""
  xdotool windowactivate --sync "$window" key alt+F4
  wait_exit "$sync_pid"
else
  bad "sync untrusted: no window"; cat "$tmp/sync.err"
fi

# --- forget: the device is signed out at the service and the file goes; its ToolbarID then reads
# as signed out
cp "$tmp/good-connection" "$file"
out=$("$connect" --forget 2>&1)
expect "forget: status" "$?" "0"
[[ "$out" == *"signed this device out"* ]] && ok "forget: $out" || bad "forget said [$out]"
[ ! -e "$file" ] && ok "forget: the file is gone" || bad "forget: the file stays"
id="$device_id" connect_fails revoked "signed out or was revoked" "$address" --toolbar-id --certificate "$tmp/ca.pem"

# --- wrong passwords: each told; past the free ones the service slows them down
for n in 1 2 3; do
  id=wrong-password connect_fails "wrong-password-$n" "Wrong name or password for 127.0.0.1:$tls_port" "$address" alice --certificate "$tmp/ca.pem"
done
id=secret-1 connect_fails slowed "Too many wrong passwords: try again in" "$address" alice --certificate "$tmp/ca.pem"

echo "screenshots in $shots"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
