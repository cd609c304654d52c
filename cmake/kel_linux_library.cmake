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

# The now-playing service's entry points, under MediaRemote's names.
set(kel_entry_points
  MRMediaRemoteRegisterForNowPlayingNotifications
  MRMediaRemoteGetNowPlayingInfo
  MRMediaRemoteGetNowPlayingApplicationIsPlaying
  MRMediaRemoteSendCommand
  MRMediaRemoteSetElapsedTime)

# kel_service_library(TARGET [WITHOUT NAME]): the link settings of a service
# library that the bridge opens: it exports the entry points, or all but NAME (a
# symbol left local is one that dlsym does not find), and nothing else.
function(kel_service_library target)
  cmake_parse_arguments(arg "" "WITHOUT" "" ${ARGN})
  set(exported ${kel_entry_points})
  list(REMOVE_ITEM exported "${arg_WITHOUT}")
  list(JOIN exported ";\n    " exported)
  file(CONFIGURE OUTPUT ${target}.map CONTENT "{\n  global:\n    ${exported};\n  local: *;\n};\n")
  kel_linux_library(${target} ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
endfunction()
