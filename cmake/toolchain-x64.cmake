# Cross build of the 64-bit twin: the same sources for 64-bit Windows, run by
# Wine's 64-bit loader where the host's kernel runs no 32-bit programs. It is
# never shipped. Everything that depends on the bitness follows from the
# triple in mingw-target.cmake.
set(TALVORN_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-target.cmake)
