#!/bin/sh
# Host-side fixtures for the tests, made in the folder given as $1:
#  - link-fixture: a tree holding a Unix symbolic link to a folder outside it,
#    which Win32 under Wine sees as a reparse point; read-only files on both
#    sides of the link;
#  - fake-drive, mapped as drive T: of the Wine prefix, so that a test can
#    stand at the root of a drive that holds nothing of value;
#  - full-drive, a small tmpfs mapped as drive S:, which a test fills up to
#    see the extractor meet a full disk. Mounting needs root (and a machine
#    that allows it); without it the drive is not mapped and that test skips.
# "make_fixtures.sh <folder> --unmount" takes the tmpfs down again.
set -e
prefix="${WINEPREFIX:-$(cd "$(dirname "$0")/../.." && pwd)/build/wineprefix}"
full="$1/full-drive"
if [ "${2:-}" = "--unmount" ]; then
  rm -f "$prefix/dosdevices/s:"
  if mountpoint -q "$full" 2>/dev/null; then umount "$full" || true; fi
  exit 0
fi

root="$1/link-fixture"
[ -d "$root" ] && chmod -R u+w "$root"
rm -rf "$root"
mkdir -p "$root/tree/sub" "$root/outside/sub"
echo keep > "$root/outside/keep.txt"
echo keep > "$root/outside/sub/keep-too.txt"
echo keep > "$root/outside/readonly.txt"
chmod a-w "$root/outside/readonly.txt"
echo gone > "$root/tree/sub/file.txt"
echo gone > "$root/tree/sub/readonly.txt"
chmod a-w "$root/tree/sub/readonly.txt"
ln -s ../outside "$root/tree/folder-link"

drive="$1/fake-drive"
rm -rf "$drive"
mkdir -p "$drive"
echo keep > "$drive/precious.txt"
mkdir -p "$prefix/dosdevices"
ln -sfn "$drive" "$prefix/dosdevices/t:"

rm -f "$prefix/dosdevices/s:"
mkdir -p "$full"
if mountpoint -q "$full" || mount -t tmpfs -o size=4m,mode=1777 tmpfs "$full" 2>/dev/null; then
  find "$full" -mindepth 1 -delete
  ln -sfn "$full" "$prefix/dosdevices/s:"
else
  echo "no tmpfs could be mounted at $full: the full-disk test will be skipped"
fi
