#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: packages, build, unit and end-to-end tests,
# then the core suite again under AddressSanitizer and UndefinedBehaviorSanitizer; beside them the
# Windows build and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each suite runs once; the tests that failed run once more. A test that failed and then passed
# is flaky: it does not fail the suite, but it is named at the end ("flaky: NAME") so it can be
# found and mended. The script fails when any test failed on its second run too.
flaky=()
failing=()
run_tests() {
  local preset=$1
  shift
  local failed_log="build/$preset/Testing/Temporary/LastTestsFailed.log"
  rm -f "$failed_log"
  if ctest --preset "$preset" "$@"; then return 0; fi
  local first=()
  [ -f "$failed_log" ] && mapfile -t first < <(sed 's/^[0-9]*://' "$failed_log")
  if [ "${#first[@]}" -eq 0 ]; then
    failing+=("ctest --preset $preset (no test named)")
    return 0
  fi
  echo "== $preset: running ${#first[@]} failed test(s) once more: ${first[*]}"
  local still=()
  if ! ctest --preset "$preset" "$@" --rerun-failed; then
    [ -f "$failed_log" ] && mapfile -t still < <(sed 's/^[0-9]*://' "$failed_log")
  fi
  local name s again
  for name in "${first[@]}"; do
    again=0
    for s in "${still[@]}"; do [ "$s" = "$name" ] && again=1; done
    if [ "$again" -eq 1 ]; then failing+=("$preset: $name"); else flaky+=("$preset: $name"); fi
  done
}

scripts/setup.sh
cmake --preset local >/dev/null
cmake --build --preset local -j "$(nproc)"
# The Windows part (own build folder, display and Wine prefix) builds and runs beside the Linux
# tests, many of which wait on windows and services more than they compute.
mkdir -p build
scripts/test-windows.sh >build/test-windows.log 2>&1 &
windows_pid=$!
run_tests local -j "$(nproc)" --timeout 600

# The sanitizer build has no loopback service, so it runs the unit, window, service and fuzz-seed
# tests, not the end-to-end ones. Any report fails the test that made it.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)"
run_tests asan -j "$(nproc)" --timeout 600

# The Debian package: built from the local build, installed on this machine, tried and removed.
TORVO_INSTALL_TEST=1 run_tests local -L install --timeout 600

if wait "$windows_pid"; then
  tail -n 3 build/test-windows.log
else
  tail -n 60 build/test-windows.log
  failing+=("windows (scripts/test-windows.sh; build/test-windows.log)")
fi

for name in "${flaky[@]}"; do echo "flaky: $name"; done
for name in "${failing[@]}"; do echo "FAILED: $name"; done
[ "${#failing[@]}" -eq 0 ]
