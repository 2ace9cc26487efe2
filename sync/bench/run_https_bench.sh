#!/usr/bin/env bash
# https against http through the same proxy (Debian's nginx, TLS with a CA made here): the sync
# of an album with no image present, an upload request as TorvoTool sends it, and torvo-connect's
# time to its answer. Two services on one data folder give the two image bases.
#   sync/bench/run_https_bench.sh [BUILD_DIR] [IMAGES]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build/local}" && pwd)"
count="${2:-300}"
service="$build/service/torvo-service"
bench="$build/sync/bench/sync_bench"
connect="$build/connect/torvo-connect"
for f in "$service" "$bench" "$connect"; do [ -x "$f" ] || { echo "missing $f: build torvo-service, sync_bench and torvo-connect" >&2; exit 1; }; done
source "$here/../../scripts/lib/tls-proxy.sh"

work="$(mktemp -d /tmp/torvo-https-bench.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

make_test_ca "$work" Bench-CA

id=bench
"$service" user add --data "$work/data" "$id" --toolbar-id "$id" >/dev/null
python3 "$here/make_pngs.py" "$work/png" "$count"
for f in "$work"/png/*.png; do
  "$service" image add --data "$work/data" "$id" "$f" --name "$(basename "$f" .png)" >/dev/null
done
tls=$(free_port)
plain=$(free_port)
start_service() {  # start_service NAME IMAGE_BASE: the port lands in $work/NAME.port
  "$service" serve --data "$work/data" --port 0 --ready-file "$work/$1.ready" --image-base "$2" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/$1.ready" ] && break; sleep 0.05; done
  sed 's/.*://' "$work/$1.ready" >"$work/$1.port"
}
start_service http "http://127.0.0.1:$plain/torvo"
start_service https "https://127.0.0.1:$tls/torvo"
http_service=$(cat "$work/http.port")
https_service=$(cat "$work/https.port")

start_nginx "$work" "
  server {
    listen 127.0.0.1:$tls ssl;
    ssl_certificate $work/server.pem;
    ssl_certificate_key $work/server.key;
    location /torvo/ { proxy_pass http://127.0.0.1:$https_service/; }
  }
  server {
    listen 127.0.0.1:$plain;
    location /torvo/ { proxy_pass http://127.0.0.1:$http_service/; }
  }
" off
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$plain/torvo/" && break; sleep 0.1; done

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

# --- the sync, rounds taken in turn
http_runs=() https_runs=()
for run in 1 2 3; do
  for scheme in http https; do
    if [ $scheme = http ]; then url="http://127.0.0.1:$plain/torvo/"; ca=""; else url="https://127.0.0.1:$tls/torvo/"; ca="$work/ca.pem"; fi
    TORVO_BENCH_URL="$url" TORVO_BENCH_CA="$ca" TORVO_BENCH_ID="$id" TORVO_BENCH_DIR="$work/sync" TORVO_BENCH_ROUNDS=1 \
      "$bench" --benchmark_filter=SyncNonePresent --benchmark_format=json >"$work/round.json"
    ms=$(python3 -c 'import json,sys; b=json.load(open(sys.argv[1]))["benchmarks"][0]; assert not b.get("error_occurred"), b.get("error_message"); print(int(b["real_time"]))' "$work/round.json")
    if [ $scheme = http ]; then http_runs+=("$ms"); else https_runs+=("$ms"); fi
  done
done
echo "bench: sync of $count images, none present: http $(median "${http_runs[@]}") ms, https $(median "${https_runs[@]}") ms (medians of ${http_runs[*]} / ${https_runs[*]})"

# --- the upload request, byte for byte as TorvoTool sends it, a new connection each time
python3 - "$plain" "$tls" "$work/ca.pem" "$work/png/0000.png" <<'PY'
import socket, ssl, sys, time, re, statistics
plain, tls, ca, png = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], open(sys.argv[4], "rb").read()
boundary = b"7d4b2315b01da"
head = (b"--" + boundary + b"\r\nContent-Disposition:name=\"MAX_FILE_SIZE\"\r\n\r\n\r\n--" + boundary +
        b"\r\nContent-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
        b"Content-Type:image/pjpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n")
tail = b"\r\n--" + boundary + b"\r\n"
context = ssl.create_default_context(cafile=ca)
def upload(scheme, port):
    host = b"127.0.0.1:%d" % port
    request = (b"POST " + scheme + b"://" + host + b"/torvo/imgUpload.php?tid=bench&url=x&title=t&note=&public=P&folder=0 HTTP/1.1\r\n"
               b"Content-Type:multipart/form-data;boundary=" + boundary + b"\r\nHost:" + host + b"\r\nContent-Length:" +
               str(len(head) + len(png) + len(tail)).encode() + b"\r\n\r\n" + head + png + tail)
    start = time.perf_counter()
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    if scheme == b"https":
        s = context.wrap_socket(s, server_hostname="127.0.0.1")
    s.sendall(request)
    reply = b""
    while not re.search(rb"\d{14}\.png", reply):
        chunk = s.recv(65536)
        if not chunk:
            break
        reply += chunk
    s.close()
    assert re.search(rb"\d{14}\.png", reply), reply[-200:]
    return (time.perf_counter() - start) * 1000
runs = {"http": [], "https": []}
for _ in range(20):
    runs["http"].append(upload(b"http", plain))
    runs["https"].append(upload(b"https", tls))
print("bench: upload of %d bytes: http %.1f ms, https %.1f ms (medians of 20, a new connection each)" %
      (len(png), statistics.median(runs["http"]), statistics.median(runs["https"])))
PY

# --- torvo-connect's time to its answer (check and save), ten times each
export XDG_CONFIG_HOME="$work/config"
time_connect() {  # time_connect ADDRESS [--certificate FILE]
  local runs=() start end
  for _ in $(seq 10); do
    start=$(date +%s%N)
    echo "$id" | "$connect" "$@" --toolbar-id >/dev/null
    end=$(date +%s%N)
    runs+=($(( (end - start) / 1000000 )))
  done
  median "${runs[@]}"
}
echo "bench: torvo-connect to its answer: http $(time_connect "http://127.0.0.1:$plain/torvo/") ms, https $(time_connect "https://127.0.0.1:$tls/torvo/" --certificate "$work/ca.pem") ms (medians of 10)"
