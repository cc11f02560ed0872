# Authenticode signing of the shipped exe, when a certificate is given:
#
#   -DSIGN_PKCS12=<file.p12> -DSIGN_PASSWORD_FILE=<file>
#   [-DSIGN_DESCRIPTION=<text>] [-DSIGN_TIMESTAMP_URL=<url>]
#
# The description is passed as one argument whatever it holds; empty, it is
# scripts/sign.sh's default.
#
# The exe then links as <name>-unsigned.exe and scripts/sign.sh makes
# <name>.exe from it, so the signed name never holds an unsigned file: a
# failed signing removes it and fails the build. The password stays in its
# file; only the file's path is in the cache. Without a certificate,
# talvorn_add_shipped_extractor is talvorn_add_extractor.
set(SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and key")
set(SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 password alone, on one line")
set(SIGN_DESCRIPTION "" CACHE STRING "Program description in the signature (empty: Talvorn Setup)")
set(SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server (default: none)")

if(DEFINED SIGN_PASSWORD OR DEFINED CACHE{SIGN_PASSWORD})
  unset(SIGN_PASSWORD CACHE)
  message(FATAL_ERROR "SIGN_PASSWORD is not read: CMake would keep it in its cache. "
          "Put the password in a file and give -DSIGN_PASSWORD_FILE=<file>.")
endif()
if(SIGN_PKCS12 OR SIGN_PASSWORD_FILE)
  foreach(_option SIGN_PKCS12 SIGN_PASSWORD_FILE)
    if(NOT ${_option})
      message(FATAL_ERROR "Signing needs both SIGN_PKCS12 and SIGN_PASSWORD_FILE.")
    elseif(NOT EXISTS "${${_option}}")
      message(FATAL_ERROR "${_option}: ${${_option}} does not exist.")
    endif()
  endforeach()
  find_program(TALVORN_OSSLSIGNCODE osslsigncode)
  if(NOT TALVORN_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (sh scripts/deps.sh installs it).")
  endif()
endif()

# Without a timestamp server the signature's time is fixed at configure time,
# from SOURCE_DATE_EPOCH when it is set, like the build date.
string(TIMESTAMP TALVORN_SIGN_TIME "%s" UTC)

function(talvorn_add_shipped_extractor name payload)
  if(NOT SIGN_PKCS12)
    talvorn_add_extractor(${name} "${payload}")
    set(TALVORN_SHIPPED_LINK_TARGET ${name} PARENT_SCOPE)
    return()
  endif()
  set(unsigned ${name}Unsigned)
  talvorn_add_extractor(${unsigned} "${payload}")
  set_target_properties(${unsigned} PROPERTIES OUTPUT_NAME ${name}-unsigned)
  set(TALVORN_SHIPPED_LINK_TARGET ${unsigned} PARENT_SCOPE)

  if(SIGN_TIMESTAMP_URL)
    set(when --timestamp-url ${SIGN_TIMESTAMP_URL})
  else()
    set(when --time ${TALVORN_SIGN_TIME})
  endif()
  set(signed ${CMAKE_BINARY_DIR}/${name}.exe)
  add_custom_command(OUTPUT ${signed}
    COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/sign.sh --pkcs12 ${SIGN_PKCS12}
            --password-file ${SIGN_PASSWORD_FILE} --description "${SIGN_DESCRIPTION}"
            ${when} $<TARGET_FILE:${unsigned}> ${signed}
    DEPENDS ${unsigned} ${CMAKE_SOURCE_DIR}/scripts/sign.sh ${SIGN_PKCS12}
            ${SIGN_PASSWORD_FILE}
    COMMENT "Signing ${name}.exe"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${signed})
endfunction()
