#!/usr/bin/env bash
# TorvoTool.exe under Wine, started by torvo-toolbar-host.exe as the browser's extension starts it:
# from the host receiving the extension's message to TorvoTool's window shown, without a picture
# (TorvoTool grabs the 1920 x 1080 page window in front, through GDI), with the browser's picture
# of a 1920 x 1080 page and with a photograph over the whole view; each the median of N, in the
# same run, and the two ratios against the road without a picture.
#   run_wine_picture_bench.sh [WINDOWS_BUILD_DIR [N]]   (default build/windows, 10)
# The host is already running and waiting, as the browser keeps it; the window counts as shown
# when the window manager lists it (openbox, on an X server of our own). Wine is not Windows:
# the ratios compare our roads on one machine, not what a Windows user would see.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/window-manager.sh
windows="$(realpath "${1:-build/windows}")"
runs="${2:-10}"
port=$(sed -n 's/^TORVO_SERVICE_HOST:STRING=127\.0\.0\.1:\([0-9]*\)$/\1/p' "$windows/CMakeCache.txt")
[ -n "$port" ] || { echo "the build in $windows does not talk to a service on loopback" >&2; exit 2; }
linux_service="$(sed -n 's/^TORVO_LINUX_SERVICE:[A-Z]*=//p' "$windows/CMakeCache.txt")"
service="${TORVO_BENCH_SERVICE:-${linux_service:-build/local/service/torvo-service}}"
[ -x "$service" ] || { echo "no torvo-service at $service (set TORVO_BENCH_SERVICE)" >&2; exit 2; }
if [ -z "${TORVO_BENCH_DISPLAY_READY:-}" ]; then
  TORVO_BENCH_DISPLAY_READY=1 exec xvfb-run -a -s "-screen 0 2560x1440x24 -noreset" "$0" "$windows" "$runs"
fi

tmp=$(mktemp -d)
prefix="$tmp/wineprefix"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# The port is the build's own: wait for anyone else using it to finish.
for _ in $(seq 600); do curl -s -o /dev/null "http://127.0.0.1:$port/" || break; sleep 0.1; done
"$service" --port "$port" --data "$tmp/data" >"$tmp/service.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do grep -q "listening on" "$tmp/service.out" && break; sleep 0.1; done
grep -q "listening on" "$tmp/service.out" || { echo "torvo-service did not start on port $port" >&2; exit 1; }
"$service" user add --data "$tmp/data" bench --toolbar-id bench >/dev/null
"$service" folder add --data "$tmp/data" bench 여행 --number 3 >/dev/null

ensure_window_manager || exit 1
scripts/wine-run.sh "$prefix" "$windows/bin/torvo_test_page.exe" 1920x1080 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 600); do xdotool search --onlyvisible --name '^page$' >/dev/null 2>&1 && break; sleep 0.1; done
page=$(xdotool search --onlyvisible --name '^page$' | head -1)
xdotool windowactivate --sync "$page" 2>/dev/null || true
echo "window in front: $(xwininfo -id "$page" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')"

# The browser's pictures of a 1920 x 1080 page: a page of text with a photograph, and a photograph
# over the whole view.
upload/bench/make_browser_pictures.sh "$tmp"

LC_ALL=ko_KR.UTF-8 python3 - "$prefix" "$windows/bin/torvo-toolbar-host.exe" "$runs" "$tmp/page.png" "$tmp/photo.png" <<'PY'
import base64, json, os, signal, struct, subprocess, sys, time
prefix, host, runs, page, photo = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]

def frame(message):
    body = json.dumps(message).encode()
    return struct.pack("<I", len(body)) + body

def answer(stream):
    length = struct.unpack("<I", stream.read(4))[0]
    return json.loads(stream.read(length))

def tool_windows():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Torvo$"], capture_output=True, text=True)
    return found.stdout.split()

def end_tool():
    for window in tool_windows():
        pid = subprocess.run(["xdotool", "getwindowpid", window], capture_output=True, text=True).stdout.strip()
        if pid:
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass
    for _ in range(200):
        if not tool_windows():
            return
        time.sleep(0.05)
    sys.exit("TorvoTool.exe's window did not go")

# The host as the browser starts it, kept waiting: a first message it refuses tells it is ready.
hostProcess = subprocess.Popen(["scripts/wine-run.sh", prefix, host], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
hostProcess.stdin.write(frame({})); hostProcess.stdin.flush()
answer(hostProcess.stdout)
# The window manager's list of windows changes when it takes a new one: watched, not polled.
spy = subprocess.Popen(["stdbuf", "-oL", "xprop", "-root", "-spy", "_NET_CLIENT_LIST"], stdout=subprocess.PIPE, text=True)
spy.stdout.readline()

def to_window(message):
    start = time.monotonic()
    hostProcess.stdin.write(frame(message)); hostProcess.stdin.flush()
    reply = answer(hostProcess.stdout)
    if not reply.get("ok"):
        sys.exit(f"the host refused: {reply}")
    while True:
        line = spy.stdout.readline()
        if not line:
            sys.exit("the window list is no longer watched")
        seen = time.monotonic()
        if tool_windows():
            end_tool()
            return (seen - start) * 1000
        if seen - start > 30:
            sys.exit("no TorvoTool.exe window within 30 s")

fields = {"toolbarId": "bench", "url": "http://example.com/", "title": "Title", "note": "note"}
roads = [("without a picture (the window grabbed)", fields)]
for name, path in (("the browser's picture of a page", page), ("a photograph over the whole view", photo)):
    png = open(path, "rb").read()
    roads.append((f"{name} ({len(png) // 1024} KB)", dict(fields, picture="data:image/png;base64," + base64.b64encode(png).decode())))
to_window(fields)  # the first start fills the file caches
times = {name: [] for name, _ in roads}
for _ in range(runs):  # the roads interleaved, so a change of the machine's load touches all alike
    for name, message in roads:
        times[name].append(to_window(message))
median = {name: sorted(t)[len(t) // 2] for name, t in times.items()}
base = median[roads[0][0]]
for name, _ in roads:
    print(f"host message to TorvoTool.exe's window, {name}: {median[name]:.0f} ms (median of {runs}, "
          f"fastest {min(times[name]):.0f} ms), {median[name] / base:.2f}x without a picture")
hostProcess.stdin.close()
hostProcess.wait()
spy.terminate()
PY
