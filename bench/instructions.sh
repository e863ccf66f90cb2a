#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Instructions per frame of encode_pcm, decode_bits and decode_soft (noisy soft values) at every
# rate, counted by callgrind over 200 frames of the speech-like benchmark signal after a warm-up:
# a figure that, unlike a timing, does not move with the machine's load, for comparing two
# versions of the code.
#     bash bench/instructions.sh [build-dir]       (default build/bench; configured if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
frames=${FRAMES:-200}
if ! command -v valgrind >/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq valgrind >/dev/null
fi
if [ ! -x "$build/instructions_driver" ]; then
  source tools/setup_env.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j 2 --target instructions_driver >/dev/null
fi
names=(Imbe7200x4400 Imbe4400x4400 AmbePlus2_3600x2450 AmbePlus2_2450x2450)
printf '%-22s %16s %16s %16s %16s\n' rate "encode Ir/frame" "decode Ir/frame" "soft Ir/frame" "with AGC"
for rate in 0 1 2 3; do
  line=$(printf '%-22s' "${names[$rate]}")
  for mode in encode decode soft decode-agc; do
    out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --collect-atstart=no \
          --toggle-collect="measured_${mode%-agc}" "$build/instructions_driver" "$mode" "$rate" "$frames" 2>&1)
    total=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' <<<"$out" | tail -1)
    line+=$(printf ' %16d' $((total / frames)))
  done
  echo "$line"
done
# The half rates' encode again with the quantizer search on, as the command line encodes.
for rate in 2 3; do
  out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --collect-atstart=no \
        --toggle-collect=measured_encode "$build/instructions_driver" encode-search "$rate" "$frames" 2>&1)
  total=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' <<<"$out" | tail -1)
  printf '%-22s %16d   (encode with the quantizer search)\n' "${names[$rate]}" $((total / frames))
done
