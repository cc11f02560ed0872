#!/bin/sh
# Two builds of one commit with the same SOURCE_DATE_EPOCH give the same exe,
# signed or not: builds the stub and a signed extractor around the empty
# payload in a scratch tree, and compares them with this build's stub and with
# this build's empty-payload extractor signed by scripts/sign.sh. Then a
# certificate the signing refuses must fail that build and leave no exe under
# the signed name. Uses the material of signing_fixtures.sh.
#
# Signed builds are identical only with an RSA key, whose PKCS#1 v1.5
# signatures are deterministic; an ECDSA signature takes a random nonce and
# differs every time. This check covers RSA keys, and says so.
# usage: reproducible.sh <source dir> <build dir> <toolchain file>
set -e
if [ -z "$SOURCE_DATE_EPOCH" ]; then
  echo "SOURCE_DATE_EPOCH is not set; the two builds could differ in date"
  exit 77
fi
certs="$2/tests/signing"
scratch="$2/reproducible"
rm -rf "$scratch"
cmake -S "$1" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$3" \
  -DTALVORN_TESTS=OFF -DPAYLOAD_ARCHIVE="$1/resources/empty.payload" \
  -DSIGN_PKCS12="$certs/good.p12" -DSIGN_PASSWORD_FILE="$certs/password.txt" \
  -DSIGN_DESCRIPTION= >/dev/null
cmake --build "$scratch" --target TalvornSetupStub TalvornSetup -j2 >/dev/null
cmp "$2/TalvornSetupStub.exe" "$scratch/TalvornSetupStub.exe"
echo "identical: $(stat -c %s "$2/TalvornSetupStub.exe") bytes"

key=$(openssl x509 -in "$certs/good.pem" -noout -text | sed -n 's/^ *Public Key Algorithm: //p')
if [ "$key" != rsaEncryption ]; then
  echo "the test certificate's key is $key: this check covers RSA keys only"; exit 1
fi
# An empty description is the default one, so both signatures name it.
sh "$1/scripts/sign.sh" --pkcs12 "$certs/good.p12" --password-file "$certs/password.txt" \
  "$2/tests/e2e_empty.exe" "$scratch/signed-here.exe" >/dev/null
cmp "$scratch/signed-here.exe" "$scratch/TalvornSetup.exe"
echo "identical when signed with an RSA key (PKCS#1 v1.5):" \
  "$(stat -c %s "$scratch/TalvornSetup.exe") bytes; ECDSA keys are not covered"

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
