# Sourced: decides once which build the Wine runs exercise, and says so in
# one line on standard error. The shipped exe is 32-bit, and Debian runs it
# with its 32-bit Wine loader; a kernel that runs no 32-bit programs (since
# Linux 6.7 it may be built or booted so: ia32_emulation=0) refuses that
# loader with "Exec format error". There the runs use the 64-bit twin, the
# same sources built for x86_64, under Wine's 64-bit loader.
# TALVORN_TEST_ARCH=x64 asks for the twin on any host.
#   . scripts/arch.sh    (after scripts/deps.sh)
# Sets talvorn_run_arch (x86 or x64) and talvorn_run_why (empty for x86).
talvorn_run_arch=x86
talvorn_run_why=
case "${TALVORN_TEST_ARCH:-}" in
  x64) talvorn_run_arch=x64 talvorn_run_why="TALVORN_TEST_ARCH=x64 asks for it" ;;
  ""|x86) ;;
  *) echo "TALVORN_TEST_ARCH is x86 or x64, not ${TALVORN_TEST_ARCH}" >&2; exit 2 ;;
esac
if [ "$talvorn_run_arch" = x86 ]; then
  talvorn_probe=0
  /usr/lib/wine/wine --version </dev/null >/dev/null 2>&1 || talvorn_probe=$?
  if [ "$talvorn_probe" = 126 ]; then
    talvorn_run_why="this kernel runs no 32-bit programs"
  elif [ ! -x /usr/lib/wine/wine ]; then
    talvorn_run_why="this host has no 32-bit Wine loader"
  fi
  if [ -n "$talvorn_run_why" ] && [ "${TALVORN_TEST_ARCH:-}" = x86 ]; then
    echo "TALVORN_TEST_ARCH=x86, but the shipped exe cannot run here: $talvorn_run_why" >&2
    exit 1
  fi
  if [ -n "$talvorn_run_why" ]; then talvorn_run_arch=x64; fi
fi
if [ "$talvorn_run_arch" = x64 ]; then
  echo "== Wine runs the 64-bit twin: $talvorn_run_why" >&2
else
  echo "== Wine runs the shipped 32-bit exe" >&2
fi
