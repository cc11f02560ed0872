# Cross build of the shipped extractor for 32-bit Windows with Debian's
# mingw-w64. The triple is the only thing named here: everything that depends
# on the bitness follows from it in mingw-target.cmake.
set(TALVORN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-target.cmake)
