#!/bin/sh
# Quick checks of the robot and the stand-ins under Wine.
#   selftest.sh <folder of the testkit programs> <work folder> <wine-run>
# Exit 77 (skipped) without an X display.
set -u
KIT=$(cd "$1" && pwd)
WORK=$2
WINE_RUN=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: skipped"; exit 77; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# A Windows path for a Unix one, through Wine's Z: drive.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Every Wine run with its output in files: a process it leaves running (the
# wine server) must not hold the caller's pipes open.
wine_run() {
  log=$1
  shift
  "$WINE_RUN" "$@" </dev/null >"$log" 2>&1
}

rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
WORK=$(pwd)
export TALVORN_RECORD_FILE="$(winpath "$WORK/records.txt")"
unset TALVORN_SETUP_SCRIPT TALVORN_SETUP_INSTALL_DIR TALVORN_SETUP_INSTPATH \
      TALVORN_SETUP_HANDOFF_PATH TALVORN_LAUNCHER_START

# --- The robot answers five boxes: queued answers, defaults, the icons.
wine_run robot.log "$KIT/robot.exe" --answer Complete=Cancel --answer Careful=No \
  --record boxes.txt --shots "$(winpath "$WORK/shots")" -- "$KIT/kit_selftest.exe" \
  "Error|No zip 100|ok|error" \
  "Extractor|Error launching installer. Error=2|ok|none" \
  "Complete|Do you wish to launch the application now?|okcancel|question" \
  "Careful|Proceed?|yesnocancel|warning" \
  "Note|Done.|ok|information"
code=$?
[ $code -eq 7 ] || fail "robot exit code $code, expected the program's 7"
printf '%s\t%s\t%s\t%s\t%s\n' \
  Error "No zip 100" OK error OK \
  Extractor "Error launching installer. Error=2" OK none OK \
  Complete "Do you wish to launch the application now?" OK,Cancel question Cancel \
  Careful "Proceed?" Yes,No,Cancel warning No \
  Note "Done." OK information OK >expected.txt
printf '#exit\t7\n' >>expected.txt
grep -v '^#shot' boxes.txt | diff expected.txt - || fail "robot's box lines"
for result in "Error	result=1" "Extractor	result=1" "Complete	result=2" \
              "Careful	result=7" "Note	result=1"; do
  grep -q "caption=$result\$" records.txt || fail "the program got no $result"
done
[ "$(grep -c '^#shot' boxes.txt)" -eq 5 ] || fail "five shots expected"
grep '^#shot' boxes.txt | grep -E 'blank|failed' && fail "blank or failed shots"
[ -s shots/001-Error.bmp ] || fail "no shots/001-Error.bmp"

# --- A program that never ends is killed at the time limit.
wine_run timeout.log "$KIT/robot.exe" --record timeout.txt --timeout-ms 1500 \
  -- "$KIT/kit_selftest.exe" sleep:30000
code=$?
[ $code -eq 124 ] || fail "timeout exit code $code"
printf '#timeout\t1500\n' | diff - timeout.txt || fail "timeout record"

# --- The setup stand-in: its arguments as the extractor passes them, then a
# scripted installation into a folder of the work area.
mkdir -p tmp-1/Talvorn/templates installed
for f in InstallTalvorn.exe "Talvorn Server.exe" Launcher.exe Uninstall.exe \
         libeay32.dll libssl32.dll; do
  cp "$KIT/$f" tmp-1/
done
echo "licence" >tmp-1/Licence.txt
echo "template" >tmp-1/Talvorn/templates/a.txt
FIELDS='"QwA6AFwA","QwA6AFwAUABcAFQAYQBsAHYAbwByAG4AXAA=","QwA6AFwARABcAA=="'
INSTALLED="$(winpath "$WORK/installed")"
TALVORN_SETUP_SCRIPT=show,wait=200,install TALVORN_SETUP_INSTALL_DIR="$INSTALLED" \
  wine_run setup.log "$KIT/robot.exe" --record setup.txt --timeout-ms 20000 \
  -- "$KIT/kit_selftest.exe" "exec:$(winpath "$WORK/tmp-1/InstallTalvorn.exe")" "$FIELDS"
start=$(grep 'prog=InstallTalvorn.exe	event=start' records.txt)
case "$start" in
  *'arg1=C:\	arg2=C:\P\Talvorn\	arg3=C:\D\	'*'format=ok') ;;
  *) fail "setup arguments: $start" ;;
esac
grep -q "^#seen	Talvorn Installer	" setup.txt || fail "plain title not seen"
grep -q "^#seen	Talvorn Installer: Installing	" setup.txt ||
  fail "installing title not seen"
for f in "Talvorn Server.exe" Launcher.exe Uninstall.exe libeay32.dll \
         libssl32.dll Licence.txt Talvorn/templates/a.txt; do
  [ -f "installed/$f" ] || fail "not installed: $f"
done
printf '%s' "$INSTALLED\\Talvorn Server.exe" | iconv -f UTF-8 -t UTF-16LE >handoff.bin
cmp -s handoff.bin tmp-1/InstalledApp.txt || fail "InstalledApp.txt content"
grep -q "event=registry.*value=$(printf '%s' "$INSTALLED" | sed 's/\\/\\\\/g')	.*ok=1" \
  records.txt || fail "InstPath not written"
[ ! -e tmp-1/cancel.txt ] || fail "cancel.txt after an installation"

# --- Cancelled, and a malformed argument string.
TALVORN_SETUP_SCRIPT=show,cancel wine_run cancel.log "$KIT/kit_selftest.exe" \
  "exec:$(winpath "$WORK/tmp-1/InstallTalvorn.exe")" '"QwA6AFwA", "QwA6AFwA"'
[ -e tmp-1/cancel.txt ] || fail "no cancel.txt after cancel"
grep 'event=start' records.txt | tail -n 1 | grep -q 'format=bad$' ||
  fail "malformed arguments taken for good ones"

# --- A hand-off file with a BOM and a line end; a marker held without
# sharing counts as absent until released.
SETUP="$(winpath "$WORK/tmp-1/InstallTalvorn.exe")"
MARKER="$(winpath "$WORK/tmp-1/cancel.txt")"
rm -f tmp-1/cancel.txt  # left by the cancel above; the hold makes it anew
TALVORN_SETUP_SCRIPT=hold=cancel.txt,handoff=bom+crlf,wait=800,release,wait=1000 \
  TALVORN_SETUP_HANDOFF_PATH='C:\X.exe' wine_run hold.log "$KIT/kit_selftest.exe" \
  "start:$SETUP" "" "until:$MARKER" "open:$MARKER" sleep:1000 "open:$MARKER"
[ "$(grep 'event=open' records.txt | sed 's/.*\tok=//')" = "$(printf '0\terror=32\n1\terror=0')" ] ||
  fail "held marker: $(grep 'event=open' records.txt)"
printf '\377\376' >handoff.bin
printf 'C:\\X.exe\r\n' | iconv -f UTF-8 -t UTF-16LE >>handoff.bin
cmp -s handoff.bin tmp-1/InstalledApp.txt || fail "InstalledApp.txt with BOM and CR LF"

# --- The launcher starts the application named by its one parameter.
wine_run launcher.log "$KIT/robot.exe" --wait-tree --timeout-ms 10000 -- \
  "$INSTALLED\\Launcher.exe" "$INSTALLED\\Talvorn Server.exe"
grep -q "prog=Launcher.exe	event=launch	target=$(printf '%s' "$INSTALLED" | sed 's/\\/\\\\/g')\\\\Talvorn Server.exe	ok=1" \
  records.txt || fail "launcher did not start the application"
grep -q 'prog=Talvorn Server.exe	event=start.*argc=0$' records.txt ||
  fail "application not started by the launcher"

[ $failures -eq 0 ] && echo "testkit selftest passed"
[ $failures -eq 0 ]
