#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The library on 64-bit ARM (a Raspberry Pi with a 64-bit OS and other ARMv8 boards), tested on
# this x86-64 machine: cross-compiles the library, the C++ suite and the C interface test with
# Debian's aarch64 cross toolchain against the arm64 FFTW of the same release (multiarch), and
# runs them under user-mode emulation (qemu-user).  The suite includes the check that the
# bundled speech encodes and decodes to the x86-64 reference outputs.  The whole suite runs:
# emulated it takes about 22 s of CPU time (some 13 times its native run); most of the step is
# the compilation, about 10 CPU minutes.  Called by tools/test_all.sh; runs on its own too.
#   bash tools/test_aarch64.sh
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
if [ "$(uname -m)" != x86_64 ]; then
  echo "not an x86-64 machine: the aarch64 cross build is left out (the native suite is this machine's run)"
  exit 0
fi
if ! declare -F install_debian_packages >/dev/null; then source tools/setup_env.sh; fi
install_debian_packages g++-aarch64-linux-gnu qemu-user-static \
  libfftw3-dev:arm64 libgtest-dev:arm64 zlib1g-dev:arm64 libstdc++6:arm64

cmake -S . -B build/aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=ON -DOSTREL_BUILD_SHARED=OFF \
  -DOSTREL_INSTALL_LIBRARY=OFF "${compiler_launcher[@]}" >/dev/null
cmake --build build/aarch64 -j "$(nproc)"
built=$SECONDS
aarch64-linux-gnu-readelf -h build/aarch64/ostrel_mbe_tests | grep -q AArch64 || { echo "not an aarch64 build"; exit 1; }

qemu=$(command -v qemu-aarch64-static || command -v qemu-aarch64)
"$qemu" build/aarch64/ostrel_mbe_tests --gtest_brief=1
"$qemu" build/aarch64/ostrel_mbe_c_api_test
echo "== aarch64 step took $((SECONDS - start)) s (build $((built - start)) s, tests under emulation $((SECONDS - built)) s)"
