# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-compiles for 64-bit ARM Linux (Raspberry Pi 3/4/5 with a 64-bit OS, other ARMv8 boards)
# with Debian's cross toolchain (g++-aarch64-linux-gnu) against the arm64 packages of the same
# release installed through multiarch (libfftw3-dev:arm64, libgtest-dev:arm64, zlib1g-dev:arm64):
#   cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# Test programs run through qemu-user (CMAKE_CROSSCOMPILING_EMULATOR), so ctest works as usual.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# GCC notes on every std::pair<double, double> passed by value that GCC 10 changed its aarch64
# calling convention; everything here is built by one compiler, so the note says nothing.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# Multiarch keeps the arm64 libraries in /usr/lib/aarch64-linux-gnu beside the host's; headers
# in /usr/include are shared.  pkg-config must see the arm64 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

find_program(OSTREL_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(OSTREL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTREL_QEMU_AARCH64})
endif()
