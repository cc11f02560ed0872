# Sourced: the Wine and X environment for running the extractor and its tests.
# Uses the build folder's own Wine prefix, starts a virtual X display when
# none is set, and warms a persistent wineserver. Wine's background processes
# inherit the streams of the first Wine client, so that client gets /dev/null
# for all three; otherwise pipes stay open and commands hang.
# A folder of the 64-bit twin (scripts/arch.sh) gets a 64-bit prefix, and
# "wine", "winepath" and "wineboot" then mean Wine's 64-bit loader
# (testkit/wine64 goes first on PATH), for this shell and what it starts.
#   talvorn_build=<build folder>; . scripts/wine-env.sh
talvorn_build=$(cd "$talvorn_build" && pwd)
TALVORN_ARCH=$(sed -n 's/^TALVORN_ARCH:[A-Z]*=//p' "$talvorn_build/CMakeCache.txt" 2>/dev/null)
: "${TALVORN_ARCH:=x86}"
export TALVORN_ARCH
export WINEPREFIX="$talvorn_build/wineprefix"
export WINEDEBUG=-all
# Either way "wine" starts Wine in a fixed address-space layout
# (testkit/fixed-layout), so that no process fails to start at random.
talvorn_source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:[A-Z]*=//p' "$talvorn_build/CMakeCache.txt")
if [ "$TALVORN_ARCH" = x64 ]; then
  export PATH="$talvorn_source/testkit/wine64:$PATH"
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
else
  export PATH="$talvorn_source/testkit/wine32:$PATH"
fi
"$talvorn_source/testkit/fixed-layout" ||
  echo "== This kernel refuses a fixed address-space layout (setarch -R): under Wine a process may now and then fail to start" >&2
# Wine keeps a built-in zlib1.dll loaded in every GUI process and would hand it
# back even for a load by full path; preferring native files makes it load the
# payload's own zlib1.dll, as Windows does. No Mono/Gecko install prompts.
export WINEDLLOVERRIDES="zlib1=n,b;mscoree,mshtml="
if [ -z "${DISPLAY:-}" ]; then
  for n in 91 92 93 94 95 96 97 98 99; do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    talvorn_xvfb=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
# Without a window manager Wine waits two seconds each time it hides a window
# (every answered box, the closed setup window); unmanaged windows don't, and
# get their captions drawn by Wine, so screenshots show them.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
  </dev/null >/dev/null 2>&1 || true

talvorn_env_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  [ -n "${talvorn_xvfb:-}" ] && kill "$talvorn_xvfb" 2>/dev/null || true
}
