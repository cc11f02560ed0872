#!/bin/sh
# Signs a Windows exe with Authenticode (SHA-256) using osslsigncode; the
# build runs it on TalvornSetup.exe when SIGN_PKCS12 is given, and it works
# on any exe by hand:
#
#   scripts/sign.sh --pkcs12 <file.p12> --password-file <file> [--description <text>]
#                   [--timestamp-url <url> | --time <unix time>] <in.exe> <out.exe>
#
# An empty --description means the default, "Talvorn Setup".
#
# The password is read from its file by openssl and osslsigncode themselves;
# it never appears on a command line. Without a timestamp server the signing
# time is --time, else SOURCE_DATE_EPOCH, else now: with a fixed time two
# signings of the same exe with the same certificate give the same bytes.
#
# The certificate is checked first: the file opens with the password, it has
# not expired, and it is meant for code signing. Any failure names the
# problem and exits 1. out.exe is removed first and only ever appears signed:
# osslsigncode writes beside it and the result is renamed into place.
set -eu

pkcs12= password_file= description="Talvorn Setup" timestamp_url= time=
while [ $# -gt 2 ]; do
  case "$1" in
    --pkcs12) pkcs12=$2 ;;
    --password-file) password_file=$2 ;;
    --description) description=$2 ;;
    --timestamp-url) timestamp_url=$2 ;;
    --time) time=$2 ;;
    *) echo "sign.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [ $# -ne 2 ] || [ -z "$pkcs12" ] || [ -z "$password_file" ]; then
  echo "usage: sign.sh --pkcs12 <file> --password-file <file> [--description <text>]" \
    "[--timestamp-url <url> | --time <unix time>] <in.exe> <out.exe>" >&2
  exit 2
fi
in=$1 out=$2
[ -n "$description" ] || description="Talvorn Setup"
if [ "$(realpath -m "$in")" = "$(realpath -m "$out")" ]; then
  echo "sign.sh: the signed exe must be written to another name than $in" >&2
  exit 2
fi

rm -f "$out"
fail() { echo "sign.sh: $*; $out not written" >&2; exit 1; }

[ -f "$in" ] || fail "no exe to sign at $in"
[ -f "$pkcs12" ] && [ -r "$pkcs12" ] || fail "the certificate file $pkcs12 does not exist or cannot be read"
[ -f "$password_file" ] && [ -r "$password_file" ] ||
  fail "the password file $password_file does not exist or cannot be read"
# openssl reads the first line, osslsigncode the whole file less a final line
# feed: they agree only when a line feed, if any, is the last byte and there
# is no carriage return. Counting lines is not enough: "secret", a line feed
# and "extra" is one line to wc, opens in openssl and fails in osslsigncode.
line_feeds=$(tr -cd '\n' <"$password_file" | wc -c)
returns=$(tr -cd '\r' <"$password_file" | wc -c)
last=$(tail -c 1 "$password_file" | od -An -tx1 | tr -d ' \n')
if [ "$returns" -gt 0 ] || [ "$line_feeds" -gt 1 ] ||
    { [ "$line_feeds" -eq 1 ] && [ "$last" != 0a ]; }; then
  fail "the password file $password_file must hold the password alone, on one line" \
    "ending in a plain line feed or nothing"
fi
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (apt-get install osslsigncode)"

work=$(mktemp -d "${TMPDIR:-/tmp}/talvorn-sign.XXXXXX")
partial="$out.signing"
rm -f "$partial"
trap 'rm -rf "$work"; rm -f "$partial"' EXIT

# The signer's certificate alone (-clcerts: the one that goes with the key).
# Files exported with old ciphers need OpenSSL's legacy provider.
extract_cert() {
  openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -clcerts \
    -out "$work/cert.pem" "$@" 2>"$work/openssl.txt"
}
if ! extract_cert && ! { grep -qi unsupported "$work/openssl.txt" && extract_cert -legacy; }; then
  if grep -qi -e "invalid password" -e "mac verify" "$work/openssl.txt"; then
    fail "the password in $password_file does not open $pkcs12"
  fi
  cat "$work/openssl.txt" >&2
  fail "$pkcs12 is not a PKCS#12 file that openssl can read"
fi
grep -q "BEGIN CERTIFICATE" "$work/cert.pem" || fail "$pkcs12 holds no certificate for its key"
subject=$(openssl x509 -in "$work/cert.pem" -noout -subject | sed 's/^subject=//')
if ! openssl x509 -in "$work/cert.pem" -noout -checkend 0 >/dev/null; then
  fail "the certificate \"$subject\" in $pkcs12 has expired" \
    "($(openssl x509 -in "$work/cert.pem" -noout -enddate))"
fi
if ! openssl x509 -in "$work/cert.pem" -noout -ext extendedKeyUsage 2>/dev/null |
    grep -q "Code Signing"; then
  fail "the certificate \"$subject\" in $pkcs12 is not for code signing" \
    "(its extended key usage lacks Code Signing)"
fi

# The time options, as the positional parameters (in and out are kept above).
if [ -n "$timestamp_url" ]; then
  set -- -ts "$timestamp_url"
else
  set -- -time "${time:-${SOURCE_DATE_EPOCH:-$(date +%s)}}"
fi
if ! osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 \
    -n "$description" "$@" -in "$in" -out "$partial" >"$work/sign.txt" 2>&1; then
  cat "$work/sign.txt" >&2
  fail "osslsigncode could not sign $in"
fi
chmod "$(stat -c %a "$in")" "$partial"
mv "$partial" "$out"
echo "signed $out as \"$subject\""
