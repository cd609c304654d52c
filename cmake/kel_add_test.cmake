# GoogleTest: the system's, or, for a target the system has no build of (the
# macOS cross build, aarch64 under emulation), built here from Debian's sources.
set(KEL_GTEST_SOURCE_DIR "" CACHE PATH "GoogleTest's source tree, to build it for the target instead of finding it.")
if(KEL_GTEST_SOURCE_DIR)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KEL_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Unoptimised, which halves its build; the tests spend no time in it.
  target_compile_options(gtest PRIVATE -O0)
else()
  find_package(GTest REQUIRED)
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Under the sanitizers a finding ends the process with a failure, whichever path
# the process takes to its end, and the tests get time for the slower build.
set(kel_sanitizer_environment
  "ASAN_OPTIONS=halt_on_error=1:abort_on_error=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1")
if(KEL_SANITIZE)
  set(kel_test_timeout_factor 5)
else()
  set(kel_test_timeout_factor 1)
endif()

# kel_add_unit_test(name SOURCES ... [LIBS ...])
# One GoogleTest executable; each of its cases is a CTest entry labelled "unit",
# listed when ctest runs, so that a cross build compiles the tests without running
# them, and an emulated one lists them through its emulator.
include(GoogleTest)
function(kel_add_unit_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  kel_warnings(${name})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} keltestsupport)
  # One unit of compilation, which parses GoogleTest's headers once.
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests UNITY_BUILD ON)
  math(EXPR timeout "120 * ${kel_test_timeout_factor}")
  # The sanitizers' options are built into the executable (tests/unit/support.cpp).
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES LABELS unit TIMEOUT ${timeout})
endfunction()

# kel_add_process_test(file.py)
# A Python unittest module that drives the hosts as a host program would.
function(kel_add_process_test file)
  get_filename_component(name ${file} NAME_WE)
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  math(EXPR timeout "600 * ${kel_test_timeout_factor}")
  set_tests_properties(${name} PROPERTIES LABELS process TIMEOUT ${timeout}
    ENVIRONMENT "KEL_BIN=${PROJECT_BINARY_DIR}/bin;KEL_BUILD_DIR=${PROJECT_BINARY_DIR};KEL_LIBRARY_DIR=${KEL_LIBRARY_DIR};KEL_CMAKE=${CMAKE_COMMAND};KEL_TEST_OUTPUT=${PROJECT_BINARY_DIR}/test-output;KEL_SANITIZE=${KEL_SANITIZE};${kel_sanitizer_environment}")
endfunction()
