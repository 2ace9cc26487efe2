#!/usr/bin/env bash
# TorvoTool under Wine beside the Linux build, in the same run on the same machine:
#   - the thumbnail pipeline (1920 x 1080 img1.bmp to img.png), median of 20 (upload_pipeline_timing);
#   - the start-up, from starting the program to its window shown (polled every 10 ms), median of
#     10, with a torvo-service on each build's port, openbox, and a page window in front.
#   run_wine_bench.sh [LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]]   (default build/local, build/windows)
# Wine is not Windows: the figures compare our code on one machine under two runtimes, not what a
# Windows user would see (see README).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/window-manager.sh
linux="$(realpath "${1:-build/local}")"
windows="$(realpath "${2:-build/windows}")"
port_of() { sed -n 's/^TORVO_SERVICE_HOST:STRING=127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1/CMakeCache.txt"; }
linux_port=$(port_of "$linux") windows_port=$(port_of "$windows")
prefix="$windows/wineprefix"
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$0" "$linux" "$windows"; fi

tmp=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$tmp"; }
trap cleanup EXIT
service="$linux/service/torvo-service"
for port in "$linux_port" "$windows_port"; do
  "$service" --port "$port" --data "$tmp/data-$port" >"$tmp/service-$port.out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do grep -q "listening on" "$tmp/service-$port.out" && break; sleep 0.1; done
  "$service" user add --data "$tmp/data-$port" alice --toolbar-id alice >/dev/null
done
ensure_window_manager || exit 1
scripts/wine-run.sh "$prefix" "$windows/bin/torvo_test_page.exe" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do xdotool search --onlyvisible --name '^page$' >/dev/null 2>&1 && break; sleep 0.1; done

echo "pipeline, Linux:  $("$linux/upload/upload_pipeline_timing" 20)"
echo "pipeline, Wine:   $(scripts/wine-run.sh "$prefix" "$windows/bin/upload_pipeline_timing.exe" 20 | tr -d '\r')"

line='alice;^;http://example.com/;^;제목;^;%C7%D1%B1%DB'
startup() {  # startup NAME COMMAND...: the median time to the window shown
  local times=() start end pid name="$1"
  shift
  for _ in $(seq 10); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$tmp/startup.err" &
    pid=$!
    for _ in $(seq 1000); do xdotool search --onlyvisible --name '^Torvo$' >/dev/null 2>&1 && break; sleep 0.01; done
    xdotool search --onlyvisible --name '^Torvo$' >/dev/null 2>&1 || { echo "$name: no window within 10 s:" >&2; cat "$tmp/startup.err" >&2; kill "$pid" 2>/dev/null; return 1; }
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    for _ in $(seq 100); do xdotool search --onlyvisible --name '^Torvo$' >/dev/null 2>&1 || break; sleep 0.05; done
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v name="$name" '{t[NR] = $1} END {printf "start-up to window shown, %s: %d ms (median of %d, fastest %d ms)\n", name, t[int((NR + 1) / 2)], NR, t[1]}'
}
mkdir -p "$tmp/home"
HOME="$tmp/home" startup "Linux" "$linux/upload/app/TorvoTool" "$line"
startup "Wine " env LC_ALL=ko_KR.UTF-8 scripts/wine-run.sh "$prefix" "$windows/bin/TorvoTool.exe" $line
