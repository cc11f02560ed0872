#!/bin/sh
# Builds TalvornSetup.exe (demo payload unless PAYLOAD_DIR/PAYLOAD_ARCHIVE are
# given as -D options) and runs it end to end under Wine:
#   scripts/run.sh [--interactive] [-DPAYLOAD_DIR=...]
# Headless (the default) the setup stand-in installs by itself, the answering
# robot says OK to every question and screenshots land in build/run/shots
# (build/x64/run/shots for the 64-bit twin). Exits non-zero, saying why, when
# the extractor could not be run or did not end.
# With --interactive (and a DISPLAY), a person clicks instead.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
interactive=0
if [ "${1:-}" = "--interactive" ]; then interactive=1; shift; fi
if [ $interactive = 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "--interactive needs a display (DISPLAY is not set)"; exit 2
fi

sh "$root/scripts/deps.sh"
# Where this host cannot run the shipped 32-bit exe, the demo runs the 64-bit
# twin, built in build/x64 (scripts/arch.sh).
. "$root/scripts/arch.sh"
if [ "$talvorn_run_arch" = x64 ]; then build="$root/build/x64"; fi
TALVORN_TARGETS="TalvornSetup robot" sh "$root/scripts/configure.sh" \
  --arch "$talvorn_run_arch" "$build" "$@"
talvorn_build="$build"
. "$root/scripts/wine-env.sh"
trap talvorn_env_stop EXIT

run="$build/run"
rm -rf "$run"
mkdir -p "$run/shots"
cp "$build/TalvornSetup.exe" "$run/"
export TALVORN_RECORD_FILE="$run/programs.txt"

# The extractor deletes its log at the end of a clean run: a hard link made as
# soon as the log appears keeps every line.
( for _ in $(seq 3000); do
    ln "$run/TLExtractorLog.txt" "$run/log-kept.txt" 2>/dev/null && exit 0
    sleep 0.01
  done ) &
keeper=$!

cd "$run"
status=0
if [ $interactive = 1 ]; then
  wine TalvornSetup.exe </dev/null >/dev/null 2>&1 || status=$?
else
  export TALVORN_SETUP_SCRIPT="${TALVORN_SETUP_SCRIPT:-show,wait=1500,install}"
  wine "$build/testkit/robot.exe" --record "$run/boxes.txt" --shots "$run/shots" \
    --answer "Complete=OK" --timeout-ms 120000 --wait-tree -- TalvornSetup.exe \
    </dev/null >/dev/null 2>&1 || status=$?
fi
wait $keeper 2>/dev/null || true

echo "== Extraction log"
if [ -f "$run/log-kept.txt" ]; then
  iconv -f UTF-16 -t UTF-8 "$run/log-kept.txt" | tr -d '\r'
fi
if [ -f "$run/boxes.txt" ]; then
  echo "== Message boxes and windows seen (caption, text, buttons, icon, answer)"
  cat "$run/boxes.txt"
fi
if [ -f "$TALVORN_RECORD_FILE" ]; then
  echo "== How the stand-in programs were started"
  cut -c1-200 "$TALVORN_RECORD_FILE"
fi
echo "== Left beside the extractor"
ls -1 "$run" | grep -v -e '^shots$' -e '^log-kept.txt$' -e '^boxes.txt$' \
  -e '^programs.txt$' || true
for bmp in "$run"/shots/*.bmp; do
  [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "== Screenshots"
ls -1 "$run"/shots/*.png 2>/dev/null || echo "(none)"
echo "== Exit code: $status"
# The extractor always ends with 0: anything else is Wine, or the robot,
# saying that it could not be started or did not end.
if [ "$status" != 0 ]; then
  case $status in
    124) why="it did not end within the robot's time limit" ;;
    126) why="Wine could not start it (126: the program or its loader cannot run here)" ;;
    *) why="the run ended with $status" ;;
  esac
  echo "== FAILED: the extractor did not run end to end: $why" >&2
  exit 1
fi
