#!/usr/bin/env bash
# Photographs the settings dialog as Wine draws it in Japanese: the test that
# checks the dialog's layout also captures it as a BMP; this turns that into
# build/screenshots/settings_dialog.png. Run after ./corvane build.
# Usage: scripts/screenshot_settings.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
. "$root/scripts/wine-env.sh"
wine_env "$build"
wine_session_start
trap wine_session_stop EXIT

shots="$build/screenshots"
rm -f "$shots/settings_dialog.bmp" "$shots/settings_dialog.png"
wine "$build/bin/corvane_tests.exe" --gtest_filter='SettingsDialog.EveryControlIsShownWholeInTabOrder' \
  </dev/null
convert "$shots/settings_dialog.bmp" "$shots/settings_dialog.png"
echo "$shots/settings_dialog.png"
