#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: packages, build, unit and end-to-end tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset local >/dev/null
cmake --build --preset local -j "$(nproc)"
ctest --preset local -j "$(nproc)" --timeout 600
