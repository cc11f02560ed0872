#!/bin/bash
# Extraction benchmark: how fast the extractor unpacks a payload under Wine,
# against a bare in-memory inflate of the same streams (same process, same
# zlib1.dll), against a native Info-ZIP unzip of the same folder and against
# an NSIS installer of it (bench/nsis_peer.nsi, same bitness, same Wine); and
# how much the process's memory grows while it unpacks. Every payload is
# packed twice, with the packer's own streams (libdeflate, level 12) and with
# zlib's level 9, and both are timed, so that a slower inflate would show;
# the installers built around each, and the NSIS one, are weighed.
#
#   scripts/bench.sh [build folder]        (default: build, or build/x64)
#
# It measures the build that this host's Wine runs (scripts/arch.sh): the
# shipped 32-bit code, or the 64-bit twin where the kernel runs no 32-bit
# programs (or TALVORN_TEST_ARCH=x64), and says which. The in-memory floor is
# built for the same bitness, with the same zlib1.dll.
#
# Settings from the environment:
#   BENCH_SIZES  payload sizes in MiB (default "8 64 256")
#   BENCH_REPS   timed runs per size (default 5); the best and the median count
#   BENCH_SEED   seed of the generated payloads (default 1729)
#
# Everything it makes stays in <build folder>/bench: the generated payload
# folders with their archives, zips and NSIS installers (reused while the
# generator and its settings are unchanged), the benchmark program, a build
# of the installer (installer/, configured once: each archive is linked in
# as PAYLOAD_ARCHIVE and the exe weighed), the raw results
# (results.txt) and the scratch folder where each run unpacks. Prints a table
# at the end. The figures are reported, never judged: the exit code is 0
# unless the benchmark could not be built or run.
set -euo pipefail
export LC_ALL=C  # a decimal point in $EPOCHREALTIME and in awk

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/arch.sh"
default_build=$root/build
[ "$talvorn_run_arch" = x64 ] && default_build=$root/build/x64
build=${1:-$default_build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
toolchain=$root/cmake/toolchain-$talvorn_run_arch.cmake
sizes=${BENCH_SIZES:-8 64 256}
reps=${BENCH_REPS:-5}
seed=${BENCH_SEED:-1729}
data=$build/bench
work=$data/work  # beside the archives: the same disk
results=$data/results.txt
packer=$build/tools/talvorn-pack
nsis_target=x86-unicode
[ "$talvorn_run_arch" = x64 ] && nsis_target=amd64-unicode
peer_script=$root/bench/nsis_peer.nsi
mkdir -p "$data"

say() { echo "bench: $*" >&2; }

# The core library and the packer of the build folder, then the benchmark
# program against that library.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
fi
say "building talvorn_core and the packer in $build"
cmake --build "$build" --target talvorn_core talvorn_tools -j"$(nproc)" >/dev/null
zlib=$(sed -n 's/^TALVORN_ZLIB_DLL:[A-Z]*=//p' "$build/CMakeCache.txt")
cmake -S "$root/bench" -B "$data/prog" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DTALVORN_BUILD_DIR="$build" >/dev/null
cmake --build "$data/prog" >/dev/null
program=$data/prog/talvorn-bench.exe

# The kinds of stream compared: the packer's default, and zlib's level 9.
kinds="libdeflate12 zlib9"
pack_options() { if [ "$1" = zlib9 ]; then echo "--level 9"; fi; }
archive_of() { echo "$1-$2.bin"; }

# The installer around an archive, built from this tree for the same
# bitness; weighed, then left for the next archive.
installer=$data/installer
weigh_installer() {
  if [ ! -f "$installer/CMakeCache.txt" ]; then
    say "configuring the installer build in $installer"
    cp "$1" "$installer.bin"
    cmake -S "$root" -B "$installer" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DTALVORN_TESTS=OFF -DPAYLOAD_ARCHIVE="$installer.bin" >/dev/null
  fi
  cmp -s "$1" "$installer.bin" || cp "$1" "$installer.bin"
  cmake --build "$installer" --target TalvornSetup -j"$(nproc)" >/dev/null
  stat -c %s "$installer/TalvornSetup.exe"
}

# The payloads, their archives and their zips; each is remade only when what
# it comes from is newer.
for size in $sizes; do
  folder=$data/payload-${size}M
  say "$(python3 "$root/bench/make_payload.py" "$folder" "$size" --seed "$seed" --zlib "$zlib")"
  for kind in $kinds; do
    archive=$(archive_of "$folder" "$kind")
    if [ ! "$archive" -nt "$folder.stamp" ] || [ ! "$archive" -nt "$packer" ]; then
      say "packing $folder ($kind)"
      start=$EPOCHREALTIME
      # shellcheck disable=SC2046
      "$packer" pack "$folder" "$archive" --machine "$talvorn_run_arch" $(pack_options "$kind")
      echo "$EPOCHREALTIME $start" | awk '{ printf "%.3f\n", $1 - $2 }' >"$archive.pack-seconds"
    fi
    # Weighed every time: the stub may have changed since.
    say "building the installer around $archive"
    weigh_installer "$archive" >"$archive.installer-bytes"
  done
  if [ ! "$folder.zip" -nt "$folder.stamp" ]; then
    say "zipping $folder"
    rm -f "$folder.zip"
    (cd "$folder" && zip -9 -r -q "$folder.zip" .)
  fi
  peer=$folder-nsis-$nsis_target.exe
  if [ ! "$peer" -nt "$folder.stamp" ] || [ ! "$peer" -nt "$peer_script" ]; then
    say "building the NSIS installer of $folder"
    makensis -V2 -DTARGET="$nsis_target" -DPAYLOAD="$folder" -DOUTFILE="$peer" \
      "$peer_script" >/dev/null
  fi
done
# The same installer carrying nothing: what starting one costs under Wine
# (the process, its own CRC check), taken off the peer's times.
peer_empty=$data/empty-nsis-$nsis_target.exe
if [ ! "$peer_empty" -nt "$peer_script" ]; then
  makensis -V2 -DTARGET="$nsis_target" -DOUTFILE="$peer_empty" "$peer_script" >/dev/null
fi

# Wine: the build folder's own prefix and a persistent server. (A server
# that is already running makes "wineserver -p" fail, which is no failure.)
set +e
talvorn_build="$build"
. "$root/scripts/wine-env.sh"
set -e
trap talvorn_env_stop EXIT

windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }

# One Wine process per run, as the extractor unpacks once per process; each
# line it prints is kept with the size and the run number in front and the
# kind of stream behind.
run_program() {
  local size=$1 rep=$2 kind=$3
  shift 3
  rm -rf "$work/run"
  # The program's lines end in CR LF; the CR goes, so the kind stays on its line.
  wine "$program" "$@" </dev/null 2>/dev/null |
    sed "s/\r\$//; s/^/$size $rep /; s/\$/ streams=$kind/" >>"$results" || true
  rm -rf "$work/run"
}

# One timed run of a native tool or an installer: "<size> <rep> <TAG>
# <key>=<seconds> status=<exit code> files=<files left in <folder>>". The
# folder is fresh for every run and removed after it.
time_tool() {
  local size=$1 rep=$2 tag=$3 key=$4 out=$5 status=0 start end files
  shift 5
  rm -rf "$out"
  start=$EPOCHREALTIME
  "$@" </dev/null >/dev/null 2>&1 || status=$?
  end=$EPOCHREALTIME
  files=$(find "$out" -type f 2>/dev/null | wc -l) || true  # no folder: 0
  echo "$size $rep $tag $key=$(seconds_between "$start" "$end") status=$status files=$files" >>"$results"
  rm -rf "$out"
}

run_peer() {
  time_tool "$1" "$2" NSIS nsis_s "$work/nsis" wine "$3" "/D=$(windows_path "$work/nsis")"
}

: >"$results"
mkdir -p "$work"
for size in $sizes; do
  folder=$data/payload-${size}M
  run=$(windows_path "$work/run")
  peer=$folder-nsis-$nsis_target.exe
  for kind in $kinds; do
    archive=$(archive_of "$folder" "$kind")
    echo "$size 0 SIZE streams=$kind archive=$(stat -c %s "$archive")" \
      "installer=$(cat "$archive.installer-bytes")" \
      "pack_s=$(cat "$archive.pack-seconds" 2>/dev/null || echo -)" >>"$results"
  done
  echo "$size 0 SIZE streams=nsis installer=$(stat -c %s "$peer")" >>"$results"
  for rep in $(seq "$reps"); do
    say "${size} MiB: run $rep of $reps"
    # Alternate which goes first, so that neither always meets a warmer cache.
    order=extract-first
    [ $((rep % 2)) -eq 1 ] && order=inflate-first
    # The peer alternates too, before and after the extractor, and so do the
    # two kinds of stream.
    if [ $((rep % 2)) -eq 0 ]; then run_peer "$size" "$rep" "$peer"; fi
    ordered_kinds=$kinds
    [ $((rep % 2)) -eq 0 ] && ordered_kinds=$(echo "$kinds" | awk '{ print $2, $1 }')
    for kind in $ordered_kinds; do
      run_program "$size" "$rep" "$kind" time "$(windows_path "$(archive_of "$folder" "$kind")")" \
        "$run" "$order"
    done
    if [ $((rep % 2)) -eq 1 ]; then run_peer "$size" "$rep" "$peer"; fi
    time_tool "$size" "$rep" NSIS_START start_s "$work/nsis" \
      wine "$peer_empty" "/D=$(windows_path "$work/nsis")"
    time_tool "$size" "$rep" UNZIP unzip_s "$work/unzip" \
      unzip -q -o "$folder.zip" -d "$work/unzip"
  done
  for kind in $kinds; do
    say "${size} MiB: memory run ($kind)"
    run_program "$size" 0 "$kind" memory "$(windows_path "$(archive_of "$folder" "$kind")")" "$run"
  done
done

echo
if [ "$talvorn_run_arch" = x64 ]; then
  echo "Measured: the 64-bit twin under wine64 ($talvorn_run_why), not the shipped 32-bit exe."
else
  echo "Measured: the shipped 32-bit build."
fi
echo "Extraction under Wine: the extractor's ExtractFiles (log in the run folder,"
echo "one line per entry and per directory, each flushed by the log's thread)."
echo "In-memory: the same streams inflated with the same zlib1.dll and"
echo "100,000-byte buffer, output discarded."
echo "MiB/s count inflated bytes. Best of $reps runs, median after the slash."
echo "Memory growth: peak during the extraction minus just before it, sampled"
echo "every millisecond (RssAnon under Wine, private bytes on Windows); the log"
echo "and its flushing thread are made before, and what they cost is shown apart."
echo "NSIS: an installer of the same folder ($nsis_target, zlib, not solid, CRC"
echo "check on, silent, no log) unpacking into a fresh folder, its whole process"
echo "timed less the best time of the same installer carrying nothing."
echo "Streams: libdeflate12 (the packer's default) in the main table; zlib9"
echo "(--level 9) timed alike. Sizes: the archive, and the installer built"
echo "around it (TalvornSetup.exe, unsigned), against the NSIS installer."
echo
python3 "$root/bench/summarise.py" "$results"
echo
echo "Raw results: $results"
