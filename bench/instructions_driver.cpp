// SPDX-License-Identifier: GPL-2.0-or-later
// Fixed workload for bench/instructions.sh: after a warm-up that builds every shared table and
// plan (for the decoders, a throwaway channel first decodes the whole stream, so that tables
// filled per fundamental met, like the harmonic cosines, are counted once per process and not
// in the steady state measured here), measured_encode / measured_decode / measured_soft run a number of frames of one rate;
// callgrind counts the instructions inside them only.  The soft mode decodes the frames from
// soft values (Vocoder::decode_soft), the bits with pseudo-random confidences, some wrong;
// decode-agc decodes with level control on; encode-search encodes with the half-rate quantizer
// search on (as the command line does).
//     instructions_driver encode|encode-search|decode|soft|decode-agc RATE(0..3) FRAMES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench_signal.h"
#include "vocoder.h"

using ostrel_mbe::FRAME_SAMPLES;

namespace {
constexpr std::size_t WARM_UP = 10;
}

extern "C" __attribute__((noinline)) void measured_encode(ostrel_mbe::Vocoder& enc, const std::vector<std::int16_t>& pcm,
                                                          std::size_t first, std::size_t frames) {
    for (std::size_t i = first; i < first + frames; ++i) {
        auto f = enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        if (!f) std::abort();
    }
}

extern "C" __attribute__((noinline)) void measured_decode(ostrel_mbe::Vocoder& dec,
                                                          const std::vector<ostrel_mbe::WireFrame>& stream,
                                                          std::size_t first, std::size_t frames) {
    for (std::size_t i = first; i < first + frames; ++i) {
        if (!dec.decode_bits(stream[i].span())) std::abort();
    }
}

extern "C" __attribute__((noinline)) void measured_soft(ostrel_mbe::Vocoder& dec,
                                                        const std::vector<std::vector<float>>& stream,
                                                        std::size_t first, std::size_t frames) {
    for (std::size_t i = first; i < first + frames; ++i) {
        if (!dec.decode_soft(stream[i])) std::abort();
    }
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: instructions_driver encode|encode-search|decode|soft|decode-agc RATE FRAMES\n");
        return 2;
    }
    const bool search = std::strcmp(argv[1], "encode-search") == 0;  // the half-rate quantizer search on
    const bool encode = search || std::strcmp(argv[1], "encode") == 0;
    const auto rate = static_cast<ostrel_mbe::Rate>(std::stoi(argv[2]));
    const auto frames = static_cast<std::size_t>(std::stoul(argv[3]));
    const auto pcm = ostrel_mbe::bench::speech_like((WARM_UP + frames) * FRAME_SAMPLES);
    ostrel_mbe::Vocoder enc(rate);
    enc.set_quantizer_search(search);
    if (encode) {
        measured_encode(enc, pcm, 0, 0);  // nothing: keeps the symbol for the toggle
        for (std::size_t i = 0; i < WARM_UP; ++i) {
            (void)enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        }
        measured_encode(enc, pcm, WARM_UP, frames);
        return 0;
    }
    std::vector<ostrel_mbe::WireFrame> stream;
    for (std::size_t i = 0; i < WARM_UP + frames; ++i) {
        stream.push_back(*enc.encode_pcm(std::span<const std::int16_t>(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES)));
    }
    ostrel_mbe::Vocoder dec(rate);
    {
        ostrel_mbe::Vocoder throwaway(rate);
        for (const auto& frame : stream) (void)throwaway.decode_bits(frame.span());
    }
    if (std::strcmp(argv[1], "soft") == 0) {
        const auto soft = ostrel_mbe::bench::soft_stream(stream);
        measured_soft(dec, soft, 0, 0);  // nothing: keeps the symbol for the toggle
        for (std::size_t i = 0; i < WARM_UP; ++i) (void)dec.decode_soft(soft[i]);
        measured_soft(dec, soft, WARM_UP, frames);
        return 0;
    }
    dec.set_agc(std::strcmp(argv[1], "decode-agc") == 0);
    for (std::size_t i = 0; i < WARM_UP; ++i) (void)dec.decode_bits(stream[i].span());
    measured_decode(dec, stream, WARM_UP, frames);
    return 0;
}
