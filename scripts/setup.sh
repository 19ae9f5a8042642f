#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine.
# Idempotent: a second run only checks.
#   scripts/setup.sh            installs what is missing (as root)
#   scripts/setup.sh --missing  lists what is missing, one item a line; needs no root
set -euo pipefail

packages=(
  cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
  googletest libz-mingw-w64-dev
  wine wine32:i386 xvfb x11-apps x11-utils imagemagick
  fonts-ipafont-gothic fonts-ipafont-mincho locales
  zip unzip 7zip python3
)

# Wine maps file names through the C library's locale: without a generated
# ja_JP.UTF-8 locale no non-ASCII file name can be created.
has_locale() { locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; }

missing() {
  dpkg --print-foreign-architectures | grep -qx i386 || echo "i386 architecture (dpkg --add-architecture i386)"
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || echo "$p"
  done
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

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
if missing | grep -qv 'locale$'; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${packages[@]}"
fi
if ! has_locale; then
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi
echo "setup: ok"
