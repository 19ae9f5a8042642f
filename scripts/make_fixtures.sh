#!/usr/bin/env bash
# Makes the tests' sample files with the real tools, natively, before the Wine
# tests run: every tests/fixtures/*.sh is called with the output folder.
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")/.." && pwd)
# Built aside and swapped in, so that a run in progress never sees half a set.
work="$out.new.$$"
rm -rf "$work"
mkdir -p "$work"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# The parts are independent: made side by side, the set takes as long as its
# longest part. A part that fails fails the set.
pids=()
for part in "$here"/tests/fixtures/*.sh; do
  [ -e "$part" ] || continue
  bash "$part" "$work" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
rm -rf "$out.old.$$"
[ -d "$out" ] && mv "$out" "$out.old.$$"
mv "$work" "$out"
rm -rf "$out.old.$$"
echo "fixtures: $(find "$out" -type f | wc -l) files in $out"
