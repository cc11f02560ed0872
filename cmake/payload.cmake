# The payload archive of TalvornSetup.exe, and the host tools that make it.
#
# TALVORN_PAYLOAD_FILE is chosen as:
#  - PAYLOAD_ARCHIVE: a ready archive file, used byte for byte;
#  - PAYLOAD_DIR: a folder, packed at build time into payload/payload.bin;
#  - neither: the demo payload, assembled at build time in payload/demo/ from
#    resources/demo-payload/, the target's zlib1.dll and the stand-in programs
#    of testkit/, and packed into payload/demo.bin.
# TALVORN_PAYLOAD_TARGET names the target that makes the file; TalvornSetup
# is made to depend on it at the end of the top-level directory.
include(ExternalProject)

# The packer runs on the build machine, so it is built with the native
# compilers; the cross toolchain must not reach it. It is told the stub's
# bitness, which the payload's zlib1.dll must have.
set(TALVORN_TOOLS_DIR ${CMAKE_BINARY_DIR}/tools)
set(TALVORN_PACKER ${TALVORN_TOOLS_DIR}/talvorn-pack)
set(TALVORN_ARCHIVE_EDITOR ${TALVORN_TOOLS_DIR}/talvorn-edit)
ExternalProject_Add(talvorn_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools
  BINARY_DIR ${TALVORN_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
             -DCMAKE_BUILD_TYPE=Release -DTALVORN_TOOLS_TESTS=${TALVORN_TESTS}
  BUILD_ALWAYS TRUE
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${TALVORN_PACKER} ${TALVORN_ARCHIVE_EDITOR}
)

if(TALVORN_TESTS)
  # The packer's tests also read the built extractors (see below).
  add_test(NAME talvorn_pack_tests COMMAND ${TALVORN_TOOLS_DIR}/talvorn-pack-tests)
  # The host readers are the same for both builds: fuzzed once, from the
  # shipped build's exes.
  find_program(TALVORN_CLANGXX clang++)
  if(TALVORN_CLANGXX AND TALVORN_ARCH STREQUAL "x86")
    add_test(NAME payload_readers_fuzz
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz.sh ${CMAKE_BINARY_DIR}/fuzz 30)
    set_tests_properties(payload_readers_fuzz PROPERTIES LABELS fuzz ENVIRONMENT
      "TALVORN_FUZZ_EXES=${CMAKE_BINARY_DIR}/TalvornSetupStub.exe ${CMAKE_BINARY_DIR}/tests/e2e_empty.exe")
  endif()

  # The archive writer for the Windows unit tests, with mingw's static zlib.
  # Only tests may link it: the extractor binds zlib at run time instead.
  find_library(TALVORN_CROSS_ZLIB NAMES libz.a REQUIRED)
  add_library(talvorn_archive_writer STATIC tools/archive_writer.cc)
  target_link_libraries(talvorn_archive_writer PUBLIC talvorn_core ${TALVORN_CROSS_ZLIB})
endif()

set(TALVORN_PAYLOAD_STAGE ${CMAKE_BINARY_DIR}/payload)

# Writes text to a file only when it changes, so that a rule depending on the
# file reruns exactly when the text does.
function(_talvorn_write_if_changed path text)
  file(WRITE ${path}.new "${text}")
  configure_file(${path}.new ${path} COPYONLY)
  file(REMOVE ${path}.new)
endfunction()

# The files below a folder, found again at build time when any is added or
# removed. The stamp also lists them, so that a removal repacks too.
function(_talvorn_folder_files folder stamp out)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS LIST_DIRECTORIES false "${folder}/*")
  list(SORT files)
  string(REPLACE ";" "\n" listing "${folder}\n${files}")
  _talvorn_write_if_changed(${stamp} "${listing}\n")
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# The demo payload: the extractor's payload when no other is chosen, and the
# base of the end-to-end tests' payloads.
if(TALVORN_TESTS OR NOT (PAYLOAD_ARCHIVE OR PAYLOAD_DIR))
  set(TALVORN_DEMO_PAYLOAD ${TALVORN_PAYLOAD_STAGE}/demo.bin)
  set(_demo ${TALVORN_PAYLOAD_STAGE}/demo)
  set(_texts ${CMAKE_SOURCE_DIR}/resources/demo-payload)
  set(_zlib_dll ${TALVORN_ZLIB_DLL})
  # The stand-in programs by payload name, in archive order.
  set(_program_names "Talvorn Server.exe" "Uninstall.exe" "Launcher.exe"
                     "InstallTalvorn.exe" "libeay32.dll" "libssl32.dll")
  set(_program_targets standin_server standin_uninstall standin_launcher
                       standin_setup standin_libeay32 standin_libssl32)

  # The order of the product's own payload: the library, the programs with
  # the licence after the server, then the text files.
  set(_order "zlib1.dll" "Talvorn Server.exe" "Licence.txt" "Uninstall.exe"
             "Launcher.exe" "InstallTalvorn.exe" "libeay32.dll" "libssl32.dll"
             "Talvorn\\Cover Pages\\Fax cover sheet.txt"
             "Talvorn\\Cover Pages\\Print job summary.txt"
             "Talvorn\\Templates\\Custom Template.txt")
  _talvorn_folder_files(${_texts} ${TALVORN_PAYLOAD_STAGE}/demo-files.txt _text_files)
  foreach(_file IN LISTS _text_files)
    file(RELATIVE_PATH _name ${_texts} ${_file})
    string(REPLACE "/" "\\" _name "${_name}")
    list(FIND _order "${_name}" _found)
    if(_found EQUAL -1)
      list(APPEND _order "${_name}")  # the label templates, sorted
    endif()
  endforeach()
  string(REPLACE ";" "\n" _order_text "${_order}")
  set(_order_file ${TALVORN_PAYLOAD_STAGE}/demo-order.txt)
  _talvorn_write_if_changed(${_order_file} "${_order_text}\n")

  set(_copy_programs "")
  foreach(_name _target IN ZIP_LISTS _program_names _program_targets)
    list(APPEND _copy_programs
         COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${_target}> ${_demo}/${_name})
  endforeach()
  # Assembled afresh each time, so nothing stale is packed.
  add_custom_command(OUTPUT ${TALVORN_DEMO_PAYLOAD}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_demo}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${_texts} ${_demo}
    COMMAND ${CMAKE_COMMAND} -E copy ${_zlib_dll} ${_demo}/zlib1.dll
    ${_copy_programs}
    COMMAND ${TALVORN_PACKER} pack ${_demo} ${TALVORN_DEMO_PAYLOAD} --order ${_order_file}
            --machine ${TALVORN_ARCH}
    DEPENDS talvorn_tools ${TALVORN_PACKER} ${_zlib_dll} ${_text_files} ${_order_file}
            ${TALVORN_PAYLOAD_STAGE}/demo-files.txt ${_program_targets}
    COMMENT "Packing the demo payload"
    VERBATIM)
  add_custom_target(talvorn_demo_payload DEPENDS ${TALVORN_DEMO_PAYLOAD})
endif()

if(PAYLOAD_ARCHIVE)
  get_filename_component(TALVORN_PAYLOAD_FILE "${PAYLOAD_ARCHIVE}" ABSOLUTE)
  add_custom_target(talvorn_payload)
elseif(PAYLOAD_DIR)
  get_filename_component(_folder "${PAYLOAD_DIR}" ABSOLUTE)
  set(TALVORN_PAYLOAD_FILE ${TALVORN_PAYLOAD_STAGE}/payload.bin)
  _talvorn_folder_files(${_folder} ${TALVORN_PAYLOAD_STAGE}/payload-files.txt _files)
  add_custom_command(OUTPUT ${TALVORN_PAYLOAD_FILE}
    COMMAND ${TALVORN_PACKER} pack ${_folder} ${TALVORN_PAYLOAD_FILE} --machine ${TALVORN_ARCH}
    DEPENDS talvorn_tools ${TALVORN_PACKER} ${_files}
            ${TALVORN_PAYLOAD_STAGE}/payload-files.txt
    COMMENT "Packing ${_folder} into the payload"
    VERBATIM)
  add_custom_target(talvorn_payload DEPENDS ${TALVORN_PAYLOAD_FILE})
else()
  set(TALVORN_PAYLOAD_FILE ${TALVORN_DEMO_PAYLOAD})
  add_custom_target(talvorn_payload)
  add_dependencies(talvorn_payload talvorn_demo_payload)
endif()
set(TALVORN_PAYLOAD_TARGET talvorn_payload)

if(TALVORN_TESTS)
  set_tests_properties(talvorn_pack_tests PROPERTIES ENVIRONMENT
    "TALVORN_SETUP_EXE=${CMAKE_BINARY_DIR}/TalvornSetup.exe;TALVORN_PAYLOAD_FILE=${TALVORN_PAYLOAD_FILE};TALVORN_STUB_EXE=${CMAKE_BINARY_DIR}/TalvornSetupStub.exe")
endif()

# TalvornSetup and the stand-ins are defined after this file is included; by
# the end of the top-level directory they exist.
function(_talvorn_wire_payload)
  if(TALVORN_TESTS OR NOT (PAYLOAD_ARCHIVE OR PAYLOAD_DIR))
    foreach(_target IN LISTS _program_targets)
      if(NOT TARGET ${_target})
        message(FATAL_ERROR "The demo payload needs the stand-in program target "
                "${_target} of testkit/; or set PAYLOAD_DIR or PAYLOAD_ARCHIVE.")
      endif()
    endforeach()
  endif()
  # The target that links TalvornSetup.exe (see cmake/signing.cmake).
  if(TARGET "${TALVORN_SHIPPED_LINK_TARGET}")
    add_dependencies(${TALVORN_SHIPPED_LINK_TARGET} talvorn_payload)
  endif()
endfunction()
cmake_language(DEFER CALL _talvorn_wire_payload)
