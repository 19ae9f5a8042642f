#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest (the cross-compiling emulator).
# ./corvane test sets up the session; run alone, it uses the build folder's prefix.
#   wine-run.sh PROGRAM ARGS...                  as it is
#   wine-run.sh --own-desktop GTEST_PROGRAM ARGS...
# With --own-desktop the program gets a desktop of its own (a virtual one named
# after this process) on an X server of its own, so that tests running side by
# side never take each other's active window, which names the dataset, nor
# cover each other's windows on the screen they photograph. Such a desktop
# does not pass the program's exit code on: the verdict is GoogleTest's XML
# report instead.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
[ -n "${WINEPREFIX:-}" ] || wine_env "${CORVANE_BUILD:-$here/../build}"
[ "${1:-}" = "--own-desktop" ] || exec wine "$@"
shift
report=$(mktemp "${TMPDIR:-/tmp}/corvane-gtest-XXXXXX.xml")
display=$(mktemp "${TMPDIR:-/tmp}/corvane-display-XXXXXX")
# Xvfb picks a free display itself and writes its number to fd 5.
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$display" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$report" "$display"' EXIT
for _ in $(seq 1 100); do
  [ -s "$display" ] && break
  sleep 0.05
done
[ -s "$display" ] || { echo "wine-run: no X server of its own" >&2; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$display")"
wine explorer "/desktop=corvane$$,1280x1024" "$@" "--gtest_output=xml:$(wine_path "$report")"
if [ ! -s "$report" ]; then
  echo "wine-run: $1 ended without its report (a crash?)" >&2
  exit 1
fi
grep -q '<testsuites [^>]*failures="0"[^>]*errors="0"' "$report"
