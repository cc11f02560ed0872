#!/bin/sh
# Configures and builds the project in the given folder (default: build).
#   scripts/configure.sh [--arch x86|x64] [build folder] [CMake arguments...]
# --arch x64 builds the 64-bit twin instead of the shipped 32-bit exe (see
# scripts/arch.sh). Extra arguments go to CMake, e.g. -DPAYLOAD_DIR=/path.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
arch=x86
if [ "${1:-}" = --arch ]; then arch=$2; shift 2; fi
build=${1:-$root/build}
[ $# -gt 0 ] && shift
# Reproducible: the build date comes from the commit, not the clock.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
  export SOURCE_DATE_EPOCH
fi
cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" "$@" >/dev/null
# TALVORN_TARGETS limits the build to the targets named in it.
targets=""
for t in ${TALVORN_TARGETS:-}; do targets="$targets --target $t"; done
cmake --build "$build" -j"$(nproc)" $targets
