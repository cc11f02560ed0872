# The rest of a mingw-w64 toolchain, from the triple its toolchain file names,
# and every choice that depends on the target's bitness, made here once:
#   TALVORN_ARCH               x86 (the shipped exe) or x64 (the twin)
#   TALVORN_MANIFEST_ARCH      the manifest's processorArchitecture
#   TALVORN_ZLIB_DLL           the zlib1.dll the payload carries
#   TALVORN_WIN32_RUNTIME_DIR  the win32 thread model's runtime (extractor.cmake)
# Compilers of the posix thread model, which GoogleTest needs; programs run
# through Wine (testkit/wine-run) with the loader of their bitness.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${TALVORN_MINGW_TRIPLE}")
set(CMAKE_C_COMPILER ${TALVORN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVORN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVORN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TALVORN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  set(TALVORN_ARCH x86)
  set(TALVORN_MANIFEST_ARCH x86)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(TALVORN_ARCH x64)
  set(TALVORN_MANIFEST_ARCH amd64)
else()
  message(FATAL_ERROR "No build for ${TALVORN_MINGW_TRIPLE}: only i686 and x86_64.")
endif()
set(TALVORN_ZLIB_DLL /usr/${TALVORN_MINGW_TRIPLE}/lib/zlib1.dll)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../testkit/wine-run --arch ${TALVORN_ARCH})

# A single-threaded stub has no use for the posix thread model's runtime:
# the extractor links against the win32 model's libstdc++ and libgcc.
execute_process(COMMAND ${TALVORN_MINGW_TRIPLE}-g++-win32 -print-libgcc-file-name
                OUTPUT_VARIABLE _win32_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(_win32_libgcc AND EXISTS "${_win32_libgcc}")
  get_filename_component(TALVORN_WIN32_RUNTIME_DIR "${_win32_libgcc}" DIRECTORY)
endif()
