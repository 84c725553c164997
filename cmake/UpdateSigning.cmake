# Who signs the installer, and whose keys the updater accepts.
#
# A release build names its code-signing certificate and key with
# TARNWICK_SIGNING_CERT and TARNWICK_SIGNING_KEY (PEM files). A build with
# tests and without them signs with a certificate of a test CA, made here in
# the build folder when it is configured (tests/pki/make-test-pki.sh).
#
# TARNWICK_UPDATE_SIGNER_KEYS pins the SHA-256 of the public key of each
# certificate whose signature an update's installer may carry (64 hexadecimal
# digits each, ';' between them, so that a new key can be added before the old
# one is retired). Left empty, the key of the certificate that signs this
# build's installer is pinned; with none, no downloaded installer is ever run.

set(TARNWICK_SIGNING_CERT "" CACHE FILEPATH "PEM code-signing certificate (and chain) for the installer")
set(TARNWICK_SIGNING_KEY "" CACHE FILEPATH "PEM private key of TARNWICK_SIGNING_CERT")
set(TARNWICK_UPDATE_SIGNER_KEYS "" CACHE STRING
    "SHA-256 of the public key of each certificate an update's installer may be signed with (hex, ';' between)")

find_program(TARNWICK_OPENSSL openssl)
set(TARNWICK_TEST_PKI_DIR ${CMAKE_BINARY_DIR}/test-pki CACHE INTERNAL "")
set(TARNWICK_SIGNED_BY_TEST_CA OFF CACHE INTERNAL "")
set(tarnwick_signing_cert "${TARNWICK_SIGNING_CERT}")
set(tarnwick_signing_key "${TARNWICK_SIGNING_KEY}")

if(NOT tarnwick_signing_cert AND TARNWICK_BUILD_TESTS AND CMAKE_HOST_UNIX AND TARNWICK_OPENSSL)
  # Made once per build folder, and again only when the script changes: the
  # pinned key is compiled into the program.
  set(pki_script ${PROJECT_SOURCE_DIR}/tests/pki/make-test-pki.sh)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pki_script})
  file(SHA256 ${pki_script} pki_script_hash)
  # The test CA publishes its revocation list on the local update server,
  # over plain HTTP as CAs do (the server answers both on its port).
  set(TARNWICK_TEST_CRL_PATH "crl/tarnwick-test-ca.crl" CACHE INTERNAL "")
  set(test_crl_url "")
  if(TARNWICK_UPDATE_SERVER_URL MATCHES "^https://localhost:([0-9]+)$")
    set(test_crl_url "http://localhost:${CMAKE_MATCH_1}/${TARNWICK_TEST_CRL_PATH}")
  endif()
  set(pki_stamp ${TARNWICK_TEST_PKI_DIR}/made-by.sha256)
  set(made_by "")
  if(EXISTS ${pki_stamp})
    file(READ ${pki_stamp} made_by)
  endif()
  if(NOT made_by STREQUAL "${pki_script_hash} ${test_crl_url}")
    message(STATUS "Making the test certificates in ${TARNWICK_TEST_PKI_DIR}")
    execute_process(COMMAND ${pki_script} ${TARNWICK_TEST_PKI_DIR} "Tarnwick Test Publisher" ${test_crl_url}
                    RESULT_VARIABLE pki_result)
    if(NOT pki_result EQUAL 0)
      message(FATAL_ERROR "tests/pki/make-test-pki.sh failed (${pki_result})")
    endif()
    file(WRITE ${pki_stamp} "${pki_script_hash} ${test_crl_url}")
  endif()
  set(TARNWICK_SIGNED_BY_TEST_CA ON CACHE INTERNAL "")
  set(tarnwick_signing_cert ${TARNWICK_TEST_PKI_DIR}/signer.pem)
  set(tarnwick_signing_key ${TARNWICK_TEST_PKI_DIR}/signer-key.pem)
endif()

set(tarnwick_signer_keys "${TARNWICK_UPDATE_SIGNER_KEYS}")
if(tarnwick_signer_keys STREQUAL "" AND tarnwick_signing_cert)
  if(NOT TARNWICK_OPENSSL)
    message(FATAL_ERROR "openssl is needed to pin the key of ${tarnwick_signing_cert}; or set TARNWICK_UPDATE_SIGNER_KEYS")
  endif()
  execute_process(
    COMMAND ${TARNWICK_OPENSSL} x509 -in ${tarnwick_signing_cert} -pubkey -noout
    COMMAND ${TARNWICK_OPENSSL} pkey -pubin -outform DER
    COMMAND ${TARNWICK_OPENSSL} dgst -sha256 -r
    OUTPUT_VARIABLE key_digest RESULT_VARIABLE key_result ERROR_QUIET)
  string(REGEX MATCH "^[0-9a-fA-F]+" tarnwick_signer_keys "${key_digest}")
  if(NOT key_result EQUAL 0 OR tarnwick_signer_keys STREQUAL "")
    message(FATAL_ERROR "cannot read the public key of ${tarnwick_signing_cert}")
  endif()
endif()

set(TARNWICK_UPDATE_SIGNER_KEYS_CPP "")
set(TARNWICK_UPDATE_SIGNER_KEY_COUNT 0)
foreach(key IN LISTS tarnwick_signer_keys)
  if(NOT key MATCHES "^[0-9a-fA-F]+$")
    message(FATAL_ERROR "TARNWICK_UPDATE_SIGNER_KEYS: '${key}' is not 64 hexadecimal digits")
  endif()
  string(LENGTH "${key}" key_length)
  if(NOT key_length EQUAL 64)
    message(FATAL_ERROR "TARNWICK_UPDATE_SIGNER_KEYS: '${key}' is not 64 hexadecimal digits")
  endif()
  string(TOLOWER "${key}" key)
  string(APPEND TARNWICK_UPDATE_SIGNER_KEYS_CPP "\n    \"${key}\",")
  math(EXPR TARNWICK_UPDATE_SIGNER_KEY_COUNT "${TARNWICK_UPDATE_SIGNER_KEY_COUNT} + 1")
endforeach()
if(TARNWICK_UPDATE_SIGNER_KEY_COUNT EQUAL 0)
  message(WARNING "No TARNWICK_UPDATE_SIGNER_KEYS and no signing certificate: the updater will run no installer")
endif()
