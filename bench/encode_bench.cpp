// SPDX-License-Identifier: GPL-2.0-or-later
// Encode throughput (frames per second of Vocoder::encode_pcm) at every rate on a speech-like
// signal, and the heap allocations of the encode path; Codec2 3200 in the same run.  The half
// rates run again with the quantizer search on (BM_EncodeSearch) for its cost against the default.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "bench_signal.h"
#include "codec2_reference.h"
#include "counting_allocator.h"
#include "vocoder.h"

namespace {

using ostrel_mbe::FRAME_SAMPLES;
using ostrel_mbe::Rate;
using ostrel_mbe::Vocoder;

void encode_frames(benchmark::State& state, bool quantizer_search) {
    const auto rate = static_cast<Rate>(state.range(0));
    const std::size_t frames = 250;
    const auto pcm = ostrel_mbe::bench::speech_like(frames * FRAME_SAMPLES);
    Vocoder enc(rate);
    enc.set_quantizer_search(quantizer_search);
    std::size_t i = 0;
    for (auto _ : state) {
        auto f = enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        benchmark::DoNotOptimize(f);
        if (++i == frames) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(ostrel_mbe::debug_name(rate)) + (quantizer_search ? "+search" : ""));
}

void BM_Encode(benchmark::State& state) { encode_frames(state, false); }
BENCHMARK(BM_Encode)->DenseRange(0, 3);
void BM_EncodeSearch(benchmark::State& state) { encode_frames(state, true); }
BENCHMARK(BM_EncodeSearch)->DenseRange(2, 3);

void report_encode_allocations() {
    const std::size_t frames = 50;
    const auto pcm = ostrel_mbe::bench::speech_like(frames * FRAME_SAMPLES);
    for (int r = 0; r < 6; ++r) {
        // 4 and 5: the half rates again with the quantizer search.
        const auto rate = static_cast<Rate>(r < 4 ? r : r - 2);
        Vocoder enc(rate);
        enc.set_quantizer_search(r >= 4);
        enc.set_tone_detection(true);  // the tone detectors run on every frame too
        (void)enc.encode_pcm(std::span<const std::int16_t>(pcm).first(FRAME_SAMPLES));  // builds shared tables
        const long before = ostrel_mbe::bench::allocations();
        for (std::size_t i = 1; i < frames; ++i) {
            (void)enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        }
        std::printf("heap allocations in %zu encodes at %s%s: %ld\n", frames - 1,
                    std::string(ostrel_mbe::debug_name(rate)).c_str(), r >= 4 ? " with the quantizer search" : "",
                    ostrel_mbe::bench::allocations() - before);
    }
}

}  // namespace

int main(int argc, char** argv) {
    report_encode_allocations();
    return ostrel_mbe::bench::run_with_codec2(argc, argv, true);
}
