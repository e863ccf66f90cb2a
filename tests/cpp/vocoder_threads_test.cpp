// SPDX-License-Identifier: GPL-2.0-or-later
// Channels on several threads at once, the way Python threads drive them now that the binding lets
// go of the interpreter lock: each thread owns its channels, and only the shared tables and FFT
// plans are common.  Built and run under ThreadSanitizer by tools/test_all.sh, with the
// first-use test alone in a fresh process: the library builds most shared tables while it loads,
// and the rest (the PYIN tracker's, whatever the warm-up does not reach) are built here, by
// whichever of the threads gets there first.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <latch>
#include <numbers>
#include <thread>
#include <vector>

#include "live.h"
#include "transcoder.h"
#include "vocoder.h"

namespace ostrel_mbe {
namespace {

constexpr std::size_t THREADS = 8;
constexpr std::size_t FRAMES = 10;

// A voiced signal with a drifting fundamental, a DTMF burst in the middle and a little noise.
std::vector<std::int16_t> signal(unsigned seed) {
    std::vector<std::int16_t> out(FRAMES * FRAME_SAMPLES);
    std::uint32_t lcg = seed;
    double phase = 0.0;
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        phase += 2.0 * std::numbers::pi * (110.0 + 10.0 * seed + 20.0 * std::sin(3.0 * t)) / 8000.0;
        double s = 0.0;
        for (int h = 1; h <= 12; ++h) s += std::sin(h * phase) / h;
        if (n / FRAME_SAMPLES == 5) {
            s = std::sin(2 * std::numbers::pi * 770 * t) + std::sin(2 * std::numbers::pi * 1336 * t);
        }
        lcg = lcg * 1664525u + 1013904223u;
        out[n] = static_cast<std::int16_t>(std::lround(6000.0 * s + static_cast<double>(lcg >> 24) - 128.0));
    }
    return out;
}

// What one thread produces.
struct Work {
    std::vector<std::uint8_t> frames;
    std::vector<std::int16_t> pcm;
    friend bool operator==(const Work&, const Work&) = default;
};

void append(std::vector<std::uint8_t>& out, const WireFrame& frame) {
    out.insert(out.end(), frame.span().begin(), frame.span().end());
}

// The two jobs of the Python thread test, on the rate seed % 4: a round trip through one
// encoding and one decoding Vocoder, and a stream trip (LiveEncoder fed in uneven chunks, a
// Transcoder to another rate, LiveDecoder of that rate).
Work run(unsigned seed) {
    const auto input = signal(seed);
    const Rate rate = static_cast<Rate>(seed % 4);
    Work w;

    Vocoder encoder(rate);
    encoder.set_tone_detection(true);
    encoder.set_pyin_pitch(seed % 3 == 0);
    Vocoder decoder(rate);
    for (std::size_t i = 0; i < FRAMES; ++i) {
        const auto frame = encoder.encode_pcm(std::span(input).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        if (!frame) continue;
        append(w.frames, *frame);
        const auto pcm = decoder.decode_bits(frame->span());
        w.pcm.insert(w.pcm.end(), pcm->begin(), pcm->end());
    }

    constexpr Rate BRIDGE[] = {Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400, Rate::Imbe7200x4400,
                               Rate::AmbePlus2_3600x2450};
    const Rate to = BRIDGE[seed % 4];
    LiveEncoder live_encoder(rate);
    auto bridge = *Transcoder::create(rate, to);
    LiveDecoder live_decoder(to);
    for (std::size_t at = 0, chunk = 0; at < input.size(); at += chunk) {
        chunk = std::min<std::size_t>(input.size() - at, 37 + 101 * (at % 3));
        for (const auto& frame : live_encoder.push(std::span(input).subspan(at, chunk))) {
            if (!frame) continue;
            append(w.frames, *frame);
            if (auto bridged = bridge.transcode(frame->span())) {
                for (const auto& pcm : live_decoder.push(bridged->span())) w.pcm.insert(w.pcm.end(), pcm->begin(), pcm->end());
            }
        }
    }
    return w;
}

// Runs `work` on THREADS threads released together; returns what each produced.
template <class F>
std::vector<Work> together(F work) {
    std::vector<Work> results(THREADS);
    std::latch start(THREADS);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            results[t] = work(static_cast<unsigned>(t));
        });
    }
    for (auto& th : threads) th.join();
    return results;
}

// First in the file, and run alone in a fresh process: the one-time initialisations that the
// load-time warm-up leaves race here.
TEST(VocoderThreads, FirstUseFromManyThreadsMatchesOneThread) {
    const auto concurrent = together(run);
    for (unsigned t = 0; t < THREADS; ++t) {
        SCOPED_TRACE("thread " + std::to_string(t));
        const Work alone = run(t);
        EXPECT_FALSE(alone.frames.empty());
        EXPECT_EQ(concurrent[t], alone);
    }
}

TEST(VocoderThreads, SameWorkOnEveryThreadGivesTheSameResult) {
    const auto results = together([](unsigned) { return run(3); });
    for (const auto& r : results) EXPECT_EQ(r, results.front());
}

}  // namespace
}  // namespace ostrel_mbe
