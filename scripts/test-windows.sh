#!/usr/bin/env bash
# The Windows part of the test suite, beside the Linux one (its own build folder, build/windows):
# the libraries from Debian's sources (built once, then kept), the cross-build with mingw-w64,
# and the tests under Wine in a Wine prefix made fresh for this run. Prints how long each part took.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/run-tests.sh
# Wine's desktop belongs to the run's whole Wine session: the run gets one display of its own.
if [ -z "${TORVO_WINDOWS_DISPLAY:-}" ]; then
  exec env TORVO_WINDOWS_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$@"
fi
jobs="$(nproc)"
started=$(date +%s)
seconds() { echo $(( $(date +%s) - $1 )); }

TORVO_WINDOWS_DEPS="$(scripts/windows-deps.sh)"
export TORVO_WINDOWS_DEPS
deps_time=$(seconds "$started")

build_started=$(date +%s)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
build_time=$(seconds "$build_started")

tests_started=$(date +%s)
prefix="$PWD/build/windows/wineprefix"
WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
rm -rf "$prefix" "$prefix.lock"
# The first program makes the prefix; CTest then reads every test program's names quickly.
scripts/wine-run.sh "$prefix" build/windows/bin/platform_tests.exe --gtest_list_tests >/dev/null
run_tests windows -j "$jobs" --timeout 600
WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
tests_time=$(seconds "$tests_started")

echo "test-windows: libraries ${deps_time} s, cross-build ${build_time} s, tests under Wine ${tests_time} s," \
     "in all $(seconds "$started") s"
for name in "${flaky[@]}"; do echo "flaky: $name"; done
for name in "${failing[@]}"; do echo "FAILED: $name"; done
[ "${#failing[@]}" -eq 0 ]
