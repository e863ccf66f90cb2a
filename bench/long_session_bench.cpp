// SPDX-License-Identifier: GPL-2.0-or-later
// Long-session decode: one channel decodes ten hours of frames without a break (a stream of
// speech-like frames, cycled) and reports the cost per frame over the first and the last minute
// of audio (the fastest 3-second chunk of each), which must be equal: no per-channel state may
// grow into a slower regime.
//     long_session_bench [hours]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_signal.h"
#include "vocoder.h"

namespace {

using ostrel_mbe::FRAME_SAMPLES;
using ostrel_mbe::Rate;
using ostrel_mbe::Vocoder;
using ostrel_mbe::WireFrame;
using Clock = std::chrono::steady_clock;

constexpr std::size_t FRAMES_PER_MINUTE = 60 * 50;

std::vector<WireFrame> encoded_stream(Rate rate, std::size_t frames) {
    const auto pcm = ostrel_mbe::bench::speech_like(frames * FRAME_SAMPLES);
    Vocoder enc(rate);
    std::vector<WireFrame> out;
    for (std::size_t i = 0; i < frames; ++i) {
        out.push_back(*enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES)));
    }
    return out;
}

// Microseconds per frame over `count` frames starting at frame `first` of the session: the
// fastest of its chunks of 150 frames (3 s of audio, a few milliseconds of work).  A minute of
// audio decodes within one or two scheduler time slices, so other load on the machine can
// stretch any share of it; the fastest chunk is the cost of the frames themselves.
double decode_span(Vocoder& dec, const std::vector<WireFrame>& stream, std::size_t first, std::size_t count) {
    constexpr std::size_t CHUNK = 150;
    std::vector<double> chunks;
    for (std::size_t begin = first; begin < first + count; begin += CHUNK) {
        const std::size_t end = std::min(begin + CHUNK, first + count);
        const auto start = Clock::now();
        for (std::size_t i = begin; i < end; ++i) {
            auto pcm = dec.decode_bits(stream[i % stream.size()].span());
            if (!pcm) std::abort();
        }
        chunks.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                         static_cast<double>(end - begin));
    }
    return *std::min_element(chunks.begin(), chunks.end());
}

}  // namespace

int main(int argc, char** argv) {
    const double hours = argc > 1 ? std::stod(argv[1]) : 10.0;
    const auto total = static_cast<std::size_t>(hours * 3600.0 * 50.0);
    std::printf("one channel per rate decodes %.1f h (%zu frames) of speech-like frames\n", hours, total);
    std::printf("%-22s %16s %16s %8s %10s\n", "rate", "first min us/f", "last min us/f", "ratio", "total s");
    for (int r = 0; r < 4; ++r) {
        const auto rate = static_cast<Rate>(r);
        const auto stream = encoded_stream(rate, 1000);
        Vocoder dec(rate);
        const auto start = Clock::now();
        const double first = decode_span(dec, stream, 0, FRAMES_PER_MINUTE);
        std::size_t done = FRAMES_PER_MINUTE;
        const std::size_t last_start = total > FRAMES_PER_MINUTE ? total - FRAMES_PER_MINUTE : 0;
        if (last_start > done) {
            (void)decode_span(dec, stream, done, last_start - done);
            done = last_start;
        }
        const double last = decode_span(dec, stream, done, FRAMES_PER_MINUTE);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%-22s %16.2f %16.2f %8.2f %10.1f\n", std::string(ostrel_mbe::debug_name(rate)).c_str(), first,
                    last, last / first, seconds);
        std::fflush(stdout);
    }
    return 0;
}
