# KEL_SANITIZE and KEL_FUZZ: every target of the build compiled and linked with
# the sanitizers, so that a finding anywhere (the core, the Linux platform, the
# services, the tests) ends the program, and no test can pass over it.
if(KEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KEL_FUZZ needs clang, which has libFuzzer.")
  endif()
  # The fuzzer steers by the coverage of everything the targets run, the core and
  # the Linux platform alike.
  if(NOT KEL_SANITIZE)
    set(KEL_SANITIZE address,undefined)
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(KEL_SANITIZE)
  add_compile_options(-fsanitize=${KEL_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${KEL_SANITIZE})
endif()
