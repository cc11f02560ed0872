#!/bin/sh
# The extractor is linked statically: it may import system DLLs only.
#   imports.sh <objdump of the target> <exe>
set -e
dlls=$("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort)
echo "$dlls"
for dll in $dlls; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|SHELL32.DLL|ADVAPI32.DLL|MSVCRT.DLL|GDI32.DLL) ;;
    *) echo "unexpected import: $dll"; exit 1 ;;
  esac
done
