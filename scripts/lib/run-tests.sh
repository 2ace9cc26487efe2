# Sourced by scripts/test.sh and scripts/test-windows.sh: one way to run a CTest preset.
#
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
