// Encode throughput (frames per second of Vocoder::encode_pcm) at every rate on a speech-like
// signal, and the heap allocations of the encode path.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "bench_signal.h"
#include "vocoder.h"

namespace {

using ostrel_mbe::FRAME_SAMPLES;
using ostrel_mbe::Rate;
using ostrel_mbe::Vocoder;

void BM_Encode(benchmark::State& state) {
    const auto rate = static_cast<Rate>(state.range(0));
    const std::size_t frames = 250;
    const auto pcm = ostrel_mbe::bench::speech_like(frames * FRAME_SAMPLES);
    Vocoder enc(rate);
    std::size_t i = 0;
    for (auto _ : state) {
        auto f = enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        benchmark::DoNotOptimize(f);
        if (++i == frames) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(ostrel_mbe::debug_name(rate)));
}
BENCHMARK(BM_Encode)->DenseRange(0, 3);

}  // namespace

BENCHMARK_MAIN();
