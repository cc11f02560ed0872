#!/bin/sh
# The shipped exe as a host reads it, whichever build the Wine tests run: a
# 32-bit Windows GUI program whose manifest names x86 and asks for
# administrator rights, and whose stub (the exe without a payload) stays
# under 96 KiB.
#   shipped_exe.sh <objdump of the target> <TalvornSetup.exe> <TalvornSetupStub.exe>
set -eu
fail() { echo "FAILED: $*"; exit 1; }
for exe in "$2" "$3"; do
  "$1" -f "$exe" | grep -q 'file format pei-i386' ||
    fail "$exe is not a 32-bit PE file: $("$1" -f "$exe" | grep format)"
  "$1" -p "$exe" | grep -q '^Subsystem.*Windows GUI' || fail "$exe is no GUI program"
  # The manifest is kept in the resource as its own bytes.
  for part in 'processorArchitecture="x86"' 'level="requireAdministrator"' \
      'name="Talvorn" version="1.0.0.0"'; do
    grep -aqF "$part" "$exe" || fail "$exe: no $part in its manifest"
  done
done
size=$(stat -c %s "$3")
[ "$size" -lt 98304 ] || fail "the stub is $size bytes, 96 KiB or more"
echo "32-bit GUI exes, manifest for x86; stub $size bytes (under 98,304)"
