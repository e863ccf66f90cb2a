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

using ostrel_mbe::TRANSCODE_DIRECTIONS;
using ostrel_mbe::bench::encoded_stream;

std::string label(std::size_t d) {
    return std::string(ostrel_mbe::debug_name(TRANSCODE_DIRECTIONS[d].from)) + " -> " +
           std::string(ostrel_mbe::debug_name(TRANSCODE_DIRECTIONS[d].to));
}

void BM_Transcode(benchmark::State& state) {
    const auto [from, to] = TRANSCODE_DIRECTIONS[static_cast<std::size_t>(state.range(0))];
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
    for (std::size_t d = 0; d < TRANSCODE_DIRECTIONS.size(); ++d) {
        const auto frames = encoded_stream(TRANSCODE_DIRECTIONS[d].from, 50);
        auto transcoder = *Transcoder::create(TRANSCODE_DIRECTIONS[d].from, TRANSCODE_DIRECTIONS[d].to);
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
