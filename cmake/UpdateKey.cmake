# Settles TOLV_UPDATE_KEY, the public key update statements are checked
# against, and prints its fingerprint so a publisher can see which key a
# build trusts.
set(TOLV_TEST_UPDATE_KEY
  "da1f2c10b0eb3d74edaf5521c0cb62d249e8497ba6e19a37c6a37735f8a37832681f548a9bcad16352a11d38d5c246e70d57b9849e4ab2b3e5b3a55274654cc0")
option(TOLV_ALLOW_TEST_KEY "Build with the TEST update key (tests and the demo only; never a release)" OFF)
if(TOLV_ALLOW_TEST_KEY)
  set(key_default "${TOLV_TEST_UPDATE_KEY}")
else()
  set(key_default "")
endif()
set(TOLV_UPDATE_KEY "${key_default}" CACHE STRING "Release signing public key, X||Y in hex (tools/sign-release pubkey KEY.pem)")
# A cache made with the option keeps the TEST key after it is turned off;
# the rule below catches that too.
string(TOLOWER "${TOLV_UPDATE_KEY}" key)
if(key STREQUAL "")
  message(FATAL_ERROR "No update key: give -DTOLV_UPDATE_KEY=<X||Y in hex> (tools/sign-release pubkey KEY.pem), "
    "or -DTOLV_ALLOW_TEST_KEY=ON for a build that is only tested")
endif()
if(NOT key MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "TOLV_UPDATE_KEY must be 128 hex digits (tools/sign-release pubkey KEY.pem)")
endif()
string(LENGTH "${key}" key_length)
if(NOT key_length EQUAL 128)
  message(FATAL_ERROR "TOLV_UPDATE_KEY must be 128 hex digits (tools/sign-release pubkey KEY.pem)")
endif()
if(key STREQUAL TOLV_TEST_UPDATE_KEY)
  if(NOT TOLV_ALLOW_TEST_KEY)
    message(FATAL_ERROR "TOLV_UPDATE_KEY is the TEST key, whose private half is public: "
      "a setup or Release build needs the publisher's key (or -DTOLV_ALLOW_TEST_KEY=ON for a build that is only tested)")
  endif()
  message(STATUS "Updates are checked against the TEST signing key: not for release")
  # Such a build says so in its setup's name and title and in the About box,
  # so that it cannot be taken for a release.
  set(TOLV_TRUSTS_TEST_KEY ON)
else()
  set(TOLV_TRUSTS_TEST_KEY OFF)
endif()
if(TOLV_ALLOW_TEST_KEY AND TOLV_SIGN_CERT)
  message(FATAL_ERROR "TOLV_ALLOW_TEST_KEY and TOLV_SIGN_CERT together: a signed build must not trust the TEST key")
endif()

# The fingerprint: SHA-256 of the key's 64 bytes X||Y (not of its hex text),
# the same as `tools/sign-release pubkey KEY.pem | xxd -r -p | sha256sum`.
set(octal "")
foreach(i RANGE 0 126 2)
  string(SUBSTRING "${key}" ${i} 2 byte)
  math(EXPR v "0x${byte}")
  math(EXPR d1 "${v} / 64")
  math(EXPR d2 "(${v} / 8) % 8")
  math(EXPR d3 "${v} % 8")
  string(APPEND octal "\\${d1}${d2}${d3}")
endforeach()
execute_process(COMMAND sh -c "printf '${octal}' | sha256sum" OUTPUT_VARIABLE fingerprint RESULT_VARIABLE rc)
string(REGEX MATCH "^[0-9a-f]+" fingerprint "${fingerprint}")
string(LENGTH "${fingerprint}" fingerprint_length)
if(NOT rc EQUAL 0 OR NOT fingerprint_length EQUAL 64)
  message(FATAL_ERROR "Could not take the update key's fingerprint (sh, printf, sha256sum)")
endif()
message(STATUS "Update key SHA-256 fingerprint (of the 64 bytes X||Y): ${fingerprint}")
set(TOLV_UPDATE_KEY "${key}")
