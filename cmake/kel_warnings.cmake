# Warnings for every target of ours; KEL_WERROR (set in CI) makes them errors.
function(kel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(KEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(KEL_SANITIZE)
    # A finding stops the program, so that no test can pass over it.
    target_compile_options(${target} PRIVATE -fsanitize=${KEL_SANITIZE} -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${KEL_SANITIZE})
  endif()
endfunction()
