#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine.
# Idempotent: a second run only checks.
#   scripts/setup.sh            installs what is missing (as root)
#   scripts/setup.sh --missing  lists what is missing, one item a line; needs no root
# CORVANE_LOCALE_GEN names another locale.gen (the set-up's own test points it
# at a scratch file).
set -euo pipefail

packages=(
  cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
  googletest libz-mingw-w64-dev
  wine wine32:i386 xvfb x11-apps x11-utils imagemagick
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-wine locales
  zip unzip 7zip python3 strace
)
locale_gen=${CORVANE_LOCALE_GEN:-/etc/locale.gen}

# Wine maps file names through the C library's locale: without a generated
# ja_JP.UTF-8 locale no non-ASCII file name can be created.
has_locale() {
  local all
  all=$(locale -a 2>/dev/null) || true
  [[ $'\n'"$all"$'\n' =~ $'\n'ja_JP\.(utf8|UTF-8|utf-8)$'\n' ]]
}

has_i386() {
  local arches
  arches=$(dpkg --print-foreign-architectures 2>/dev/null) || true
  [[ $'\n'"$arches"$'\n' == *$'\n'i386$'\n'* ]]
}

# Packages not installed, one a line. Each query's output is captured whole
# before it is looked at: no pipe whose reader may stop early.
missing_packages() {
  local p status
  for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) || status=
    [[ $status == *"ok installed"* ]] || echo "$p"
  done
}

missing() {
  has_i386 || echo "i386 architecture (dpkg --add-architecture i386)"
  missing_packages
  has_locale || echo "ja_JP.UTF-8 locale"
}

if [ "${1:-}" = "--missing" ]; then
  missing
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "setup: must run as root (apt-get, locale-gen)" >&2
  exit 1
fi

has_i386 || dpkg --add-architecture i386
# Packages first: on a minimal Debian locale.gen comes with the locales package.
want=$(missing_packages)
if [ -n "$want" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  mapfile -t want_list <<<"$want"
  apt-get install -y --no-install-recommends "${want_list[@]}"
fi
if ! has_locale; then
  if [ -f "$locale_gen" ] && grep -q '^# *ja_JP.UTF-8 UTF-8' "$locale_gen"; then
    sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' "$locale_gen"
  fi
  if ! { [ -f "$locale_gen" ] && grep -q '^ja_JP.UTF-8 UTF-8' "$locale_gen"; }; then
    echo 'ja_JP.UTF-8 UTF-8' >>"$locale_gen"
  fi
  locale-gen
fi

# Says ok only when a fresh look finds nothing missing.
left=$(missing)
if [ -n "$left" ]; then
  echo "setup: still missing: $(printf '%s\n' "$left" | paste -sd, - | sed 's/,/, /g')" >&2
  exit 1
fi
echo "setup: ok"
