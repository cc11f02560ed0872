#!/bin/sh
# Two builds of one commit with the same SOURCE_DATE_EPOCH give the same exe,
# signed or not: builds the stub and a signed extractor around the empty
# payload in a scratch tree, and compares them with this build's stub and with
# this build's empty-payload extractor signed by scripts/sign.sh. Then a
# certificate the signing refuses must fail that build and leave no exe under
# the signed name. Uses the material of signing_fixtures.sh.
# usage: reproducible.sh <source dir> <build dir>
set -e
if [ -z "$SOURCE_DATE_EPOCH" ]; then
  echo "SOURCE_DATE_EPOCH is not set; the two builds could differ in date"
  exit 77
fi
certs="$2/tests/signing"
scratch="$2/reproducible"
rm -rf "$scratch"
cmake -S "$1" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/toolchain-i686-mingw.cmake" \
  -DTALVORN_TESTS=OFF -DPAYLOAD_ARCHIVE="$1/resources/empty.payload" \
  -DSIGN_PKCS12="$certs/good.p12" -DSIGN_PASSWORD_FILE="$certs/password.txt" >/dev/null
cmake --build "$scratch" --target TalvornSetupStub TalvornSetup -j2 >/dev/null
cmp "$2/TalvornSetupStub.exe" "$scratch/TalvornSetupStub.exe"
echo "identical: $(stat -c %s "$2/TalvornSetupStub.exe") bytes"

sh "$1/scripts/sign.sh" --pkcs12 "$certs/good.p12" --password-file "$certs/password.txt" \
  "$2/tests/e2e_empty.exe" "$scratch/signed-here.exe" >/dev/null
cmp "$scratch/signed-here.exe" "$scratch/TalvornSetup.exe"
echo "identical when signed: $(stat -c %s "$scratch/TalvornSetup.exe") bytes"

cmake "$scratch" -DSIGN_PKCS12="$certs/expired.p12" >/dev/null
if cmake --build "$scratch" --target TalvornSetup >"$scratch/refused.txt" 2>&1; then
  echo "the build signed with an expired certificate"; exit 1
fi
grep "sign.sh:" "$scratch/refused.txt"
grep -q "has expired" "$scratch/refused.txt"
if [ -e "$scratch/TalvornSetup.exe" ]; then
  echo "a failed signing left TalvornSetup.exe"; exit 1
fi
rm -rf "$scratch"
