#!/bin/sh
# Two builds of one commit with the same SOURCE_DATE_EPOCH give the same exe:
# builds the stub once more in a scratch tree and compares it with this one.
# usage: reproducible.sh <source dir> <build dir>
set -e
if [ -z "$SOURCE_DATE_EPOCH" ]; then
  echo "SOURCE_DATE_EPOCH is not set; the two builds could differ in date"
  exit 77
fi
scratch="$2/reproducible"
rm -rf "$scratch"
cmake -S "$1" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/toolchain-i686-mingw.cmake" \
  -DTALVORN_TESTS=OFF -DPAYLOAD_ARCHIVE="$1/resources/empty.payload" >/dev/null
cmake --build "$scratch" --target TalvornSetupStub -j2 >/dev/null
cmp "$2/TalvornSetupStub.exe" "$scratch/TalvornSetupStub.exe"
echo "identical: $(stat -c %s "$2/TalvornSetupStub.exe") bytes"
rm -rf "$scratch"
