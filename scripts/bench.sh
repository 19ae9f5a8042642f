#!/usr/bin/env bash
# Runs the benchmarks under the Wine session that ./corvane bench started.
# Usage: scripts/bench.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
for exe in crc_bench registration_bench run_bench launch_bench; do
  if [ ! -f "$build/bin/$exe.exe" ]; then
    echo "bench: $build/bin/$exe.exe is missing (build first)" >&2
    exit 1
  fi
  echo "== $exe"
  wine "$build/bin/$exe.exe" </dev/null
done
