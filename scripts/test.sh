#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: packages, build, unit and end-to-end tests,
# then the core suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset local >/dev/null
cmake --build --preset local -j "$(nproc)"
# End-to-end tests drive real windows on a loaded machine; one that fails is run again (up to
# three runs) and only a test that fails every time fails the suite.
ctest --preset local -j "$(nproc)" --timeout 600 --repeat until-pass:3

# The sanitizer build has no loopback service, so it runs the unit, window, service and fuzz-seed
# tests, not the end-to-end ones. Any report fails the test that made it.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan -j "$(nproc)" --timeout 600 --repeat until-pass:3

# The Debian package: built from the local build, installed on this machine, tried and removed.
TORVO_INSTALL_TEST=1 ctest --preset local -L install --timeout 600
