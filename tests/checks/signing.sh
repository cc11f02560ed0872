#!/bin/sh
# The signed demo extractor from outside, and the signing refusals. Uses the
# material of signing_fixtures.sh.
#   signing.sh <tests build dir> <talvorn-pack>
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(cd "$1" && pwd)
pack=$2
certs="$dir/signing"
signed="$dir/e2e_signed.exe"
work="$dir/signing-check"
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAILED: $*"; exit 1; }

# The signature verifies against the test CA; the packer sees it and reads
# the same payload as in the unsigned exe.
osslsigncode verify -CAfile "$certs/ca.pem" -in "$signed" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt"; fail "the signed exe does not verify"; }
"$pack" verify "$signed" >"$work/pack-verify.txt"
grep -qx "Authenticode signature: present" "$work/pack-verify.txt" ||
  fail "talvorn-pack sees no signature: $(cat "$work/pack-verify.txt")"
"$pack" list "$signed" >"$work/signed.txt"
"$pack" list "$dir/e2e_demo.exe" >"$work/unsigned.txt"
cmp -s "$work/signed.txt" "$work/unsigned.txt" || fail "the listings differ"
echo "verified: $(stat -c %s "$signed") bytes signed, $(stat -c %s "$dir/e2e_demo.exe") unsigned"

# One flipped byte in the middle of the payload breaks the signature.
python3 - "$signed" "$dir/e2e/e2e_demo.bin" "$work/flipped.exe" <<'PY'
import sys
exe = bytearray(open(sys.argv[1], "rb").read())
payload = open(sys.argv[2], "rb").read()
at = exe.find(payload)
assert at > 0, "payload not found in the exe"
exe[at + len(payload) // 2] ^= 0x01
open(sys.argv[3], "wb").write(exe)
PY
if osslsigncode verify -CAfile "$certs/ca.pem" -in "$work/flipped.exe" >"$work/flipped.txt" 2>&1; then
  fail "a flipped payload byte still verifies"
fi
grep -q MISMATCH "$work/flipped.txt" || { cat "$work/flipped.txt"; fail "no digest mismatch"; }
echo "a flipped payload byte fails verification"

# Each refusal names its problem, fails and leaves nothing under the name.
password=$(cat "$certs/password.txt")
printf 'not the password\n' >"$work/wrong-password.txt"
printf '%s\r\n' "$password" >"$work/crlf-password.txt"
printf '%s\nextra' "$password" >"$work/two-lines.txt"
printf '\n%s' "$password" >"$work/leading-line-feed.txt"
refused() {  # <expected message part> <pkcs12> <password file>
  : >"$work/out.exe"
  if sh "$root/scripts/sign.sh" --pkcs12 "$2" --password-file "$3" \
      "$dir/e2e_demo.exe" "$work/out.exe" >"$work/refusal.txt" 2>&1; then
    fail "signed with $2 and $3"
  fi
  grep -q "$1" "$work/refusal.txt" || fail "expected \"$1\", got: $(cat "$work/refusal.txt")"
  [ ! -e "$work/out.exe" ] && [ ! -e "$work/out.exe.signing" ] || fail "$2 left a file behind"
  echo "refused: $(cat "$work/refusal.txt")"
}
refused "does not open" "$certs/good.p12" "$work/wrong-password.txt"
refused "does not exist" "$certs/missing.p12" "$certs/password.txt"
refused "does not exist" "$certs/good.p12" "$work/missing.txt"
refused "must hold the password alone" "$certs/good.p12" "$work/crlf-password.txt"
refused "must hold the password alone" "$certs/good.p12" "$work/two-lines.txt"
refused "must hold the password alone" "$certs/good.p12" "$work/leading-line-feed.txt"
refused "has expired" "$certs/expired.p12" "$certs/password.txt"
refused "is not for code signing" "$certs/tls.p12" "$certs/password.txt"
refused "is not a PKCS#12 file" "$certs/ca.pem" "$certs/password.txt"

# The password alone with no line end at all is fine.
printf '%s' "$password" >"$work/no-line-end.txt"
sh "$root/scripts/sign.sh" --pkcs12 "$certs/good.p12" --password-file "$work/no-line-end.txt" \
  "$dir/e2e_empty.exe" "$work/out.exe" >"$work/accepted.txt" 2>&1 ||
  fail "a password without a line end was refused: $(cat "$work/accepted.txt")"
echo "accepted: a password without a line end"
rm -rf "$work"
