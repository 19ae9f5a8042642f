#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine.
# Idempotent: a second run only checks.
set -euo pipefail

packages=(
  cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
  googletest libz-mingw-w64-dev
  wine wine32:i386 xvfb x11-apps x11-utils imagemagick
  fonts-ipafont-gothic fonts-ipafont-mincho locales
  zip unzip 7zip python3
)

need_install=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_install=1
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    need_install=1
    break
  fi
done
if [ "$need_install" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${packages[@]}"
fi

# Wine maps file names through the C library's locale: without a generated
# ja_JP.UTF-8 locale no non-ASCII file name can be created.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi
echo "setup: ok"
