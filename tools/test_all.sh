#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the C++ suite, the same suite
# under AddressSanitizer + UndefinedBehaviorSanitizer, the multi-threaded tests under
# ThreadSanitizer, every fuzz target for 20 s, and the Python suite.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh

jobs=$(nproc)
echo "== C++ tests (release)"
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BUILD_TESTS=ON >/dev/null
cmake --build build/tests -j "$jobs"
./build/tests/ostrel_mbe_tests --gtest_brief=1

echo "== C++ tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
# RelWithDebInfo: optimised code is where GCC's flow warnings (-Werror) meet the sanitizers.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BUILD_TESTS=ON -DOSTREL_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  OSTREL_SANITIZED=1 ./build/asan/ostrel_mbe_tests --gtest_brief=1

echo "== C++ tests under ThreadSanitizer (channels on several threads at once)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BUILD_TESTS=ON -DOSTREL_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs"
# The first use of every shared table and FFT plan races only in a fresh process: that test
# runs alone first.
export TSAN_OPTIONS=halt_on_error=1
./build/tsan/ostrel_mbe_tests --gtest_brief=1 --gtest_filter='*FirstUse*'
./build/tsan/ostrel_mbe_tests --gtest_brief=1 --gtest_filter='-*FirstUse*'
unset TSAN_OPTIONS

echo "== Python module"
pip install --no-build-isolation -q .

echo "== Fuzzing (libFuzzer and atheris, 20 s per target)"
bash tools/fuzz.sh --seconds 20

echo "== Python tests"
python -m pytest -q tests/python
