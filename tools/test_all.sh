#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the C++ suite and the C interface
# test, both again under AddressSanitizer + UndefinedBehaviorSanitizer, a consumer project
# built against the installed library, and the Python suite.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh

jobs=$(nproc)
echo "== C++ tests (release)"
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BUILD_TESTS=ON >/dev/null
cmake --build build/tests -j "$jobs"
./build/tests/ostrel_mbe_tests --gtest_brief=1
./build/tests/ostrel_mbe_c_api_test

echo "== C++ tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTREL_BUILD_TESTS=ON -DOSTREL_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  OSTREL_SANITIZED=1 ./build/asan/ostrel_mbe_tests --gtest_brief=1
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ./build/asan/ostrel_mbe_c_api_test

echo "== Installed library: CMake package, pkg-config file, C and C++ consumers"
rm -rf build/install
cmake --install build/tests --prefix build/install >/dev/null
cmake -S tests/consumer -B build/consumer -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$PWD/build/install" >/dev/null
cmake --build build/consumer -j "$jobs"
ctest --test-dir build/consumer --output-on-failure

echo "== Python module and tests"
pip install --no-build-isolation -q .
python -m pytest -q tests/python
