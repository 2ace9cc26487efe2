#!/usr/bin/env bash
# The installer depends on its inputs' bytes only: made again from copies of the same files in
# other folders, with other file times and at another time, it is byte for byte the build's.
#   reproducible_test.sh MAKENSIS torvo.nsi torvo_files.nsh TorvoSetup.exe VERSION
set -euo pipefail
makensis="$1" script="$2" files="$3" built="$4" version="$5"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for copy in a b; do
  mkdir -p "$work/$copy"
  cp "$files" "$work/$copy/files.nsh"
  # Every file the list packs, copied with a time of its own, and the list pointed at the copy.
  grep -o '^  File "[^"]*"' "$files" | sed 's/^  File "//; s/"$//' | while read -r path; do
    cp "$path" "$work/$copy/"
    if [ "$copy" = a ]; then touch -d '2001-02-03 04:05:06' "$work/$copy/$(basename "$path")"; fi
    sed -i "s|File \"$path\"|File \"$work/$copy/$(basename "$path")\"|" "$work/$copy/files.nsh"
  done
  grep -q "File \"$work/$copy/" "$work/$copy/files.nsh"
  "$makensis" -V1 -INPUTCHARSET UTF8 -DTORVO_VERSION="$version" -DTORVO_FILES="$work/$copy/files.nsh" \
              -DTORVO_OUTPUT="$work/$copy/setup.exe" "$script"
  sleep 1  # the second one made at another second
done
cmp "$work/a/setup.exe" "$work/b/setup.exe"
cmp "$work/a/setup.exe" "$built"
echo "reproducible_test: three makings, one installer ($(stat -c %s "$built") bytes)"
