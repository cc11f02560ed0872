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
