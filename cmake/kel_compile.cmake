# What every target of ours compiles with.

# Warnings; KEL_WERROR (set in CI) makes them errors.
function(kel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(KEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# kel_common_headers(target [header ...])
# With clang, the standard headers that most of a target's files include, and
# any others named, parsed once per target (and per architecture of a universal
# build) instead of once per file: parsing them took most of each file's compile
# time, and a clang build now takes a quarter less. g++'s precompiled headers
# cost more to make than they save. The Objective-C++ files of the macOS edge
# keep to their own includes.
function(kel_common_headers target)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  target_precompile_headers(${target} PRIVATE
    <algorithm> <array> <atomic> <charconv> <chrono> <cmath> <condition_variable> <cstddef>
    <cstdint> <functional> <map> <memory> <mutex> <optional> <span> <string> <string_view>
    <thread> <utility> <variant> <vector> ${ARGN})
endfunction()
