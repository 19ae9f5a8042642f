#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest (the cross-compiling emulator).
# ./corvane test sets up the session; run alone, it uses the build folder's prefix.
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${WINEPREFIX:-}" ]; then
  . "$here/wine-env.sh"
  wine_env "${CORVANE_BUILD:-$here/../build}"
fi
exec wine "$@"
