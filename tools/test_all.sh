#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what the tests need, builds, and runs every test: the C++ suite and the C interface
# test, both again under AddressSanitizer + UndefinedBehaviorSanitizer, the multi-threaded tests
# under ThreadSanitizer, both cross-compiled for aarch64 and run under emulation, a consumer
# project built against the installed library, the sdist and the wheel (repaired by auditwheel so
# that it carries FFTW, with a smoke test of it in a fresh virtualenv), every fuzz target for
# 20 s, and the Python suite, which also runs the README's examples.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh

jobs=$(nproc)
echo "== C++ tests (release)"
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BUILD_TESTS=ON "${compiler_launcher[@]}" >/dev/null
cmake --build build/tests -j "$jobs"
./build/tests/ostrel_mbe_tests --gtest_brief=1
./build/tests/ostrel_mbe_c_api_test

echo "== C++ tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
# Debug, unoptimised, keeps the test command's time down; the sanitizer build also compiles
# without warnings at RelWithDebInfo (-DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_SANITIZE=ON).
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTREL_BUILD_TESTS=ON -DOSTREL_SANITIZE=ON "${compiler_launcher[@]}" >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  OSTREL_SANITIZED=1 ./build/asan/ostrel_mbe_tests --gtest_brief=1
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ./build/asan/ostrel_mbe_c_api_test

echo "== C++ tests under ThreadSanitizer (channels on several threads at once)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BUILD_TESTS=ON -DOSTREL_TSAN=ON "${compiler_launcher[@]}" >/dev/null
cmake --build build/tsan -j "$jobs"
# One-time initialisations race only in a fresh process: the first-use test runs alone first.
export TSAN_OPTIONS=halt_on_error=1
./build/tsan/ostrel_mbe_tests --gtest_brief=1 --gtest_filter='*FirstUse*'
./build/tsan/ostrel_mbe_tests --gtest_brief=1 --gtest_filter='-*FirstUse*'
unset TSAN_OPTIONS

echo "== aarch64: cross-compiled C++ tests and C interface test under qemu-user"
bash tools/test_aarch64.sh

echo "== Installed library: CMake package, pkg-config file, C and C++ consumers"
rm -rf build/install
cmake --install build/tests --prefix build/install >/dev/null
cmake -S tests/consumer -B build/consumer -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$PWD/build/install" >/dev/null
cmake --build build/consumer -j "$jobs"
ctest --test-dir build/consumer --output-on-failure

echo "== Python sdist and wheel, repaired by auditwheel, smoke test of the wheel in a fresh virtualenv"
wheel_start=$SECONDS
# The wheel is built from the unpacked sdist, so a file missing from the sdist or a build step
# that only works in the source tree fails here.
rm -rf build/dist build/wheelhouse build/wheel-venv
python -m build --outdir build/dist . >build/python-build.log 2>&1 || { cat build/python-build.log; exit 1; }
# auditwheel copies the libraries outside the manylinux policy (FFTW) into the wheel, points the
# extension at them, and tags the wheel with the oldest manylinux this machine's build allows.
auditwheel repair -w build/wheelhouse build/dist/ostrel_mbe-*.whl >build/auditwheel.log 2>&1 ||
  { cat build/auditwheel.log; exit 1; }
wheel=$(echo build/wheelhouse/ostrel_mbe-*manylinux*.whl)
# A wheel that needs a library outside it and outside the policy is "consistent" with linux_x86_64 only.
auditwheel show "$wheel" 2>&1 | tee build/auditwheel-show.log
tr -s ' \n' ' ' <build/auditwheel-show.log | grep -q 'consistent with the following platform tag: "manylinux_' ||
  { echo "the repaired wheel is not a manylinux wheel"; exit 1; }
python -m venv build/wheel-venv
build/wheel-venv/bin/python -m pip install -q "$wheel"
(cd build/wheel-venv && PATH="$PWD/bin:$PATH" bin/python "$OLDPWD/tests/wheel_smoke.py")
echo "== wheel step took $((SECONDS - wheel_start)) s ($(basename "$wheel"))"

pip install -q --force-reinstall --no-deps "$wheel"

echo "== Fuzzing (libFuzzer and atheris, 20 s per target)"
bash tools/fuzz.sh --seconds 20

echo "== Python tests (against the same wheel)"
OSTREL_INSTALL_PREFIX="$PWD/build/install" python -m pytest -q tests/python
