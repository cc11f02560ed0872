# The tests that run the programs under Wine: the core library's operations on
# real files, folders, registry, windows and processes, and the real exe end
# to end. Each test runs in a process of its own.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_library(test_support STATIC test_support.cc payload_test_support.cc)
target_link_libraries(test_support PUBLIC talvorn_core talvorn_archive_writer gtest_main)
target_include_directories(test_support PUBLIC ${CMAKE_SOURCE_DIR})

function(talvorn_test_program name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE test_support)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources)
endfunction()

talvorn_host_check(make_fixtures make_fixtures.sh ARGS ${CMAKE_CURRENT_BINARY_DIR}
  PROPERTIES FIXTURES_SETUP host_fixtures)
talvorn_host_check(unmount_fixtures make_fixtures.sh
  ARGS ${CMAKE_CURRENT_BINARY_DIR} --unmount PROPERTIES FIXTURES_CLEANUP host_fixtures)

# Tests that keep to their own scratch folders run in parallel.
talvorn_test_program(unit_tests
  delete_tree_test.cc
  errors_test.cc
  extract_test.cc
  file_util_test.cc
  inflate_test.cc
  log_test.cc
  resources_test.cc
  single_run_test.cc
  temp_directory_test.cc
  text_test.cc
)
add_dependencies(unit_tests TalvornSetup)
target_link_libraries(unit_tests PRIVATE version bcrypt)
gtest_discover_tests(unit_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED host_fixtures)

# Tests that share the machine (top-level windows, the install locations,
# this program's folder, where the dialog's work makes tmp-n and the log) run
# one at a time. The program carries the extractor's resources and a payload
# without entries.
talvorn_test_program(machine_tests
  basic_install_test.cc
  completion_test.cc
  dialog_test.cc
  handoff_test.cc
  ${CMAKE_SOURCE_DIR}/resources/extractor.rc
  unit_payload.rc
)
# The setup stand-in shows windows of another process.
add_dependencies(machine_tests standin_setup standin_server standin_launcher)
gtest_discover_tests(machine_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 RESOURCE_LOCK machine)

# What the extraction tests unpack and load, in a folder of its own (not beside
# the test programs, where Wine's user32 would load it at start-up): Debian's
# zlib1.dll of the build's bitness, and two builds of zlib that lack one export
# each.
set(TEST_ZLIB_DIR ${CMAKE_CURRENT_BINARY_DIR}/zlib)
add_custom_command(OUTPUT ${TEST_ZLIB_DIR}/zlib1.dll
  COMMAND ${CMAKE_COMMAND} -E copy ${TALVORN_ZLIB_DLL} ${TEST_ZLIB_DIR}/zlib1.dll
  DEPENDS ${TALVORN_ZLIB_DLL})
add_custom_target(test_zlib_dll DEPENDS ${TEST_ZLIB_DIR}/zlib1.dll)
foreach(variant no_gzwrite no_deflateInit2)
  add_library(zlib_${variant} SHARED zlib_variants/stub.c zlib_variants/${variant}.def)
  target_link_libraries(zlib_${variant} PRIVATE ${TALVORN_CROSS_ZLIB})
  set_target_properties(zlib_${variant} PROPERTIES PREFIX "" OUTPUT_NAME zlib_${variant}
    RUNTIME_OUTPUT_DIRECTORY ${TEST_ZLIB_DIR})
  target_link_options(zlib_${variant} PRIVATE -static -s)
  add_dependencies(unit_tests zlib_${variant})
endforeach()
add_dependencies(unit_tests test_zlib_dll)

# End-to-end: the extractors above run by the answering robot. They share the
# machine like the tests above and take real time (a few minutes in all).
talvorn_test_program(e2e_tests
  e2e/attack_e2e_test.cc
  e2e/e2e_support.cc
  e2e/handoff_e2e_test.cc
  e2e/unpack_e2e_test.cc
)
add_dependencies(e2e_tests robot standin_setup standin_server standin_launcher
                 TalvornSetupStub e2e_extractors)
add_library(marker_dll SHARED e2e/marker_dll.c)
set_target_properties(marker_dll PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY
                      ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(e2e_tests marker_dll)

# One whole run under a traced wineserver of its own: what reaches the system.
talvorn_host_check(server_trace trace.sh ARGS ${CMAKE_BINARY_DIR}
  PROPERTIES TIMEOUT 300 RESOURCE_LOCK machine FIXTURES_REQUIRED host_fixtures)

# Only the tests that run a signed exe (by convention "Signed" in their name)
# wait for the signing fixture, so a signing failure stops only them. Each
# discovery takes one fixture: CMake 3.25 flattens a list given here.
gtest_discover_tests(e2e_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  TEST_FILTER "-*Signed*"
  PROPERTIES TIMEOUT 180 RESOURCE_LOCK machine FIXTURES_REQUIRED host_fixtures)
gtest_discover_tests(e2e_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  TEST_FILTER "*Signed*"
  PROPERTIES TIMEOUT 180 RESOURCE_LOCK machine FIXTURES_REQUIRED signing)
