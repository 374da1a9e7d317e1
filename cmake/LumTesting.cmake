# Test bed: GoogleTest built with the cross toolchain, a throwaway Wine prefix per ctest run,
# Xvfb, the test PKI and the local release server (see tools/testbed/testbed.sh).

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)

set(LUM_TESTBED_DIR ${CMAKE_BINARY_DIR}/testbed)
set(LUM_PKI_DIR ${CMAKE_BINARY_DIR}/pki)
# Stand-in for the "Microsoft YaHei UI" family, without which DirectWrite under Wine draws no text.
set(LUM_FONT_TOOL ${CMAKE_SOURCE_DIR}/tools/testbed/install-font.sh)
set(LUM_PKI_OUTPUTS ${LUM_PKI_DIR}/ca.der ${LUM_PKI_DIR}/tls.crt ${LUM_PKI_DIR}/tls.key
    ${LUM_PKI_DIR}/trusted.crt ${LUM_PKI_DIR}/trusted.key
    ${LUM_PKI_DIR}/samecase.crt ${LUM_PKI_DIR}/samecase.key
    ${LUM_PKI_DIR}/other.crt ${LUM_PKI_DIR}/other.key
    ${LUM_PKI_DIR}/untrusted.crt ${LUM_PKI_DIR}/untrusted.key
    ${LUM_PKI_DIR}/untrusted-tls.crt ${LUM_PKI_DIR}/untrusted-tls.key)

# Keys and certificates are made at build time into the build tree, never committed.
add_custom_command(
  OUTPUT ${LUM_PKI_OUTPUTS}
  COMMAND bash ${CMAKE_SOURCE_DIR}/tools/pki/make-test-pki.sh ${LUM_PKI_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/pki/make-test-pki.sh
  COMMENT "Generating the test PKI")
add_custom_target(lum_test_pki ALL DEPENDS ${LUM_PKI_OUTPUTS})

# Signs a copy of a Windows executable with a code-signing certificate of the test PKI
# (trusted, samecase, other or untrusted). The caller makes a target depend on OUTPUT.
#   lum_sign_file(OUTPUT signed.exe INPUT unsigned.exe CERT trusted [DEPENDS targets-or-files...])
find_program(LUM_OSSLSIGNCODE osslsigncode REQUIRED)
function(lum_sign_file)
  cmake_parse_arguments(ARG "" "OUTPUT;INPUT;CERT" "DEPENDS" ${ARGN})
  foreach(required OUTPUT INPUT CERT)
    if(NOT ARG_${required})
      message(FATAL_ERROR "lum_sign_file: ${required} is required")
    endif()
  endforeach()
  set(cert ${LUM_PKI_DIR}/${ARG_CERT}.crt)
  set(key ${LUM_PKI_DIR}/${ARG_CERT}.key)
  # osslsigncode refuses to overwrite its output.
  add_custom_command(
    OUTPUT ${ARG_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${ARG_OUTPUT}
    COMMAND ${LUM_OSSLSIGNCODE} sign -certs ${cert} -key ${key} -h sha256
            -in ${ARG_INPUT} -out ${ARG_OUTPUT}
    DEPENDS ${ARG_INPUT} ${cert} ${key} ${ARG_DEPENDS}
    COMMENT "Signing ${ARG_OUTPUT} with the ${ARG_CERT} certificate"
    VERBATIM)
endfunction()

# Adds a GoogleTest binary run under Wine inside the shared test bed.
#   lum_add_gtest(name SOURCES ... [LIBS ...] [TIMEOUT seconds] [DEPENDS targets...])
function(lum_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;DEPENDS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} lum_test_support gtest_main gtest lum_options)
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED testbed
    RESOURCE_LOCK testbed
    TIMEOUT ${ARG_TIMEOUT})
endfunction()

# A check that runs on the build machine itself (no Wine).
function(lum_add_host_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120)
endfunction()

# A check driven from the build machine against the Wine test bed (it starts Windows programs
# through tools/testbed/wine-run.sh and may use the test bed's display).
#   lum_add_testbed_host_test(name [TIMEOUT seconds] COMMAND ...)
function(lum_add_testbed_host_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "COMMAND" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED testbed
    RESOURCE_LOCK testbed
    TIMEOUT ${ARG_TIMEOUT})
endfunction()
