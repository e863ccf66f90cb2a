// SPDX-License-Identifier: GPL-2.0-or-later
// The C++ interface as an installed package offers it: every public header compiles on its
// own include path, and a channel, the streaming classes and a transcoder work end to end.
#include <ostrel_mbe/analysis_error.h>
#include <ostrel_mbe/inline_storage.h>
#include <ostrel_mbe/live.h>
#include <ostrel_mbe/mbe_params.h>
#include <ostrel_mbe/ostrel_mbe.h>
#include <ostrel_mbe/pipeline_types.h>
#include <ostrel_mbe/rate.h>
#include <ostrel_mbe/settings.h>
#include <ostrel_mbe/transcoder.h>
#include <ostrel_mbe/vocoder.h>
#include <ostrel_mbe/vocoder_error.h>

#include <cmath>
#include <cstdio>
#include <vector>

using namespace ostrel_mbe;

int main() {
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "check failed: %s\n", what);
            ++failures;
        }
    };
    std::vector<std::int16_t> pcm(FRAME_SAMPLES * 10);
    for (std::size_t n = 0; n < pcm.size(); ++n) pcm[n] = static_cast<std::int16_t>(6000 * std::sin(0.11 * n));

    Vocoder encoder(Rate::AmbePlus2_3600x2450), decoder(Rate::AmbePlus2_3600x2450);
    LiveDecoder live(Rate::AmbePlus2_3600x2450);
    std::vector<std::uint8_t> stream;
    for (std::size_t i = 0; i < 10; ++i) {
        const auto frame = encoder.encode_pcm(std::span(pcm).subspan(i * FRAME_SAMPLES, FRAME_SAMPLES));
        check(frame && frame->length == wire_bytes(Rate::AmbePlus2_3600x2450), "encode");
        if (!frame) return 1;
        check(decoder.decode_bits(frame->span()).has_value(), "decode");
        stream.insert(stream.end(), frame->span().begin(), frame->span().end());
    }
    check(decoder.last_decode_report().kind == FrameKind::Voice, "decode report");
    check(live.push(stream).size() == 10 && live.pending_bytes() == 0, "streaming decoder");

    const auto wrong = encoder.encode_pcm(std::span(pcm).first(100));
    check(!wrong && wrong.error().display() == "expected 160 PCM samples per frame, got 100", "error text");
    auto transcoder = Transcoder::create(Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400);
    check(transcoder && transcoder->transcode(std::span(stream).first(9))->length == 18, "transcoder");
    check(!Transcoder::create(Rate::Imbe7200x4400, Rate::Imbe7200x4400), "unsupported direction");
    check(std::string(ostrel_mbe_version()) == OSTREL_MBE_VERSION_STRING, "C interface from C++");

    if (failures) return 1;
    std::printf("C++ consumer: all checks passed\n");
    return 0;
}
