// SPDX-License-Identifier: GPL-2.0-or-later
// Codec2 3200 bit/s as an in-process yardstick for the encode and decode benchmarks (Debian's
// libcodec2, used only through its public header and only when the build found it), and a
// console reporter that ends the run with every benchmark's frames/s as a multiple of
// Codec2's in the same direction.  Include from exactly one translation unit.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_signal.h"

#ifdef OSTREL_HAVE_CODEC2
#include <codec2/codec2.h>
#endif

namespace ostrel_mbe::bench {

inline constexpr std::size_t CODEC2_FRAME = 160;  // 20 ms at 3200 bit/s, like ours

#ifdef OSTREL_HAVE_CODEC2
struct Codec2Channel {
    CODEC2* state = codec2_create(CODEC2_MODE_3200);
    Codec2Channel() = default;
    Codec2Channel(const Codec2Channel&) = delete;
    Codec2Channel& operator=(const Codec2Channel&) = delete;
    ~Codec2Channel() { codec2_destroy(state); }
};

inline void BM_Codec2Encode(benchmark::State& state) {
    const std::size_t frames = 250;
    auto pcm = speech_like(frames * CODEC2_FRAME);
    Codec2Channel c2;
    unsigned char bits[16] = {};
    std::size_t i = 0;
    for (auto _ : state) {
        codec2_encode(c2.state, bits, pcm.data() + i * CODEC2_FRAME);
        benchmark::DoNotOptimize(bits);
        if (++i == frames) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel("Codec2_3200");
}

inline void BM_Codec2Decode(benchmark::State& state) {
    const std::size_t frames = 250;
    auto pcm = speech_like(frames * CODEC2_FRAME);
    Codec2Channel enc;
    std::vector<unsigned char> bits(frames * 8);
    for (std::size_t i = 0; i < frames; ++i) codec2_encode(enc.state, bits.data() + i * 8, pcm.data() + i * CODEC2_FRAME);
    Codec2Channel dec;
    short out[CODEC2_FRAME];
    std::size_t i = 0;
    for (auto _ : state) {
        codec2_decode(dec.state, out, bits.data() + i * 8);
        benchmark::DoNotOptimize(out);
        if (++i == frames) i = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel("Codec2_3200");
}
#endif

// Prints the usual console table, then each benchmark's frames/s over the Codec2 one.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find("frames/s");
            if (it == run.counters.end() || run.run_type != Run::RT_Iteration) continue;
            const std::string name = run.report_label.empty() ? run.benchmark_name() : run.report_label;
            if (name.rfind("Codec2", 0) == 0) codec2_ = it->second.value;
            else ours_.emplace_back(name, it->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (codec2_ <= 0.0) {
            std::printf("Codec2 3200: not built in (libcodec2-dev missing), no ratios\n");
            return;
        }
        std::printf("\n%-22s %12s %12s\n", "rate", "frames/s", "x Codec2");
        for (const auto& [name, fps] : ours_) std::printf("%-22s %12.0f %12.2f\n", name.c_str(), fps, fps / codec2_);
        std::printf("%-22s %12.0f %12.2f\n", "Codec2_3200", codec2_, 1.0);
    }

private:
    std::vector<std::pair<std::string, double>> ours_;
    double codec2_ = 0.0;
};

// Registers the Codec2 benchmark of one direction (when built in) and runs everything with the
// ratio reporter.
inline int run_with_codec2(int argc, char** argv, bool encode) {
#ifdef OSTREL_HAVE_CODEC2
    benchmark::RegisterBenchmark(encode ? "BM_Codec2Encode" : "BM_Codec2Decode",
                                 encode ? BM_Codec2Encode : BM_Codec2Decode);
#else
    (void)encode;
#endif
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace ostrel_mbe::bench
