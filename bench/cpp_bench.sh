#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the C++ benchmarks (Release) and runs the encode and decode throughput benchmarks, each
# with Codec2 3200 timed in the same run as the yardstick.  Installs what it needs: the
# project's build dependencies (tools/setup_env.sh) and Debian's libcodec2-dev (apt-get, as root;
# without it the benchmarks run without the comparison).
#     bash bench/cpp_bench.sh [extra benchmark arguments, e.g. --benchmark_min_time=2]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh
install_debian_packages libcodec2-dev ||
  echo "warning: libcodec2-dev missing and cannot be installed here; no Codec2 comparison" >&2
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_BENCH=ON >/dev/null
cmake --build build/bench -j 2
./build/bench/encode_bench "$@"
./build/bench/decode_bench "$@"
./build/bench/ratio_bench   # the same comparison, interleaved: the ratios to quote
