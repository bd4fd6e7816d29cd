# Test registration shared by the native and the Windows test builds.
#
# Windows test programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR, in a prefix that
# belongs to this build tree (scripts/wine-run.sh creates it on first use). They share one prefix,
# and with it one registry, so they never run at the same time as each other; native tests may.

include(GoogleTest)

if(WIN32)
  set(VM_TEST_PREFIX "win64.")
  set(VM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${VM_WINEPREFIX})
  set(VM_TEST_PROPERTIES RESOURCE_LOCK wineprefix FIXTURES_REQUIRED wine)
else()
  set(VM_TEST_PREFIX "native.")
  set(VM_TEST_PROPERTIES "")
endif()

# vm_add_gtest(<target> SOURCES ... [LIBS ...] [TIMEOUT s])
function(vm_add_gtest target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(WIN32)
    # Tests write their own files; a console program keeps gtest's output visible under Wine.
    target_link_libraries(${target} PRIVATE -Wl,--subsystem,console)
  endif()
  gtest_discover_tests(${target}
    TEST_PREFIX ${VM_TEST_PREFIX}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 180
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${VM_TEST_PROPERTIES})
endfunction()

# vm_add_script_test(<name> COMMAND ... [PROPERTIES ...]): a test run by a script on the host.
function(vm_add_script_test name)
  cmake_parse_arguments(ARG "" "" "COMMAND;PROPERTIES" ${ARGN})
  add_test(NAME ${VM_TEST_PREFIX}${name} COMMAND ${ARG_COMMAND})
  if(ARG_PROPERTIES)
    set_tests_properties(${VM_TEST_PREFIX}${name} PROPERTIES ${ARG_PROPERTIES})
  endif()
endfunction()

if(WIN32 AND VM_BUILD_TESTS)
  # Stops the prefix's wineserver once every Windows test has run, so nothing stays behind.
  add_test(NAME ${VM_TEST_PREFIX}wine.stop
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${VM_WINEPREFIX} --stop)
  set_tests_properties(${VM_TEST_PREFIX}wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endif()
