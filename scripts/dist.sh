#!/usr/bin/env bash
# Collects what users get into build/out/.
set -euo pipefail
build=$1
version=$2
out="$build/out"
mkdir -p "$out"
cp "$build/bin/Corvane.dll" "$out/"
[ -f "$build/bin/7-zip32.dll" ] && cp "$build/bin/7-zip32.dll" "$out/"
exit 0
