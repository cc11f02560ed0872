# talvorn_add_extractor(<name> <payload file or "">): the extractor exe with
# that file as its payload resource (RCDATA 100), or with none.

# A single-threaded stub has no use for the posix thread model's runtime, and
# its winpthread adds some 30 KB; the exe alone links against the win32 model's
# libstdc++ and libgcc, found by the toolchain (TALVORN_WIN32_RUNTIME_DIR). The
# core library uses no thread-model-dependent code (the "core_thread_model"
# test checks that it references no pthread symbol).

function(talvorn_add_extractor name payload)
  set(payload_rc "")
  if(payload)
    set(payload_rc ${GENERATED_DIR}/${name}_payload.rc)
    # Language 2057 (English, United Kingdom), like the other resources.
    file(WRITE ${payload_rc}.in "LANGUAGE 9, 2\n100 RCDATA \"${payload}\"\n")
    configure_file(${payload_rc}.in ${payload_rc} COPYONLY)
  endif()
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/app/main.cc
                 ${CMAKE_SOURCE_DIR}/resources/extractor.rc ${payload_rc})
  target_link_libraries(${name} PRIVATE talvorn_core)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources)
  target_link_options(${name} PRIVATE -s -mwindows)
  if(TALVORN_WIN32_RUNTIME_DIR)
    target_link_options(${name} PRIVATE -B${TALVORN_WIN32_RUNTIME_DIR}/)
  endif()
  set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/extractor.rc
    TARGET_DIRECTORY ${name}
    PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/talvorn.ico;${GENERATED_DIR}/extractor.manifest;${GENERATED_DIR}/build_info.h")
  if(payload)
    set_source_files_properties(${payload_rc} TARGET_DIRECTORY ${name}
      PROPERTIES OBJECT_DEPENDS "${payload}")
  endif()
endfunction()
