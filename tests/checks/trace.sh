#!/bin/sh
# What the real extractor asks of the system, seen in a trace of a wineserver
# of its own (Wine keeps no security descriptor on files and enforces no
# DACL, so only the requests show it): one run with a basic install and its
# launch, on a copy of the build's prefix. Checks the descriptor and sharing
# of tmp-1 and C:\Talvorn, that they, the log, the unpacked entries and the
# copy in C:\Talvorn are made relative to the folders the run holds, the
# verified removal of tmp-1, the folder holds of the tree removal, and the
# single-run object.
#   trace.sh <build dir>
set -eu
build=$(cd "$1" && pwd)
work="$build/tests/trace"
prefix="$work/prefix"
trace="$work/wineserver.trace"
rm -rf "$work"
mkdir -p "$work/run"

# The prefix copied; the system's own libraries, which nothing writes, are
# linked rather than copied (more than a gigabyte).
mkdir -p "$prefix/drive_c/windows"
for entry in "$build/wineprefix"/* "$build/wineprefix"/.update-timestamp; do
  [ "$(basename "$entry")" = drive_c ] || cp -a "$entry" "$prefix/"
done
for entry in "$build/wineprefix/drive_c"/*; do
  [ "$(basename "$entry")" = windows ] || cp -a "$entry" "$prefix/drive_c/"
done
for entry in "$build/wineprefix/drive_c/windows"/*; do
  case "$(basename "$entry")" in
    system32|syswow64|winsxs) cp -al "$entry" "$prefix/drive_c/windows/" ;;
    *) cp -a "$entry" "$prefix/drive_c/windows/" ;;
  esac
done
rm -rf "$prefix/drive_c/Talvorn"

export WINEPREFIX="$prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="zlib1=n,b;mscoree,mshtml="
wineserver -f -p -d1 </dev/null >"$trace" 2>&1 &
server=$!
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; kill $server 2>/dev/null || true' EXIT
sleep 0.5
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

cp "$build/tests/e2e_demo.exe" "$work/run/TalvornSetup.exe"
run=$(winepath -w "$work/run")
(cd "$work/run" &&
  TALVORN_SETUP_SCRIPT=show,wait=300 TALVORN_RECORD_FILE="$run\\records.txt" \
    wine "$build/testkit/robot.exe" --record "$run\\boxes.txt" --timeout-ms 60000 \
      --wait-tree --answer "Basic install=OK" --answer "Complete=OK" \
      -- "$run\\TalvornSetup.exe" </dev/null >/dev/null 2>&1) || true
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
wait $server 2>/dev/null || true
trap - EXIT

failed=0
check() {  # check <what> <command...>
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
# The request line for a name (its last component quoted as Wine prints it).
requests() { grep -F "name=L\"\\\\??\\\\$1\"}" "$trace" || true; }
# The handle a request's reply gave: the next reply of the same thread.
handle_of() {  # handle_of <line number>
  awk -v n="$1" 'NR == n { split($1, t, ":"); thread = t[1] }
    NR > n && index($0, thread ": create_file() = 0") == 1 {
      sub(/.*handle=/, ""); sub(/ .*/, ""); print; exit }' "$trace"
}

tmp=$(winepath -w "$work/run/tmp-1" | sed 's/\\/\\\\/g')
# A request for a name relative to a held folder (rootdir not 0000).
relative() { grep -F "name=L\"$1\"}" "$trace" | grep -v 'rootdir=0000' || true; }
made=$(relative 'tmp-1' | grep 'create=2' | head -1)
ace() { echo "{type=ACCESS_ALLOWED,flags=3,mask=$1,sid=$2}"; }
admin_only() {  # tmp-1's: SYSTEM and Administrators alone, owner Administrators
  echo "$1" | grep -qF "sd={control=00001004,owner=S-1-5-32-544,group=<not present>,sacl={},dacl={$(ace 1f01ff S-1-5-18),$(ace 1f01ff S-1-5-32-544),$(ace 20000 S-1-3-4)}}"
}
check "tmp-1 is made relative to the extractor's held folder, for SYSTEM and Administrators alone (no ACE for the user), owner Administrators" \
  admin_only "$made"
check "tmp-1 is held without delete sharing and without delete access" \
  sh -c "echo '$made' | grep -q 'access=001000a1, sharing=00000003, create=2'"
talvorn=$(requests 'C:\\Talvorn' | grep 'create=2' | head -1)
users_read() {  # C:\Talvorn's: and BUILTIN\Users may read and run
  echo "$1" | grep -qF "sd={control=00001004,owner=S-1-5-32-544,group=<not present>,sacl={},dacl={$(ace 1f01ff S-1-5-18),$(ace 1f01ff S-1-5-32-544),$(ace 1200a9 S-1-5-32-545),$(ace 1200a9 S-1-3-4)}}"
}
check "C:\\Talvorn is made protected, BUILTIN\\Users reading, owner Administrators" \
  users_read "$talvorn"
check "C:\\Talvorn is held without delete sharing" \
  sh -c "echo '$talvorn' | grep -q 'sharing=00000003'"
held_tmp=$(handle_of "$(grep -nF "$made" "$trace" | head -1 | cut -d: -f1)")
entry=$(relative 'Talvorn Server.exe' | grep "rootdir=$held_tmp," | grep 'create=2' | head -1)
check "each unpacked entry is made relative to tmp-1, owned by Administrators" \
  sh -c "echo '$entry' | grep -q 'rootdir=$held_tmp,.*owner=S-1-5-32-544'"
held_talvorn=$(handle_of "$(grep -nF "$talvorn" "$trace" | head -1 | cut -d: -f1)")
copy=$(relative 'Talvorn Server.exe' | grep "rootdir=$held_talvorn," | grep 'create=2' | head -1)
check "the copy in C:\\Talvorn is made afresh relative to the held folder, owned by Administrators" \
  sh -c "echo '$copy' | grep -q 'rootdir=$held_talvorn,.*owner=S-1-5-32-544'"
check "the copy in C:\\Talvorn is held, read only, until it is started" \
  sh -c "grep -A1000000 -F '$copy' '$trace' | grep -F 'name=L\"Talvorn Server.exe\"}' |
         grep -q 'access=80100000, sharing=00000001, create=1'"
check "the log is made afresh relative to the extractor's held folder" \
  sh -c "relative() { grep -F 'name=L\"TLExtractorLog.txt\"}' '$trace' | grep -v rootdir=0000; };
         relative | grep -q 'sharing=00000001, create=2'"

# tmp-1 goes through a handle opened on the folder itself (delete access,
# never a link), relative to the folder it was made in, and checked to be
# the one the run made.
made_in=$(echo "$made" | sed 's/.*rootdir=\([0-9a-f]*\).*/\1/')
removal=$(grep -nF 'name=L"tmp-1"}' "$trace" | grep "rootdir=$made_in," |
  grep 'access=00110180, sharing=00000007, create=1' |
  tail -1 | cut -d: -f1)
disposed=""
[ -n "$removal" ] && disposed=$(handle_of "$removal")
check "tmp-1 is removed through its own handle" \
  sh -c "[ -n '$disposed' ] && grep -q 'set_fd_disp_info( handle=$disposed, unlink=1 )' '$trace'"
# Each folder inside is held relative to the one being emptied.
check "each folder is held without delete sharing while it is emptied" \
  sh -c "held() { grep -F 'name=L\"Talvorn\"}' '$trace' | grep 'rootdir=$held_tmp,' |
                  grep 'access=00100081'; };
         held | grep -qv 'sharing=00000003' && exit 1 || held | grep -q 'sharing=00000003'"

check "the single-run object belongs to Administrators" \
  sh -c "grep 'create_mutex(' '$trace' | grep 'TalvornExtractorRun' |
         grep -q 'owner=S-1-5-32-544'"
check "the run installed and offered the launch" \
  sh -c "grep -q '^Complete	' '$work/run/boxes.txt' &&
         grep -q 'prog=Talvorn Server.exe	event=start' '$work/run/records.txt'"
check "tmp-1 is gone (the log stays: the missing hand-off was reported)" \
  sh -c "[ ! -e '$work/run/tmp-1' ] && [ -e '$work/run/TLExtractorLog.txt' ]"
if [ "$failed" != 0 ]; then
  echo "trace kept in $trace"
  exit 1
fi
# What the run started may have brought up another server meanwhile.
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
rm -rf "$prefix"
