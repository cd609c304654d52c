find_package(GTest REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# kel_add_unit_test(name SOURCES ... [LIBS ...])
# One GoogleTest executable, registered with CTest under the label "unit".
function(kel_add_unit_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  kel_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 120
    ENVIRONMENT "KEL_TEST_OUTPUT=${PROJECT_BINARY_DIR}/test-output")
endfunction()

# kel_add_process_test(file.py)
# A Python unittest module that drives the hosts as a host program would.
function(kel_add_process_test file)
  get_filename_component(name ${file} NAME_WE)
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES LABELS process TIMEOUT 600
    ENVIRONMENT "KEL_BIN=${PROJECT_BINARY_DIR}/bin;KEL_BUILD_DIR=${PROJECT_BINARY_DIR};KEL_CMAKE=${CMAKE_COMMAND};KEL_TEST_OUTPUT=${PROJECT_BINARY_DIR}/test-output;KEL_SANITIZE=${KEL_SANITIZE}")
endfunction()
