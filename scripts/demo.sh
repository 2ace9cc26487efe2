#!/usr/bin/env bash
# The main job: builds the programs and runs them on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset local >/dev/null
cmake --build --preset local -j "$(nproc)"

out="${TORVO_DEMO_OUT:-$PWD/build/demo}"
mkdir -p "$out"
bin=build/local
python3 scripts/make_sample.py "$out/sample.bmp"
"$bin/tools/torvo-image/torvo-image" filter 5 "$out/sample.bmp" "$out/sharpened.png"
echo "demo: sample picture  $out/sample.bmp"
echo "demo: sharpened       $out/sharpened.png"
