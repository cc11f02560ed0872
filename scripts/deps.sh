#!/bin/sh
# Installs what building, running and testing need, from Debian's packages.
# Idempotent: installs only what is missing.
set -eu
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  stale=1
fi
packages="cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64 libz-mingw-w64-dev
  zlib1g-dev libdeflate-dev googletest clang libclang-rt-14-dev wine wine64 xvfb
  x11-utils imagemagick zip unzip time python3 openssl osslsigncode nsis"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $p"
done
# A mirror caught mid-sync fails one index now and then; try again, and go on
# with what was fetched, since the install itself says if a package is missing.
update() {
  for try in 1 2 3; do
    apt-get update -q && return 0
    echo "apt-get update failed (try $try of 3)"
    sleep $((try * 10))
  done
  echo "going on with the package lists fetched so far"
}
if [ -n "$missing" ]; then
  echo "installing:$missing"
  update
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing
elif [ "${stale:-0}" = 1 ]; then
  update
fi
# The 32-bit loader goes on its own: a host whose kernel runs no 32-bit
# programs needs none, and its i386 packages are the ones a mirror in the
# middle of a sync leaves out of step. Without it the 64-bit twin is tested.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "installing: wine32:i386"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q wine32:i386 ||
    echo "wine32:i386 could not be installed: the Wine tests will use the 64-bit twin"
fi
