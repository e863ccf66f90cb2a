// SPDX-License-Identifier: GPL-2.0-or-later
// Decode throughput (frames per second of Vocoder::decode_bits) at every rate, on frames encoded
// from a speech-like signal, with the library's default and the command line's formant
// weighting, and a heap-allocation count of the decode path; Codec2 3200 in the same run.
// BM_DecodeSoft decodes the same frames from noisy soft values (Vocoder::decode_soft) at the FEC
// rates, to compare with BM_Decode of the same rate; BM_DecodeAgc decodes them with level control
// on (AGC and peak limiter).
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

using ostrel_mbe::codecs::mbe_baseline::FormantWeighting;

// Decodes the stream with a channel that `setup` configured; `label` follows the rate's name.
template <class Setup>
void decode_frames(benchmark::State& state, Setup setup, const char* label) {
    const auto rate = static_cast<Rate>(state.range(0));
    const auto frames = encoded_stream(rate, 250);
    Vocoder dec(rate);
    setup(dec);
    std::size_t i = 0;
    for (auto _ : state) {
        auto pcm = dec.decode_bits(frames[i].span());
        benchmark::DoNotOptimize(pcm);
        if (++i == frames.size()) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(ostrel_mbe::debug_name(rate)) + label);
}

void BM_Decode(benchmark::State& state) {
    decode_frames(state, [](Vocoder&) {}, "");
}
BENCHMARK(BM_Decode)->DenseRange(0, 3);
// The command line's decoder: the standard formant weighting.
void BM_DecodeStandard(benchmark::State& state) {
    decode_frames(state, [](Vocoder& dec) { dec.set_formant_weighting(FormantWeighting::Standard); }, "+standard");
}
BENCHMARK(BM_DecodeStandard)->DenseRange(0, 3);

void BM_DecodeSoft(benchmark::State& state) {
    const auto rate = static_cast<Rate>(state.range(0));
    const auto soft = ostrel_mbe::bench::soft_stream(encoded_stream(rate, 250));
    Vocoder dec(rate);
    std::size_t i = 0;
    for (auto _ : state) {
        auto pcm = dec.decode_soft(soft[i]);
        benchmark::DoNotOptimize(pcm);
        if (++i == soft.size()) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(ostrel_mbe::debug_name(rate)) + " soft");
}
BENCHMARK(BM_DecodeSoft)->Arg(0)->Arg(2);

// Level control on: the AGC and the peak limiter.
void BM_DecodeAgc(benchmark::State& state) {
    decode_frames(state, [](Vocoder& dec) { dec.set_agc(true); }, " agc");
}
BENCHMARK(BM_DecodeAgc)->DenseRange(0, 3, 2);

void report_decode_allocations() {
    for (int r = 0; r < 4; ++r) {
        const auto rate = static_cast<Rate>(r);
        const auto frames = encoded_stream(rate, 50);
        for (const bool agc : {false, true}) {
            Vocoder dec(rate);
            dec.set_agc(agc);
            (void)dec.decode_bits(frames[0].span());  // first use builds the shared tables and plans
            const long before = ostrel_mbe::bench::allocations();
            for (const auto& f : frames) (void)dec.decode_bits(f.span());
            const long count = ostrel_mbe::bench::allocations() - before;
            std::printf("heap allocations in %zu decodes at %s%s: %ld\n", frames.size(),
                        std::string(ostrel_mbe::debug_name(rate)).c_str(), agc ? " with agc" : "", count);
        }
        Vocoder dec(rate);
        (void)dec.decode_bits(frames[0].span());
        const auto soft = ostrel_mbe::bench::soft_stream(frames);
        const long soft_before = ostrel_mbe::bench::allocations();
        for (const auto& f : soft) (void)dec.decode_soft(f);
        std::printf("heap allocations in %zu soft decodes at %s: %ld\n", soft.size(),
                    std::string(ostrel_mbe::debug_name(rate)).c_str(), ostrel_mbe::bench::allocations() - soft_before);
    }
}

}  // namespace

int main(int argc, char** argv) {
    report_decode_allocations();
    return ostrel_mbe::bench::run_with_codec2(argc, argv, false);
}
