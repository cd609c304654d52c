# CMake toolchain for the unit tests on 64-bit Arm Linux, built here and run
# under user-mode emulation: Debian's g++-aarch64-linux-gnu, whose C library
# lives in /usr/aarch64-linux-gnu, and qemu-aarch64 from qemu-user, which ctest
# puts before each test. GoogleTest is built for the target from Debian's
# googletest sources (the aarch64-linux preset passes KEL_GTEST_SOURCE_DIR).
# scripts/setup installs all three.
# Note: char is unsigned on Linux aarch64 and signed on x86-64 and Apple arm64,
# so these tests and the native ones between them run the core with both.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(kel_target aarch64-linux-gnu)
set(kel_sysroot /usr/${kel_target})
set(CMAKE_C_COMPILER ${kel_target}-gcc)
set(CMAKE_CXX_COMPILER ${kel_target}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${kel_sysroot})

# Everything but programs from the target's tree only. It holds no sd-bus and
# no nlohmann_json, so the preset leaves out the services (KEL_BUILD_SERVICES).
set(CMAKE_FIND_ROOT_PATH ${kel_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
