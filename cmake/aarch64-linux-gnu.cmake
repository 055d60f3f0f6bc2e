# Cross build for 64-bit ARM Linux (Raspberry Pi OS 64-bit, Debian arm64) with
# Debian's g++-aarch64-linux-gnu; programs and tests run on this machine under
# qemu-user with the ARM libraries of /usr/aarch64-linux-gnu.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DVS32_SOUND=OFF -DVS32_BUILD_BENCH=OFF -DVS32_GTEST_SOURCE_DIR=/usr/src/googletest
#
# `make cross-arm64` does this and runs the tests (scripts/setup --cross-arm64
# installs the compiler and qemu).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(VS32_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${VS32_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VS32_CROSS_TRIPLET}-g++)

# Libraries and headers come from the ARM root only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VS32_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest, test discovery and the tests' child programs run through this.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64 -L /usr/${VS32_CROSS_TRIPLET})
