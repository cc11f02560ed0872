#!/bin/sh
# Throwaway signing material, made by openssl at test time in <dir>/signing
# (nothing secret is kept in the repository): a test CA, one signer key and
# three certificates for it from that CA, each in a PKCS#12 file under one
# random password (password.txt):
#   good.p12     for code signing
#   expired.p12  for code signing, expired
#   tls.p12      for TLS servers, not for code signing
# Then <dir>/e2e_signed.exe: the demo extractor <dir>/e2e_demo.exe signed
# with good.p12 the way the build signs.
#   signing_fixtures.sh <tests build dir>
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(cd "$1" && pwd)
certs="$dir/signing"
rm -rf "$certs"
mkdir -p "$certs"
cd "$certs"
umask 077
openssl rand -hex 16 >password.txt
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=Talvorn Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=Talvorn Test Signer" 2>/dev/null
serial=1
certify() {  # <name> <days> <extended key usage>
  printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$3" >"$1.ext"
  serial=$((serial + 1))
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -set_serial "$serial" \
    -days "$2" -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  openssl pkcs12 -export -inkey signer.key -in "$1.pem" -certfile ca.pem \
    -passout file:password.txt -out "$1.p12"
}
certify good 2 codeSigning
certify expired -1 codeSigning
certify tls 2 serverAuth

sh "$root/scripts/sign.sh" --pkcs12 good.p12 --password-file password.txt \
  "$dir/e2e_demo.exe" "$dir/e2e_signed.exe"
