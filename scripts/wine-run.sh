#!/usr/bin/env bash
# Runs a Windows program under Wine for the Windows build's tests (its crosscompiling emulator):
#   scripts/wine-run.sh PREFIX program.exe [arguments...]
# PREFIX is the test run's own Wine prefix; the first program of a run makes it (wineboot -u),
# the others wait for that. scripts/test-windows.sh removes it before each run, so every run
# starts from a fresh prefix.
set -euo pipefail
prefix="$1"
shift
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine given something other than a Windows program says so and still ends with status 0: a
# test run through here by mistake would pass without having run.
if [ "$(head -c 2 "$1" 2>/dev/null)" != "MZ" ]; then
  echo "wine-run.sh: $1 is not a Windows program" >&2
  exit 127
fi
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.torvo-ready" ]; then
    rm -rf "$prefix"
    wineboot -u </dev/null >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
    touch "$prefix/.torvo-ready"
  fi
  # One Wine server for the whole run (a server per program costs a second or more, and a run
  # starts hundreds), ending a minute after the last program. Wine's own services start with the
  # first program and keep its output open: they are started here, on nobody's output, so a
  # caller waiting for the end of a program's output is not kept waiting for theirs.
  if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
    wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"
exec wine "$@"
