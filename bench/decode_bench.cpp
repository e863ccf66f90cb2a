// SPDX-License-Identifier: GPL-2.0-or-later
// Decode throughput (frames per second of Vocoder::decode_bits) at every rate, on frames encoded
// from a speech-like signal, with the library's default and the command line's formant
// weighting, and a heap-allocation count of the decode path; Codec2 3200 in the same run.
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
using ostrel_mbe::WireFrame;

using ostrel_mbe::bench::encoded_stream;

void decode_frames(benchmark::State& state, ostrel_mbe::codecs::mbe_baseline::FormantWeighting weighting) {
    const auto rate = static_cast<Rate>(state.range(0));
    const auto frames = encoded_stream(rate, 250);
    Vocoder dec(rate);
    dec.set_formant_weighting(weighting);
    std::size_t i = 0;
    for (auto _ : state) {
        auto pcm = dec.decode_bits(frames[i].span());
        benchmark::DoNotOptimize(pcm);
        if (++i == frames.size()) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    const bool standard = weighting == ostrel_mbe::codecs::mbe_baseline::FormantWeighting::Standard;
    state.SetLabel(std::string(ostrel_mbe::debug_name(rate)) + (standard ? "+standard" : ""));
}

void BM_Decode(benchmark::State& state) { decode_frames(state, ostrel_mbe::codecs::mbe_baseline::FormantWeighting::Compat); }
BENCHMARK(BM_Decode)->DenseRange(0, 3);
// The command line's decoder: the standard formant weighting.
void BM_DecodeStandard(benchmark::State& state) {
    decode_frames(state, ostrel_mbe::codecs::mbe_baseline::FormantWeighting::Standard);
}
BENCHMARK(BM_DecodeStandard)->DenseRange(0, 3);

void report_decode_allocations() {
    for (int r = 0; r < 4; ++r) {
        const auto rate = static_cast<Rate>(r);
        const auto frames = encoded_stream(rate, 50);
        Vocoder dec(rate);
        (void)dec.decode_bits(frames[0].span());  // first use builds the shared tables and plans
        const long before = ostrel_mbe::bench::allocations();
        for (const auto& f : frames) (void)dec.decode_bits(f.span());
        const long count = ostrel_mbe::bench::allocations() - before;
        std::printf("heap allocations in %zu decodes at %s: %ld\n", frames.size(),
                    std::string(ostrel_mbe::debug_name(rate)).c_str(), count);
    }
}

}  // namespace

int main(int argc, char** argv) {
    report_decode_allocations();
    return ostrel_mbe::bench::run_with_codec2(argc, argv, false);
}
