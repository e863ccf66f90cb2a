// SPDX-License-Identifier: GPL-2.0-or-later
// Our speed as a multiple of Codec2 3200's, measured so that a shared machine's load falls on
// both alike: blocks of frames of ours and of Codec2's alternate (50 frames each, a few hundred
// rounds), each block timed in the thread's CPU time, and the figure is the median over the
// rounds of Codec2's time per frame divided by ours (the mean ratio beside it).  One row per
// direction, rate and settings: encode with the library's defaults and with the command line's
// (the half rates' quantizer search), decode with the library's defaults, the command line's
// (standard formant weighting) and from soft values.  Needs Debian's libcodec2-dev.
// The signal is the synthetic speech of the other benchmarks, voiced throughout (the decoder's
// costliest), or a recording: a WAV file of 16-bit mono 8 kHz speech, cycled.
//     ratio_bench [rounds] [speech.wav]        (default 600 rounds, the synthetic signal)
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "bench_signal.h"
#include "vocoder.h"

#ifdef OSTREL_HAVE_CODEC2
#include <codec2/codec2.h>

namespace {

using ostrel_mbe::FRAME_SAMPLES;
using ostrel_mbe::Rate;
using ostrel_mbe::Vocoder;

constexpr std::size_t BLOCK = 50;
constexpr std::size_t SYNTHETIC_FRAMES = 250;  // the synthetic signal, cycled

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Runs `ours` and `theirs` (each doing one frame per call) in alternating blocks; prints the
// median and mean of Codec2's time over ours.
void compare(const std::string& label, std::size_t rounds, const std::function<void()>& ours,
             const std::function<void()>& theirs) {
    for (std::size_t i = 0; i < BLOCK; ++i) ours(), theirs();  // warm caches and tables
    std::vector<double> ratios;
    double ours_total = 0.0, theirs_total = 0.0;
    for (std::size_t r = 0; r < rounds; ++r) {
        double t0 = thread_seconds();
        for (std::size_t i = 0; i < BLOCK; ++i) ours();
        const double ours_time = thread_seconds() - t0;
        t0 = thread_seconds();
        for (std::size_t i = 0; i < BLOCK; ++i) theirs();
        const double theirs_time = thread_seconds() - t0;
        ours_total += ours_time, theirs_total += theirs_time;
        if (ours_time > 0.0) ratios.push_back(theirs_time / ours_time);
    }
    std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2), ratios.end());
    const double frames = static_cast<double>(rounds * BLOCK);
    std::printf("%-34s %10.0f %10.2f %10.2f\n", label.c_str(), frames / ours_total, ratios[ratios.size() / 2],
                theirs_total / ours_total);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t rounds = argc > 1 ? std::stoul(argv[1]) : 600;
    const auto pcm = argc > 2 ? ostrel_mbe::bench::wav_pcm(argv[2])
                              : ostrel_mbe::bench::speech_like(SYNTHETIC_FRAMES * FRAME_SAMPLES);
    const std::size_t frames = pcm.size() / FRAME_SAMPLES;  // the signal, cycled
    if (frames == 0) {
        std::fprintf(stderr, "ratio_bench: %s is not a WAV file of 16-bit mono 8 kHz PCM\n", argv[2]);
        return 1;
    }
    std::printf("signal: %s, %zu frames\n", argc > 2 ? argv[2] : "synthetic speech (voiced throughout)", frames);
    const auto frame_of = [&](std::size_t i) {
        return std::span<const std::int16_t>(pcm).subspan((i % frames) * FRAME_SAMPLES, FRAME_SAMPLES);
    };
    CODEC2* c2_enc = codec2_create(CODEC2_MODE_3200);
    CODEC2* c2_dec = codec2_create(CODEC2_MODE_3200);
    std::vector<unsigned char> c2_bits(frames * 8);
    for (std::size_t i = 0; i < frames; ++i) {
        codec2_encode(c2_enc, c2_bits.data() + i * 8, const_cast<short*>(frame_of(i).data()));
    }
    std::size_t c2_i = 0;
    unsigned char bits[8];
    short out[FRAME_SAMPLES];
    const auto c2_encode = [&] { codec2_encode(c2_enc, bits, const_cast<short*>(frame_of(c2_i++).data())); };
    const auto c2_decode = [&] { codec2_decode(c2_dec, out, c2_bits.data() + (c2_i++ % frames) * 8); };

    std::printf("%-34s %10s %10s %10s\n", "row", "frames/s", "x Codec2", "(mean)");
    const Rate rates[] = {Rate::Imbe7200x4400, Rate::Imbe4400x4400, Rate::AmbePlus2_3600x2450,
                          Rate::AmbePlus2_2450x2450};
    for (const Rate rate : rates) {
        const std::string name(ostrel_mbe::debug_name(rate));
        const bool half = rate == Rate::AmbePlus2_3600x2450 || rate == Rate::AmbePlus2_2450x2450;
        for (const bool search : {false, true}) {
            if (search && !half) continue;
            Vocoder enc(rate);
            enc.set_quantizer_search(search);
            std::size_t i = 0;
            compare("encode " + name + (search ? " +search" : ""), rounds,
                    [&] { (void)enc.encode_pcm(frame_of(i++)); }, c2_encode);
        }
        const auto stream = ostrel_mbe::bench::encoded_stream(rate, pcm);
        for (const bool standard : {false, true}) {
            Vocoder dec(rate);
            if (standard) dec.set_formant_weighting(ostrel_mbe::codecs::mbe_baseline::FormantWeighting::Standard);
            std::size_t i = 0;
            compare("decode " + name + (standard ? " +standard" : ""), rounds,
                    [&] { (void)dec.decode_bits(stream[i++ % frames].span()); }, c2_decode);
        }
        if (ostrel_mbe::has_fec(rate)) {
            const auto soft = ostrel_mbe::bench::soft_stream(stream);
            Vocoder dec(rate);
            std::size_t i = 0;
            compare("decode " + name + " soft", rounds, [&] { (void)dec.decode_soft(soft[i++ % frames]); }, c2_decode);
        }
    }
    codec2_destroy(c2_enc);
    codec2_destroy(c2_dec);
    return 0;
}
#else
int main() {
    std::fprintf(stderr, "ratio_bench: built without libcodec2-dev, nothing to compare with\n");
    return 1;
}
#endif
