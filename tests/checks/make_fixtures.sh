#!/bin/sh
# Host-side fixtures for the removal tests, made in the folder given as $1:
#  - link-fixture: a tree holding a Unix symbolic link to a folder outside it,
#    which Win32 under Wine sees as a reparse point;
#  - fake-drive, mapped as drive T: of the Wine prefix, so that a test can
#    stand at the root of a drive that holds nothing of value.
set -e
root="$1/link-fixture"
rm -rf "$root"
mkdir -p "$root/tree/sub" "$root/outside/sub"
echo keep > "$root/outside/keep.txt"
echo keep > "$root/outside/sub/keep-too.txt"
echo gone > "$root/tree/sub/file.txt"
ln -s ../outside "$root/tree/folder-link"

prefix="${WINEPREFIX:-$(cd "$(dirname "$0")/../.." && pwd)/build/wineprefix}"
drive="$1/fake-drive"
rm -rf "$drive"
mkdir -p "$drive"
echo keep > "$drive/precious.txt"
mkdir -p "$prefix/dosdevices"
ln -sfn "$drive" "$prefix/dosdevices/t:"
