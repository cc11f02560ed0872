#!/bin/sh
# Builds everything and runs every test: the unit and end-to-end tests under
# Wine on a virtual X display, the host tools' tests, the build checks and a
# short fuzzing run of the archive walk.
#   scripts/test.sh [build folder]
# Where this host runs no 32-bit programs (or TALVORN_TEST_ARCH=x64), the
# shipped 32-bit exe is built in the build folder and checked there on the
# host, and the Wine tests run against the 64-bit twin, built in
# <build folder>/x64 (scripts/arch.sh).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sh "$root/scripts/deps.sh"
. "$root/scripts/arch.sh"
# One date for this build and the reproducibility check's second build.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH

failed=""
# build_and_test <arch> <folder> <ON: the Wine tests too> <what it holds>
build_and_test() {
  sh "$root/scripts/configure.sh" --arch "$1" "$2" -DTALVORN_TESTS=ON -DTALVORN_WINE_TESTS="$3"
  if [ "$3" = ON ]; then
    talvorn_build="$2"
    . "$root/scripts/wine-env.sh"
    trap talvorn_env_stop EXIT
  fi
  (cd "$2" && ctest -j"$(nproc)" --output-on-failure --timeout 900) || failed="$failed; $4"
}
if [ "$talvorn_run_arch" = x86 ]; then
  build_and_test x86 "$build" ON "the shipped 32-bit exe"
  summary="Wine tests ran against the shipped 32-bit exe"
else
  # The shipped exe: built, and checked wherever it is only read.
  build_and_test x86 "$build" OFF "the host checks of the shipped 32-bit exe"
  build_and_test x64 "$build/x64" ON "the 64-bit twin"
  summary="Wine tests ran against the 64-bit twin: $talvorn_run_why. The shipped 32-bit exe was built and checked on the host only (its header, imports, manifest and stub size, signing, a byte-identical rebuild, the packer's list/verify/extract)"
fi
echo "== $summary"
if [ -n "$failed" ]; then
  echo "== FAILED:${failed#;}"
  exit 1
fi
