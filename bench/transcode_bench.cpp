// SPDX-License-Identifier: GPL-2.0-or-later
// Transcode throughput (frames per second of Transcoder::transcode) in each of the six
// directions, on frames encoded from a speech-like signal, and the heap allocations per call.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_signal.h"
#include "counting_allocator.h"
#include "transcoder.h"
#include "vocoder.h"

namespace {

using ostrel_mbe::FRAME_SAMPLES;
using ostrel_mbe::Rate;
using ostrel_mbe::Transcoder;
using ostrel_mbe::WireFrame;

constexpr std::array<std::array<Rate, 2>, 6> DIRECTIONS = {{
    {Rate::Imbe7200x4400, Rate::Imbe4400x4400},
    {Rate::Imbe4400x4400, Rate::Imbe7200x4400},
    {Rate::AmbePlus2_3600x2450, Rate::AmbePlus2_2450x2450},
    {Rate::AmbePlus2_2450x2450, Rate::AmbePlus2_3600x2450},
    {Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450},
    {Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400},
}};

std::vector<WireFrame> encoded_stream(Rate rate, std::size_t frames) {
    const auto pcm = ostrel_mbe::bench::speech_like(frames * FRAME_SAMPLES);
    ostrel_mbe::Vocoder enc(rate);
    std::vector<WireFrame> out;
    for (std::size_t i = 0; i < frames; ++i) {
        out.push_back(*enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES)));
    }
    return out;
}

std::string label(std::size_t d) {
    return std::string(ostrel_mbe::debug_name(DIRECTIONS[d][0])) + " -> " +
           std::string(ostrel_mbe::debug_name(DIRECTIONS[d][1]));
}

void BM_Transcode(benchmark::State& state) {
    const auto [from, to] = DIRECTIONS[static_cast<std::size_t>(state.range(0))];
    const auto frames = encoded_stream(from, 250);
    auto transcoder = *Transcoder::create(from, to);
    std::size_t i = 0;
    for (auto _ : state) {
        auto out = transcoder.transcode(frames[i].span());
        benchmark::DoNotOptimize(out);
        if (++i == frames.size()) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(label(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_Transcode)->DenseRange(0, 5);

void report_transcode_allocations() {
    for (std::size_t d = 0; d < DIRECTIONS.size(); ++d) {
        const auto frames = encoded_stream(DIRECTIONS[d][0], 50);
        auto transcoder = *Transcoder::create(DIRECTIONS[d][0], DIRECTIONS[d][1]);
        (void)transcoder.transcode(frames[0].span());  // first use builds the shared tables
        const long before = ostrel_mbe::bench::allocations();
        for (const auto& f : frames) (void)transcoder.transcode(f.span());
        const long count = ostrel_mbe::bench::allocations() - before;
        std::printf("heap allocations in %zu transcodes %s: %ld\n", frames.size(), label(d).c_str(), count);
    }
}

}  // namespace

int main(int argc, char** argv) {
    report_transcode_allocations();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
