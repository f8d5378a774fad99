# The publisher's release key at configure time: a PEM public key, checked to be ECDSA P-256 and
# turned into the 128 hex digits of its point (X then Y) that the installer embeds. The openssl
# command line does the reading; a key it cannot read, or one on another curve or of another
# kind, stops the configuration.
include("${CMAKE_CURRENT_LIST_DIR}/QvlTools.cmake")

# The SubjectPublicKeyInfo of every P-256 key with an uncompressed point starts with these
# bytes (id-ecPublicKey, prime256v1, a 66-byte bit string, 0x04); the 64 that follow are X, Y.
set(_qvl_p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")

function(qvl_release_key_hex pem out)
  qvl_require_program(QVL_OPENSSL_PROGRAM openssl)
  if(NOT EXISTS "${pem}")
    message(FATAL_ERROR "Release key \"${pem}\" does not exist")
  endif()
  set(_der "${CMAKE_BINARY_DIR}/CMakeFiles/qvl-release-key.der")
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/CMakeFiles")
  execute_process(
    COMMAND "${QVL_OPENSSL_PROGRAM}" ec -pubin -in "${pem}" -pubout -outform DER -conv_form uncompressed -out "${_der}"
    RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Release key \"${pem}\" is not a PEM EC public key (openssl: ${_err})")
  endif()
  file(READ "${_der}" _hex HEX)
  file(REMOVE "${_der}")
  string(LENGTH "${_hex}" _length)
  string(FIND "${_hex}" "${_qvl_p256_prefix}" _at)
  if(NOT _length EQUAL 182 OR NOT _at EQUAL 0)
    message(FATAL_ERROR "Release key \"${pem}\" is not an ECDSA P-256 (prime256v1) public key")
  endif()
  string(SUBSTRING "${_hex}" 54 128 _point)
  # A changed key file configures again (in a project; `cmake -P` runs have no directory).
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
  endif()
  set(${out} "${_point}" PARENT_SCOPE)
endfunction()

# Several keys (a list of PEM public keys: `;` between them, as a CMake list), so that a new key
# can ship in one release and sign the next: their hex forms joined by ",".
function(qvl_release_keys_hex pems out)
  set(_all "")
  foreach(_pem IN LISTS pems)
    qvl_release_key_hex("${_pem}" _one)
    list(APPEND _all "${_one}")
  endforeach()
  list(JOIN _all "," _joined)
  set(${out} "${_joined}" PARENT_SCOPE)
endfunction()

# A key pair for tests, made once per build folder: `dir`/`name`.pem (private) and
# `dir`/`name`.pub.pem. Sets `out` to the public key's path.
function(qvl_test_release_key dir name out)
  qvl_require_program(QVL_OPENSSL_PROGRAM openssl)
  if(NOT EXISTS "${dir}/${name}.pub.pem")
    file(MAKE_DIRECTORY "${dir}")
    execute_process(COMMAND "${QVL_OPENSSL_PROGRAM}" ecparam -name prime256v1 -genkey -noout -out "${dir}/${name}.pem"
                    RESULT_VARIABLE _rc1 OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND "${QVL_OPENSSL_PROGRAM}" ec -in "${dir}/${name}.pem" -pubout -out "${dir}/${name}.pub.pem"
                    RESULT_VARIABLE _rc2 OUTPUT_QUIET ERROR_QUIET)
    if(NOT _rc1 EQUAL 0 OR NOT _rc2 EQUAL 0)
      message(FATAL_ERROR "openssl could not make the test release key ${name} in ${dir}")
    endif()
  endif()
  set(${out} "${dir}/${name}.pub.pem" PARENT_SCOPE)
endfunction()
