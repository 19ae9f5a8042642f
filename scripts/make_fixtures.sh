#!/usr/bin/env bash
# Makes the tests' sample files with the real tools, natively, before the Wine
# tests run: every tests/fixtures/*.sh is called with the output folder.
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$out"
mkdir -p "$out"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
for part in "$here"/tests/fixtures/*.sh; do
  [ -e "$part" ] || continue
  bash "$part" "$out"
done
echo "fixtures: $(find "$out" -type f | wc -l) files in $out"
