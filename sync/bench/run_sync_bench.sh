#!/usr/bin/env bash
# TorvoSync's download speed against wget, in the same run, from a local torvo-service:
# 1,000 images of about 20 KB, none present (files per second; wanted at least 3x wget's), then a
# second sync with every image present (wanted at most 1.2x the list fetch alone).
#   sync/bench/run_sync_bench.sh [BUILD_DIR] [IMAGES]
# The downloads go to a temporary folder on /tmp's file system, or with TORVO_BENCH_FS=ext4 (root
# only) to a fresh ext4 made with mkfs.ext4's defaults, journal included, mounted from a file.
# Without a journal ext4 looks past every inode freed in the last seconds (minutes while its
# block is unwritten) for each file it creates, so on such a disk after deletions every new file
# costs both programs alike some hundred microseconds: the script says when that is the case.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build/local}" && pwd)"
count="${2:-1000}"
service="$build/service/torvo-service"
bench="$build/sync/bench/sync_bench"
for f in "$service" "$bench"; do [ -x "$f" ] || { echo "missing $f: build the torvo-service and sync_bench targets" >&2; exit 1; }; done
command -v wget >/dev/null || { echo "wget is missing: run scripts/setup.sh" >&2; exit 1; }

work="$(mktemp -d /tmp/torvo-sync-bench.XXXXXX)"
pid=""
mounted=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$mounted" ] && umount "$mounted"
  rm -rf "$work"
}
trap cleanup EXIT

# Where wget and the sync write.
downloads="$work/downloads"
if [ "${TORVO_BENCH_FS:-}" = ext4 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "TORVO_BENCH_FS=ext4 mounts a file system: run as root" >&2; exit 1; }
  truncate -s 2G "$work/ext4.img"
  mkfs.ext4 -q -F "$work/ext4.img"
  mkdir "$downloads"
  mount -o loop "$work/ext4.img" "$downloads"
  mounted="$downloads"
else
  mkdir "$downloads"
fi
kind="$(findmnt -n -o FSTYPE --target "$downloads")"
journal=""
if [ "$kind" = ext4 ]; then
  source="$(findmnt -n -o SOURCE --target "$downloads")"
  if compgen -G "/proc/fs/jbd2/$(basename "$source")-*" >/dev/null; then
    journal=" with a journal"
  else
    journal=" WITHOUT a journal: new files after deletions cost both programs more than on a usual disk"
  fi
fi
echo "bench: downloads written to $kind$journal"

id="bench user"
"$service" user add --data "$work/data" "$id" --toolbar-id "$id" >/dev/null
python3 "$here/make_pngs.py" "$work/png" "$count"
echo "bench: adding $count images of $(stat -c %s "$work/png/0000.png") bytes to the service"
for f in "$work"/png/*.png; do
  "$service" image add --data "$work/data" "$id" "$f" --name "$(basename "$f" .png)" >/dev/null
done

"$service" serve --data "$work/data" --port 0 --ready-file "$work/ready" 2>/dev/null &
pid=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.05; done
host="$(cat "$work/ready")"
echo "bench: service on $host"

# The same addresses the sync asks for, for wget.
curl -s --noproxy '*' "http://$host/imgList.php?tid=bench%20user" >"$work/list"
python3 - "$work/list" >"$work/urls" <<'PY'
import sys
fields = open(sys.argv[1], encoding="cp949").read().split("|")
for name in fields[1:]:
    print(fields[0] + "/" + name + ".png")
PY
echo "bench: list names $(wc -l <"$work/urls") images"

# Rounds of wget and of the sync taken in turn, so a change in the machine's load falls on both.
# Each run writes into a new folder and nothing is removed until the end (see sync_bench.cpp).
# Each run starts with nothing waiting to be written: the setup's 40 MB, flushed by the kernel
# about 30 s after it was written, otherwise lands on the first rounds and makes them several
# times slower (a sync of 400-500 ms against 90 ms for the same run later).
rounds=5
wget_runs=()
sync_runs=()
for run in $(seq $rounds); do
  sync
  start=$(date +%s%N)
  wget -q --no-proxy -i "$work/urls" -P "$downloads/wget-$run"
  end=$(date +%s%N)
  wget_runs+=($(( (end - start) / 1000 )))
  got=$(ls "$downloads/wget-$run" | wc -l)
  [ "$got" -eq "$count" ] || { echo "wget fetched $got of $count files" >&2; exit 1; }
  sync
  TORVO_BENCH_HOST="$host" TORVO_BENCH_ID="$id" TORVO_BENCH_DIR="$downloads/sync" TORVO_BENCH_ROUNDS=1 \
    "$bench" --benchmark_filter=SyncNonePresent --benchmark_format=json >"$work/round.json"
  sync_runs+=($(python3 -c 'import json,sys; b=json.load(open(sys.argv[1]))["benchmarks"][0]; assert not b.get("error_occurred"), b.get("error_message"); print(int(b["real_time"]*1000))' "$work/round.json"))
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
wget_us=$(median "${wget_runs[@]}")
sync_us=$(median "${sync_runs[@]}")
echo "bench: wget runs (ms)  $(printf '%s ' "${wget_runs[@]}" | awk '{for(i=1;i<=NF;i++) printf "%.0f ", $i/1000}')"
echo "bench: sync runs (ms)  $(printf '%s ' "${sync_runs[@]}" | awk '{for(i=1;i<=NF;i++) printf "%.0f ", $i/1000}')"

# The list alone and the sync with every image here, in repetitions taken in random turn, compared
# by their medians: a change in the machine's load falls on both.
TORVO_BENCH_HOST="$host" TORVO_BENCH_ID="$id" TORVO_BENCH_DIR="$downloads/sync" \
  "$bench" --benchmark_filter='ListFetch|SyncAllPresent' --benchmark_repetitions=9 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_format=json --benchmark_out="$work/bench.json" --benchmark_out_format=json >/dev/null

python3 - "$work/bench.json" "$wget_us" "$count" "$sync_us" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
wget_s = int(sys.argv[2]) / 1e6
count = int(sys.argv[3])
sync_ms = int(sys.argv[4]) / 1e3
runs = {}
for b in data["benchmarks"]:
    if b.get("error_occurred"):
        sys.exit("bench: %s failed: %s" % (b["name"], b.get("error_message")))
    if b.get("aggregate_name") == "median":
        runs[b["name"].split("/")[0]] = b
ms = lambda b: b["real_time"] * {"ms": 1, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b["time_unit"]]
for name in ("ListFetch", "SyncAllPresent"):
    if name not in runs:
        sys.exit("bench: %s gave no median: it failed" % name)
present_ms = ms(runs["SyncAllPresent"])
list_ms = ms(runs["ListFetch"])
sync_rate = count / (sync_ms / 1000)
wget_rate = count / wget_s
ratio = sync_rate / wget_rate
print("bench: wget -i          %8.1f ms  %7.0f files/s (median)" % (wget_s * 1000, wget_rate))
print("bench: sync, none here  %8.1f ms  %7.0f files/s (median)" % (sync_ms, sync_rate))
print("bench: ratio sync/wget  %8.2f     (target >= 3)" % ratio)
print("bench: list fetch       %8.2f ms  (median of 9)" % list_ms)
print("bench: sync, all here   %8.2f ms  (median of 9)  %.2fx the list fetch (target <= 1.2x = %.2f ms)" % (present_ms, present_ms / list_ms, list_ms * 1.2))
ok = ratio >= 3 and present_ms <= list_ms * 1.2
print("bench: %s" % ("targets met" if ok else "TARGETS MISSED"))
sys.exit(0 if ok else 1)
PY
