#!/bin/sh
# Builds the fuzzers with clang and runs them for a while: the archive walk,
# then the PE resource reader, each for half the time.
#
#   scripts/fuzz.sh [build-folder] [seconds] [extra libFuzzer flags...]
#
# build-folder defaults to build/fuzz, seconds to 30. The PE reader starts
# from the built exes named in TALVORN_FUZZ_EXES (default: the stub and the
# empty-payload extractor of build/ and of the 64-bit twin's build/x64, those
# that exist). Exits non-zero when a
# fuzzer finds a crash; the crashing input is left in build-folder/findings.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/fuzz}
seconds=${2:-30}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift

mkdir -p "$build"
log="$build/build.log"
{ cmake -S "$root/tools" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
    -DTALVORN_FUZZER=ON -DTALVORN_TOOLS_TESTS=OFF &&
  cmake --build "$build" -j"$(nproc)"; } >"$log" 2>&1 || { cat "$log"; exit 1; }
pack="$build/talvorn-pack"

# Seeds made by the packer: the demo payload's shape with small stand-ins for
# the binaries, a folder nested a few levels deep, and the empty archive.
# zlib1.dll is Debian's own, which the packer accepts as a library the
# extractor can load.
seeds="$build/seeds"
work="$build/seed-folders"
rm -rf "$seeds" "$work"
mkdir -p "$seeds" "$work/demo" "$work/nested/a/b/c" "$work/nested/a/d"
cp -R "$root/resources/demo-payload/." "$work/demo/"
cp /usr/i686-w64-mingw32/lib/zlib1.dll "$work/demo/zlib1.dll"
for exe in "Talvorn Server.exe" Uninstall.exe Launcher.exe InstallTalvorn.exe \
  libeay32.dll libssl32.dll; do
  printf 'MZ stand-in %s' "$exe" >"$work/demo/$exe"
done
"$pack" pack "$work/demo" "$seeds/demo.bin"
cp /usr/i686-w64-mingw32/lib/zlib1.dll "$work/nested/zlib1.dll"
printf 'top' >"$work/nested/top.txt"
printf 'deep' >"$work/nested/a/b/c/deep.txt"
: >"$work/nested/a/d/empty.txt"
"$pack" pack "$work/nested" "$seeds/nested.bin"
printf '\000\000\000\000' >"$seeds/empty.bin"

# Real exes, with and without a payload resource.
pe_seeds="$build/pe-seeds"
rm -rf "$pe_seeds"
mkdir -p "$pe_seeds"
default_exes=""
for dir in "$root/build" "$root/build/x64"; do
  default_exes="$default_exes $dir/TalvornSetupStub.exe $dir/tests/e2e_empty.exe"
done
for exe in ${TALVORN_FUZZ_EXES:-$default_exes}; do
  [ -f "$exe" ] && cp "$exe" "$pe_seeds/"
done

# The corpora grow across runs; the seeds are only their starting point.
half=$(( (seconds + 1) / 2 ))
mkdir -p "$build/corpus" "$build/pe-corpus" "$build/findings"
"$build/archive_walk_fuzzer" "$build/corpus" "$seeds" \
  -max_total_time="$half" -print_final_stats=1 \
  -artifact_prefix="$build/findings/" "$@"
"$build/pe_resource_fuzzer" "$build/pe-corpus" "$pe_seeds" "$seeds" \
  -max_total_time="$half" -print_final_stats=1 \
  -artifact_prefix="$build/findings/pe-" "$@"
