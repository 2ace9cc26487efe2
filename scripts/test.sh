#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: packages, build, unit and end-to-end tests,
# then the core suite again under AddressSanitizer and UndefinedBehaviorSanitizer; beside them the
# Windows build and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/run-tests.sh

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
  grep '^test-windows:' build/test-windows.log
  mapfile -t -O "${#flaky[@]}" flaky < <(sed -n 's/^flaky: //p' build/test-windows.log)
else
  tail -n 60 build/test-windows.log
  failing+=("windows (scripts/test-windows.sh; build/test-windows.log)")
fi

for name in "${flaky[@]}"; do echo "flaky: $name"; done
for name in "${failing[@]}"; do echo "FAILED: $name"; done
[ "${#failing[@]}" -eq 0 ]
