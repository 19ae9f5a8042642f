#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest (the cross-compiling emulator).
# ./corvane test sets up the session; run alone, it uses the build folder's prefix.
#   wine-run.sh PROGRAM ARGS...                  as it is
#   wine-run.sh --own-desktop GTEST_PROGRAM ARGS...
# With --own-desktop the program gets a desktop of its own (a virtual one named
# after this process), so that tests running side by side never take each
# other's active window, which names the dataset. Such a desktop does not pass
# the program's exit code on: the verdict is GoogleTest's XML report instead.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
[ -n "${WINEPREFIX:-}" ] || wine_env "${CORVANE_BUILD:-$here/../build}"
[ "${1:-}" = "--own-desktop" ] || exec wine "$@"
shift
report=$(mktemp "${TMPDIR:-/tmp}/corvane-gtest-XXXXXX.xml")
trap 'rm -f "$report"' EXIT
wine explorer "/desktop=corvane$$,1280x1024" "$@" "--gtest_output=xml:$(wine_path "$report")"
if [ ! -s "$report" ]; then
  echo "wine-run: $1 ended without its report (a crash?)" >&2
  exit 1
fi
grep -q '<testsuites [^>]*failures="0"[^>]*errors="0"' "$report"
