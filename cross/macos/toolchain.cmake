# CMake toolchain for building on Linux what a Mac builds: it supplies only what
# Xcode supplies there (compilers, linker, lipo, the SDK), and leaves everything
# else to the project's presets, as on a Mac: the architectures (both in one
# configure), the deployment target, the build type. Debian's LLVM 19 clang and
# ld64.lld, libc++ 19's headers, and a sysroot that scripts/macos-cross assembles
# (Apple's open-source headers and libSystem stub from the Zig package, our own
# CoreFoundation, Foundation, libobjc and libc++ declarations and stubs).
# Use it through scripts/macos-cross, whose presets pass:
#   KEL_MACOS_HOST   arm64 or x86_64: the processor of the Mac being played,
#                    which a Mac's CMake takes as CMAKE_SYSTEM_PROCESSOR
#   KEL_MACOS_SDK    the assembled sysroot
# clang makes a universal file from several -arch flags by running lipo, which
# scripts/macos-cross puts on the PATH as llvm-lipo.
# Note: Zig's own compiler and linker are never used: its linker exports libc++
# internals and ignores exported-symbols lists.

if(NOT KEL_MACOS_HOST MATCHES "^(arm64|x86_64)$")
  message(FATAL_ERROR "macos-cross: set KEL_MACOS_HOST to arm64 or x86_64 (got '${KEL_MACOS_HOST}')")
endif()
if(NOT EXISTS "${KEL_MACOS_SDK}/usr/lib/libSystem.tbd")
  message(FATAL_ERROR "macos-cross: KEL_MACOS_SDK '${KEL_MACOS_SDK}' is not an assembled sysroot; run scripts/macos-cross")
endif()
# try_compile projects run this file again and need the same two.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KEL_MACOS_HOST KEL_MACOS_SDK)

set(kel_llvm /usr/lib/llvm-19/bin)

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 23.0) # Darwin 23 is macOS 14
set(CMAKE_SYSTEM_PROCESSOR ${KEL_MACOS_HOST})
set(CMAKE_OSX_SYSROOT ${KEL_MACOS_SDK} CACHE PATH "" FORCE)

# Xcode's clang targets the Mac it runs on; -arch and -mmacosx-version-min, which
# CMake adds from the presets, pick each slice and the deployment target.
foreach(lang C CXX OBJC OBJCXX)
  set(CMAKE_${lang}_COMPILER_TARGET ${KEL_MACOS_HOST}-apple-darwin23)
endforeach()
set(CMAKE_C_COMPILER ${kel_llvm}/clang)
set(CMAKE_OBJC_COMPILER ${kel_llvm}/clang)
set(CMAKE_CXX_COMPILER ${kel_llvm}/clang++)
set(CMAKE_OBJCXX_COMPILER ${kel_llvm}/clang++)
set(CMAKE_AR ${kel_llvm}/llvm-ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${kel_llvm}/llvm-ranlib CACHE FILEPATH "" FORCE)
set(CMAKE_INSTALL_NAME_TOOL ${kel_llvm}/llvm-install-name-tool CACHE FILEPATH "" FORCE)
set(CMAKE_LIPO ${kel_llvm}/llvm-lipo CACHE FILEPATH "" FORCE)

# libc++ 19's headers, behind an overlay that makes them judge a macOS
# deployment target as Apple's own copy does (see cross/macos/libcxx).
set(kel_cxx_flags "-stdlib=libc++ -nostdinc++ -isystem ${CMAKE_CURRENT_LIST_DIR}/libcxx -isystem /usr/lib/llvm-19/include/c++/v1")
set(CMAKE_CXX_FLAGS_INIT "${kel_cxx_flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "${kel_cxx_flags}")

# ld64.lld needs -platform_version, which clang passes only to a linker it
# believes is ld64 version 520 or later. CMake repeats the compile flags on the
# link line, where -nostdinc++ means nothing.
set(kel_link_flags "-fuse-ld=lld --ld-path=${kel_llvm}/ld64.lld -mlinker-version=711 -Wno-unused-command-line-argument")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "${kel_link_flags}")
endforeach()

# Everything comes from the sysroot, nothing from the Linux host.
set(CMAKE_FIND_ROOT_PATH ${KEL_MACOS_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
