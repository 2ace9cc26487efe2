#!/usr/bin/env bash
# Fuzzes torvo-toolbar-host's message handling for a bounded time with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer.
#   toolbar/host/fuzz/run.sh [SECONDS]      (default 60)
# New inputs go to build-fuzz-toolbar/corpus; the seeds here are only read. A crash leaves its
# input in build-fuzz-toolbar/ and the script fails.
set -euo pipefail
cd "$(dirname "$0")/../../.."
seconds="${1:-60}"
build=build-fuzz-toolbar

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DTORVO_BUILD_APPS=OFF -DTORVO_BUILD_TESTS=OFF -DTORVO_BUILD_BENCH=OFF -DTORVO_TOOLBAR_FUZZ=ON >/dev/null
cmake --build "$build" --target toolbar_host_fuzz -j2

mkdir -p "$build/corpus"
cd "$build"
# Frames may claim up to 96 MiB: AddressSanitizer's default quarantine (256 MiB) keeps such freed
# buffers and alone crossed the memory limit below in a minute, which libFuzzer took for a leak.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}"
./toolbar/host/fuzz/toolbar_host_fuzz -max_total_time="$seconds" -rss_limit_mb=256 -timeout=10 \
  -max_len=65536 -print_final_stats=1 corpus ../toolbar/host/fuzz/corpus
