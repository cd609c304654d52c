# kel_linux_library(TARGET MAP): the link settings of a shared library that a
# host or the bridge loads on Linux: only what the version script MAP exports,
# nothing left undefined, and the libraries beside it found through $ORIGIN.
function(kel_linux_library target map)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  # A sanitized library leaves the sanitizer's runtime to the executable.
  if(NOT KEL_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  set_target_properties(${target} PROPERTIES
    LINK_DEPENDS ${map}
    BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
endfunction()
