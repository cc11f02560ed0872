# Chooses the payload archive of TalvornSetup.exe:
#  - PAYLOAD_ARCHIVE: a ready archive file, used byte for byte;
#  - PAYLOAD_DIR: a folder, packed at build time;
#  - neither: the demo payload.
if(PAYLOAD_ARCHIVE)
  get_filename_component(TALVORN_PAYLOAD_FILE "${PAYLOAD_ARCHIVE}" ABSOLUTE)
else()
  set(TALVORN_PAYLOAD_FILE ${CMAKE_SOURCE_DIR}/resources/empty.payload)
endif()
