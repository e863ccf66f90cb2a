#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Soak run: 10^7 decoded frames (speech with bit errors at several rates, bursts of garbage) and
# 10^6 encoded frames, each on one channel; prints resident memory and time per frame at the
# start, every tenth of the way and at the end.  Arguments go to the program:
#   bash bench/soak.sh [--rate 0..3] [--decode N] [--encode N]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_env.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_BENCH=ON >/dev/null
cmake --build build/bench -j 2 --target soak >/dev/null
exec ./build/bench/soak "$@"
