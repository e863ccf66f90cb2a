// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the first calls of a process, when the shared tables and FFT plans come into being:
// run as a fresh process.  Prints the microseconds of each of the first three encode_pcm calls
// (the first two only fill the analysis history; the third is the first full analysis) and of
// the first decode_bits call.
//     first_call_bench [rate 0..3]
#include <chrono>
#include <cstdio>
#include <string>

#include "bench_signal.h"
#include "vocoder.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const auto rate = static_cast<ostrel_mbe::Rate>(argc > 1 ? std::stoi(argv[1]) : 0);
    const auto pcm = ostrel_mbe::bench::speech_like(3 * ostrel_mbe::FRAME_SAMPLES);
    ostrel_mbe::Vocoder enc(rate);
    double encode_us[3] = {};
    ostrel_mbe::WireFrame frame{};
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        frame = *enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * ostrel_mbe::FRAME_SAMPLES,
                                                                           ostrel_mbe::FRAME_SAMPLES));
        encode_us[i] = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
    ostrel_mbe::Vocoder dec(rate);
    const auto start = Clock::now();
    (void)dec.decode_bits(frame.span());
    const double decode_us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    std::printf("%s first encode_pcm calls: %.0f %.0f %.0f us; first decode_bits: %.0f us\n",
                std::string(ostrel_mbe::debug_name(rate)).c_str(), encode_us[0], encode_us[1], encode_us[2],
                decode_us);
    return 0;
}
