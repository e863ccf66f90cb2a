#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the C++ suite, the same suite
# under AddressSanitizer + UndefinedBehaviorSanitizer, and the Python suite.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh

jobs=$(nproc)
echo "== C++ tests (release)"
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BUILD_TESTS=ON >/dev/null
cmake --build build/tests -j "$jobs"
./build/tests/ostrel_mbe_tests --gtest_brief=1

echo "== C++ tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTREL_BUILD_TESTS=ON -DOSTREL_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  OSTREL_SANITIZED=1 ./build/asan/ostrel_mbe_tests --gtest_brief=1

echo "== Python module and tests"
pip install --no-build-isolation -q .
python -m pytest -q tests/python
