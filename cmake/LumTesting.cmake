# Test bed: GoogleTest built with the cross toolchain, the test PKI, and the lanes in which ctest
# runs the Windows suites: throwaway test beds (a Wine prefix, Xvfb, the local release server;
# see tools/testbed/testbed.sh) side by side.

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Built as the test programs are (tests/CMakeLists.txt).
target_compile_options(gtest PRIVATE -w -g0 -O0)
target_compile_options(gtest_main PRIVATE -w -g0 -O0)

set(LUM_PKI_DIR ${CMAKE_BINARY_DIR}/pki)
# Stand-in for the "Microsoft YaHei UI" family, without which DirectWrite under Wine draws no text.
set(LUM_FONT_TOOL ${CMAKE_SOURCE_DIR}/tools/testbed/install-font.sh)
set(LUM_PKI_OUTPUTS ${LUM_PKI_DIR}/ca.der ${LUM_PKI_DIR}/tls.crt ${LUM_PKI_DIR}/tls.key
    ${LUM_PKI_DIR}/codesign-ca.crt
    ${LUM_PKI_DIR}/trusted.crt ${LUM_PKI_DIR}/trusted.key
    ${LUM_PKI_DIR}/samecase.crt ${LUM_PKI_DIR}/samecase.key
    ${LUM_PKI_DIR}/other.crt ${LUM_PKI_DIR}/other.key
    ${LUM_PKI_DIR}/revoked.crt ${LUM_PKI_DIR}/revoked.key
    ${LUM_PKI_DIR}/revocation-offline.crt ${LUM_PKI_DIR}/revocation-offline.key
    ${LUM_PKI_DIR}/untrusted.crt ${LUM_PKI_DIR}/untrusted.key
    ${LUM_PKI_DIR}/untrusted-tls.crt ${LUM_PKI_DIR}/untrusted-tls.key
    ${LUM_PKI_DIR}/rogue-root.der ${LUM_PKI_DIR}/rogue.crt ${LUM_PKI_DIR}/rogue.key
    ${LUM_PKI_DIR}/crl/root.crl ${LUM_PKI_DIR}/crl/codesign.crl
    ${LUM_PKI_DIR}/manifest.key ${LUM_PKI_DIR}/manifest.pub.pem
    ${LUM_PKI_DIR}/manifest-next.key ${LUM_PKI_DIR}/manifest-next.pub.pem
    ${LUM_PKI_DIR}/manifest-unlisted.key ${LUM_PKI_DIR}/manifest-unlisted.pub.pem)
# The test code-signing certificates name their CA's revocation list on this loopback port, where
# each test bed's release server serves it over plain HTTP.
math(EXPR LUM_TEST_CRL_PORT "${LUM_DEV_PORT} + 1")

# Keys and certificates are made at build time into the build tree, never committed.
add_custom_command(
  OUTPUT ${LUM_PKI_OUTPUTS}
  COMMAND bash ${CMAKE_SOURCE_DIR}/tools/pki/make-test-pki.sh ${LUM_PKI_DIR} ${LUM_TEST_CRL_PORT}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/pki/make-test-pki.sh
  COMMENT "Generating the test PKI")
add_custom_target(lum_test_pki ALL DEPENDS ${LUM_PKI_OUTPUTS})

# Signs a copy of a Windows executable with a code-signing certificate of the test PKI
# (trusted, samecase, other, revoked, revocation-offline, untrusted or rogue). The caller makes a
# target depend on OUTPUT.
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

# Build outputs that tests use (the demo application and packages, signed programs).
set(LUM_ARTIFACT_DIR ${CMAKE_BINARY_DIR}/artifacts)
file(MAKE_DIRECTORY ${LUM_ARTIFACT_DIR})

# ---- Test beds ----
# Writes DIR/config.sh, which testbed.sh reads. NETNS 1: the test bed gets a network namespace
# of its own, in which its server listens on LUM_DEV_PORT (tools/testbed/netns.sh). RECORDER
# (optional): the program the prefix opens https URLs with for the whole run.
#   lum_testbed_config(DIR NETNS [RECORDER])
function(lum_testbed_config dir netns)
  file(GENERATE OUTPUT ${dir}/config.sh CONTENT
"LUM_SOURCE_DIR='${CMAKE_SOURCE_DIR}'
LUM_PKI_DIR='${LUM_PKI_DIR}'
LUM_ARTIFACT_DIR='${LUM_ARTIFACT_DIR}'
LUM_DEV_PORT='${LUM_DEV_PORT}'
LUM_CRL_PORT='${LUM_TEST_CRL_PORT}'
LUM_TRUST_TOOL='$<TARGET_FILE:trust_root>'
LUM_DESKTOP_KEEPER='$<TARGET_FILE:desktop_keeper>'
LUM_FONT_TOOL='${LUM_FONT_TOOL}'
LUM_TESTBED_NETNS='${netns}'
LUM_HTTPS_RECORDER='${ARGV2}'
")
endfunction()

# The build tree's own test bed, on the machine's loopback, for tools/run-demo.sh and the
# benchmarks (ctest does not use it).
set(LUM_TESTBED_DIR ${CMAKE_BINARY_DIR}/testbed)
lum_testbed_config(${LUM_TESTBED_DIR} 0)

# ---- Lanes ----
# ctest runs the Windows suites in lanes: a lane is a test bed of its own under build/lanes/NAME,
# started by the entry testbed.NAME.start and ended by testbed.NAME.stop (ctest fixtures). The
# entries of one lane take its test bed one at a time (RESOURCE_LOCK); lanes run side by side
# (ctest -j). Each lane's server listens on LUM_DEV_PORT in the lane's own network namespace:
# the programs have that port compiled in (the controller's metrics and the shipped program's
# manifest and legal URLs), so each reaches its own lane's server and any suite can go to any
# lane. Without network namespaces there is one lane, on the machine's loopback.
set(LUM_TEST_NETNS AUTO CACHE STRING
  "Test lanes in network namespaces of their own: AUTO (when this machine allows it), ON, OFF")
set(lum_netns_status 1)
if(NOT LUM_TEST_NETNS STREQUAL "OFF")
  execute_process(
    COMMAND bash -c "source '${CMAKE_SOURCE_DIR}/tools/testbed/netns.sh' && netns_available"
    RESULT_VARIABLE lum_netns_status OUTPUT_QUIET ERROR_QUIET)
  if(LUM_TEST_NETNS STREQUAL "ON" AND NOT lum_netns_status EQUAL 0)
    message(FATAL_ERROR "LUM_TEST_NETNS=ON, but no network namespace can be made here (unshare)")
  endif()
endif()
if(lum_netns_status EQUAL 0)
  set(LUM_TEST_LANES a b)
  set(LUM_TEST_LANE_NETNS 1)
else()
  message(STATUS "No network namespaces for the test lanes: the Windows suites run in one lane")
  set(LUM_TEST_LANES a)
  set(LUM_TEST_LANE_NETNS 0)
endif()

# The lane that LANE stands for here: the first one for none, or when all are one.
function(lum_lane out lane)
  if(NOT lane IN_LIST LUM_TEST_LANES)
    if(LUM_TEST_LANE_NETNS AND NOT lane STREQUAL "")
      message(FATAL_ERROR "no test lane '${lane}' (lanes: ${LUM_TEST_LANES})")
    endif()
    list(GET LUM_TEST_LANES 0 lane)
  endif()
  set(${out} ${lane} PARENT_SCOPE)
endfunction()

function(lum_lane_dir out lane)
  lum_lane(lane "${lane}")
  set(${out} ${CMAKE_BINARY_DIR}/lanes/${lane} PARENT_SCOPE)
endfunction()

# A lane may have a twin: a second test bed (build/lanes/NAME-twin, in a network namespace of its
# own) that entries of the lane with a TWIN filter use beside the lane's own, so that tests that
# wait on the product's time-outs wait side by side (tools/testbed/side-by-side.sh). The lane's
# start and stop entries start and stop both. Only with network namespaces: on the machine's
# loopback two servers would want the one port.
set(LUM_TEST_TWIN_LANES b)
if(NOT LUM_TEST_LANE_NETNS)
  set(LUM_TEST_TWIN_LANES)
endif()

# The test beds of a lane: its own and its twin, if any.
function(lum_lane_testbeds out lane)
  lum_lane(lane "${lane}")
  lum_lane_dir(dir "${lane}")
  set(dirs ${dir})
  if(lane IN_LIST LUM_TEST_TWIN_LANES)
    list(APPEND dirs ${dir}-twin)
  endif()
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

# The start and stop entries of every lane.
function(lum_add_lanes)
  foreach(lane IN LISTS LUM_TEST_LANES)
    lum_lane_testbeds(dirs "${lane}")
    foreach(dir IN LISTS dirs)
      # The UI driver's URL recorder answers the lane's https links (tests/ui/driver.py).
      lum_testbed_config(${dir} ${LUM_TEST_LANE_NETNS} $<TARGET_FILE:url_recorder>)
    endforeach()
    add_test(NAME testbed.${lane}.start
      COMMAND bash ${CMAKE_SOURCE_DIR}/tools/testbed/lane.sh start ${dirs})
    set_tests_properties(testbed.${lane}.start PROPERTIES FIXTURES_SETUP testbed.${lane}
      TIMEOUT 180 COST 1000)
    add_test(NAME testbed.${lane}.stop
      COMMAND bash ${CMAKE_SOURCE_DIR}/tools/testbed/lane.sh stop ${dirs})
    set_tests_properties(testbed.${lane}.stop PROPERTIES FIXTURES_CLEANUP testbed.${lane}
      TIMEOUT 60)
  endforeach()
endfunction()

# Puts tests in a lane: they need its test bed, take it one at a time, and find it through
# LUM_TESTBED (wine-run.sh, in-testbed.sh and the UI driver read it).
#   lum_test_lane(LANE test...)
function(lum_test_lane lane)
  lum_lane(lane "${lane}")
  lum_lane_dir(dir "${lane}")
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED testbed.${lane})
    set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK testbed.${lane})
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT LUM_TESTBED=${dir})
  endforeach()
endfunction()

# The time-out, rough seconds (COST, may be empty) and lane of a Windows test entry.
function(lum_test_settings name timeout cost lane)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout})
  if(cost)
    set_tests_properties(${name} PROPERTIES COST ${cost})
  endif()
  lum_test_lane("${lane}" ${name})
endfunction()

# Adds a GoogleTest binary run under Wine in a lane (default: the first). COST: the seconds it
# takes, roughly, so that ctest starts the long ones first. TWIN: a GoogleTest filter of the
# tests that run in the lane's twin test bed, beside the others in its own (where the lane has
# no twin, all run in its own).
#   lum_add_gtest(name SOURCES ... [LIBS ...] [TIMEOUT seconds] [DEPENDS targets...] [LANE lane]
#                 [COST seconds] [TWIN filter])
function(lum_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT;LANE;COST;TWIN" "SOURCES;LIBS;DEPENDS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} lum_test_support gtest_main gtest lum_options)
  target_precompile_headers(${name} REUSE_FROM lum_test_support)
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  lum_lane_testbeds(dirs "${ARG_LANE}")
  list(LENGTH dirs count)
  if(ARG_TWIN AND count EQUAL 2)
    list(GET dirs 1 twin)
    add_test(NAME ${name} COMMAND bash ${CMAKE_SOURCE_DIR}/tools/testbed/side-by-side.sh
      $<TARGET_FILE:${name}> "${ARG_TWIN}" --gtest_brief=1)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT LUM_TESTBED_TWIN=${twin})
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  endif()
  lum_test_settings(${name} "${ARG_TIMEOUT}" "${ARG_COST}" "${ARG_LANE}")
endfunction()

# A check that runs on the build machine itself (no Wine).
function(lum_add_host_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120)
endfunction()

# A check driven from the build machine against a lane's test bed (default: the first): it runs
# inside the lane's network namespace, starts Windows programs through wine-run.sh and may use
# the lane's display.
#   lum_add_testbed_host_test(name [TIMEOUT seconds] [LANE lane] [COST seconds] COMMAND ...)
function(lum_add_testbed_host_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;LANE;COST" "COMMAND" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  lum_lane_dir(dir "${ARG_LANE}")
  add_test(NAME ${name}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/testbed/in-testbed.sh ${dir} ${ARG_COMMAND})
  lum_test_settings(${name} "${ARG_TIMEOUT}" "${ARG_COST}" "${ARG_LANE}")
endfunction()
