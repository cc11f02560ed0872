#!/bin/sh
# Arrows point down: support/ uses nothing else of ours, and nothing outside
# app/ includes app/.
#   layering.sh <source folder>
set -eu
cd "$1"
bad=$(grep -n '#include "app/' payload/* compression/* completion/* support/* || true)
bad="$bad$(grep -n '#include "\(payload\|compression\|completion\)/' support/* || true)"
if [ -n "$bad" ]; then
  echo "includes against the layering:"
  echo "$bad"
  exit 1
fi
