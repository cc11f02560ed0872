#!/bin/sh
# Installs what building, running and testing need, from Debian's packages.
# Idempotent: installs only what is missing.
set -eu
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  stale=1
fi
packages="cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64 libz-mingw-w64-dev
  zlib1g-dev googletest clang libclang-rt-14-dev wine wine32:i386 wine64 xvfb
  x11-utils imagemagick zip unzip time python3 openssl osslsigncode nsis"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing
elif [ "${stale:-0}" = 1 ]; then
  apt-get update -q
fi
