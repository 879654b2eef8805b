# The Windows program as administrators take it: an MSI per architecture and
# Authenticode signatures, built here with Debian's wixl, msitools and
# osslsigncode (scripts/install-deps.sh test installs them).
#
#   cmake --build --preset windows-x64 --target msi
#     builds snapreserve-<version>-windows-x64.msi beside the program, of the
#     project's version, major.minor.patch (1.5.0), as the ZIP's name.
#   SNAPRESERVE_SIGN_CERT, SNAPRESERVE_SIGN_KEY (PEM files), for a release
#   SNAPRESERVE_SIGN_TIMESTAMP (a timestamp server's URL), and where the
#   issuing CA is not one this machine trusts, SNAPRESERVE_SIGN_CHAIN (a PEM
#   of the issuing chain)
#     check the certificate, then sign the program as soon as it links, so
#     that the ZIP and the MSI carry it signed, and the MSI once it is built;
#     each signature is verified as soon as it is made.
set(SNAPRESERVE_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM); empty: nothing is signed")
set(SNAPRESERVE_SIGN_KEY "" CACHE FILEPATH "Private key (PEM) of SNAPRESERVE_SIGN_CERT")
set(SNAPRESERVE_SIGN_TIMESTAMP "" CACHE STRING "Timestamp server (RFC 3161) for the signatures")
set(SNAPRESERVE_SIGN_CHAIN "" CACHE FILEPATH "Issuing chain (PEM) the signatures are verified against")

set(msi_file ${CMAKE_BINARY_DIR}/${package_name}.msi)
set(zip_file ${CMAKE_BINARY_DIR}/${package_name}.zip)

set(sign_program "")
if(SNAPRESERVE_SIGN_CERT OR SNAPRESERVE_SIGN_KEY)
  foreach(pem IN ITEMS "${SNAPRESERVE_SIGN_CERT}" "${SNAPRESERVE_SIGN_KEY}")
    if(NOT EXISTS "${pem}" OR IS_DIRECTORY "${pem}")
      message(FATAL_ERROR "Signing takes SNAPRESERVE_SIGN_CERT and SNAPRESERVE_SIGN_KEY, both PEM "
                          "files: '${pem}' is none")
    endif()
  endforeach()
  if(SNAPRESERVE_SIGN_CHAIN AND (NOT EXISTS "${SNAPRESERVE_SIGN_CHAIN}" OR IS_DIRECTORY "${SNAPRESERVE_SIGN_CHAIN}"))
    message(FATAL_ERROR "SNAPRESERVE_SIGN_CHAIN is a PEM file: '${SNAPRESERVE_SIGN_CHAIN}' is none")
  endif()
  find_program(SNAPRESERVE_OSSLSIGNCODE osslsigncode)
  find_program(SNAPRESERVE_OPENSSL openssl)
  if(NOT SNAPRESERVE_OSSLSIGNCODE OR NOT SNAPRESERVE_OPENSSL)
    message(FATAL_ERROR "osslsigncode or openssl not found: scripts/install-deps.sh test installs them")
  endif()
  set(sign_program sh ${PROJECT_SOURCE_DIR}/packaging/sign.sh)
  set(sign_with ${SNAPRESERVE_SIGN_CERT} ${SNAPRESERVE_SIGN_KEY}
      timestamp=${SNAPRESERVE_SIGN_TIMESTAMP} chain=${SNAPRESERVE_SIGN_CHAIN})
  message(STATUS "Signing the program and the MSI with ${SNAPRESERVE_SIGN_CERT}")
  if(NOT SNAPRESERVE_SIGN_TIMESTAMP)
    message(WARNING "SNAPRESERVE_SIGN_TIMESTAMP is not set: the signatures carry no timestamp and "
                    "lapse when the certificate expires; a release names a timestamp server.")
  endif()
  # The packages of an earlier program, of this version or any other, go
  # first: where signing fails, no MSI and no ZIP is left to ship.
  string(REPLACE "${SNAPRESERVE_VERSION}" "*" any_version "${package_name}")
  add_custom_command(TARGET snapreserve POST_BUILD
    COMMAND sh -c "rm -f \"$0\"/${any_version}.msi \"$0\"/${any_version}.zip" ${CMAKE_BINARY_DIR}
    COMMAND ${sign_program} $<TARGET_FILE:snapreserve> ${sign_with} VERBATIM)
else()
  message(STATUS "Not signing the program or the MSI: SNAPRESERVE_SIGN_CERT and SNAPRESERVE_SIGN_KEY are not set")
endif()
# The program links again, and so is signed again, when the signing changes:
# turned on or off, another certificate, or a renewed one at the same path.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/signing.txt
     CONTENT "${SNAPRESERVE_SIGN_CERT}\n${SNAPRESERVE_SIGN_KEY}\n${SNAPRESERVE_SIGN_TIMESTAMP}\n${SNAPRESERVE_SIGN_CHAIN}\n")
set_property(TARGET snapreserve APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/signing.txt)
if(sign_program)
  set_property(TARGET snapreserve APPEND PROPERTY LINK_DEPENDS
               ${SNAPRESERVE_SIGN_CERT} ${SNAPRESERVE_SIGN_KEY} ${SNAPRESERVE_SIGN_CHAIN})
endif()

set(sign_msi "")
if(sign_program)
  set(sign_msi COMMAND ${sign_program} ${msi_file} ${sign_with})
endif()
add_custom_command(OUTPUT ${msi_file}
  COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/make-msi.sh ${msi_file} ${SNAPRESERVE_VERSION}
          ${package_arch} $<TARGET_FILE:snapreserve> ${PROJECT_SOURCE_DIR}
  ${sign_msi}
  DEPENDS snapreserve ${PROJECT_SOURCE_DIR}/packaging/snapreserve.wxs
          ${PROJECT_SOURCE_DIR}/packaging/file-version.sh
          ${PROJECT_SOURCE_DIR}/packaging/Environment.idt ${PROJECT_SOURCE_DIR}/packaging/make-msi.sh
          ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  COMMENT "Building ${package_name}.msi"
  VERBATIM)
add_custom_target(msi DEPENDS ${msi_file})
