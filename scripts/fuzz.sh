#!/usr/bin/env bash
# Fuzzes every reader of outside input with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, one target after the other, each until it has run for SECONDS or
# made RUNS executions, whichever comes first.
#
#   scripts/fuzz.sh [-t SECONDS] [-n RUNS] [TARGET...]        (defaults: 600 s, 2,000,000 runs, all)
#
# A target passes when it ends without a crash, a sanitizer report, an input slower than 10 s or
# an allocation over 256 MiB. New inputs collect in build/fuzz/corpus/<target> (the seeds in
# fuzz/corpus/ are only read); a finding is kept in build/fuzz/findings/<target>/ and the script
# fails. Copy it to fuzz/regressions/<target>/ once it is mended: CTest replays that folder.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
runs=2000000
while getopts "t:n:h" option; do
  case "$option" in
    t) seconds="$OPTARG" ;;
    n) runs="$OPTARG" ;;
    *) sed -n '2,12p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

all=(command_line url_decode coding folder_reply image_list palette picture browser_picture)
[ -f upload/upload_reply.h ] && all+=(upload_reply)
all+=(toolbar_host)
targets=("${@:-${all[@]}}")

build=build/fuzz
cmake --preset fuzz >/dev/null
programs=()
for target in "${targets[@]}"; do
  programs+=("${target}_fuzz")
done
cmake --build "$build" -j2 --target "${programs[@]}"

# AddressSanitizer keeps 256 MiB of freed memory in quarantine by default, which alone would hit
# the 256 MiB limit; 32 MiB still catches a use after a recent free.
export ASAN_OPTIONS="quarantine_size_mb=32:allocator_release_to_os_interval_ms=500:${ASAN_OPTIONS:-}"
failed=()
summary="$build/summary.txt"
printf '%-14s %10s %8s %10s %6s %6s %7s %8s  %s\n' target runs seconds runs/s cov ft corpus rss_mb result >"$summary"
for target in "${targets[@]}"; do
  if [ "$target" = toolbar_host ]; then
    program="$build/toolbar/host/fuzz/toolbar_host_fuzz"
    seeds=toolbar/host/fuzz/corpus
    max_len=65536
  else
    program="$build/fuzz/${target}_fuzz"
    seeds="fuzz/corpus/$target"
    max_len=16384
  fi
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  echo "fuzz: $target (up to $seconds s or $runs runs)"
  start=$(date +%s.%N)
  result=clean
  # The targets' scratch files go to a folder of their own, removed afterwards.
  scratch=$(mktemp -d)
  # A run that does not end on its own (a report that hangs) is stopped and counts as a finding.
  if ! TMPDIR="$scratch" timeout -k 10 $((seconds + 300)) "$program" -max_total_time="$seconds" -runs="$runs" -rss_limit_mb=256 \
      -malloc_limit_mb=256 -timeout=10 -max_len="$max_len" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1; then
    result="FINDING (see $log and $findings)"
    failed+=("$target")
  fi
  rm -rf "$scratch"
  elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  rate=$(awk -v n="${executed:-0}" -v t="$elapsed" 'BEGIN { printf "%d", n / t }')
  printf '%-14s %10s %8.0f %10s %6s %6s %7s %8s  %s\n' "$target" "${executed:-?}" "$elapsed" "$rate" \
    "${cov:-?}" "${ft:-?}" "${corp:-?}" "${rss:-?}" "$result" | tee -a "$summary"
done

echo
cat "$summary"
if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
