#!/bin/sh
# Builds everything and runs every test: the unit and end-to-end tests under
# Wine on a virtual X display, the host tools' tests, the build checks and a
# short fuzzing run of the archive walk.
#   scripts/test.sh [build folder]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sh "$root/scripts/deps.sh"
# One date for this build and the reproducibility check's second build.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
sh "$root/scripts/configure.sh" "$build" -DTALVORN_TESTS=ON
talvorn_build="$build"
. "$root/scripts/wine-env.sh"
trap talvorn_env_stop EXIT
cd "$build"
ctest -j"$(nproc)" --output-on-failure --timeout 900
