#!/bin/sh
# Arrows point down: support/ uses nothing else of ours; security/ (who may
# change what) uses support/ alone; nothing outside app/ includes app/.
#   layering.sh <source folder>
set -eu
cd "$1"
bad=$(grep -n '#include "app/' payload/* compression/* completion/* security/* support/* || true)
bad="$bad$(grep -n '#include "\(payload\|compression\|completion\|security\)/' support/* || true)"
bad="$bad$(grep -n '#include "\(payload\|compression\|completion\)/' security/* || true)"
if [ -n "$bad" ]; then
  echo "includes against the layering:"
  echo "$bad"
  exit 1
fi

# The sources built without exception tables (TALVORN_EXCEPTION_FREE_SOURCES
# in CMakeLists.txt) must neither raise nor call what raises: a CException
# unwinding through one of them would end the process.
free=$(sed -n '/^set(TALVORN_EXCEPTION_FREE_SOURCES/,/)/p' CMakeLists.txt |
  sed 's/set(TALVORN_EXCEPTION_FREE_SOURCES//; s/)//' | tr -s ' \n' '\n' | grep '\.cc$')
[ -n "$free" ] || { echo "no exception-free sources listed in CMakeLists.txt"; exit 1; }
raising='\<\(throw\|try\|Fail\|FailA\|FailFormatA\|Require\|RaiseCException\|WriteOrFail\|unzipFrom\|ExtractFiles\|ExtractPayload\|CreateEntryDirectories\|WriteRawData\|CreateTempDirectory\|ChooseTempBase\)\>\s*[({]'
bad=$(for f in $free; do grep -Hn "$raising" "$f" || true; done)
if [ -n "$bad" ]; then
  echo "raising in a source built without exception tables:"
  echo "$bad"
  exit 1
fi
echo "layering kept; $(echo "$free" | wc -l) sources without exception tables raise nothing"
