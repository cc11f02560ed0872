#!/bin/sh
# The extractor links the win32 thread model's runtime while the core library
# is compiled by the posix-model compiler; that is only sound while the
# library uses nothing thread-related.
#   thread_model.sh <nm of the target> <library>
set -e
if "$1" -u "$2" | grep -E 'pthread|__gthr|_ZNSt[0-9]*mutex'; then
  echo "the core library needs thread support"; exit 1
fi
echo "no thread symbols"
