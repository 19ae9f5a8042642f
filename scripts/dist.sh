#!/usr/bin/env bash
# Collects what users get into build/out/: the DLL, and the release zip
# Corvane-VERSION.zip with the DLL and the two readmes. The DLL users get is
# stripped (bin/ keeps the one with debug information).
#   scripts/dist.sh BUILD_DIR VERSION [STRIP [OBJDUMP]]
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
strip=${3:-i686-w64-mingw32-strip}
objdump=${4:-i686-w64-mingw32-objdump}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$build/out"
mkdir -p "$out"
"$strip" --strip-all -o "$out/Corvane.dll" "$build/bin/Corvane.dll"
# The section list is taken whole first: a grep -q ending a pipe could stop
# objdump early, and under pipefail that failure would read as "no debug".
sections=$("$objdump" -h "$out/Corvane.dll")
if [[ $sections == *.debug_* ]]; then
  echo "dist: $out/Corvane.dll still has debug sections" >&2
  exit 1
fi
# Our archiver stand-in is for the tests and the demo; users get the real
# 7-zip32.dll, so it stays out of the release zip.
[ -f "$build/bin/7-zip32.dll" ] && cp "$build/bin/7-zip32.dll" "$out/"

stage=$(mktemp -d "$build/dist.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$out/Corvane.dll" "$stage/"
# Windows line ends. The Japanese readme in code page 932, which every
# Japanese Windows text viewer reads (the source keeps UTF-8 with a BOM); the
# English one quotes the Japanese menu texts, so it goes as UTF-8 with a BOM,
# readable on any Windows.
sed -e '1s/^\xEF\xBB\xBF//' -e 's/$/\r/' "$root/docs/readme_ja.txt" | iconv -f UTF-8 -t CP932 >"$stage/readme_ja.txt"
{ printf '\xEF\xBB\xBF'; sed -e '1s/^\xEF\xBB\xBF//' -e 's/$/\r/' "$root/docs/readme_en.txt"; } >"$stage/readme_en.txt"
zip_path="$out/Corvane-$version.zip"
rm -f "$zip_path"
(cd "$stage" && zip -q -X "$zip_path" Corvane.dll readme_ja.txt readme_en.txt)
echo "dist: $zip_path"
