// SPDX-License-Identifier: GPL-2.0-or-later
// The steps every decode call of a channel shares, whatever it decodes from (wire bytes, soft
// values, a lost frame): the pipelines' contexts over the channel's state, and the output
// chain and report after synthesis.
#pragma once

#include <array>
#include <cstdlib>

#include "ambe_plus2_pipeline.h"
#include "call_start.h"
#include "imbe_pipeline.h"
#include "vocoder_state.h"

namespace ostrel_mbe::channel_decode {

inline imbe_pipeline::DecodeContext imbe_context(Vocoder::State& s) {
    return {s.imbe_decode_state, s.synth_settings, s.synth};
}

inline ambe_plus2_pipeline::DecodeContext ambe_plus2_context(Vocoder::State& s) {
    return {s.ambe_decode_state, s.ambe_plus2_synth == AmbePlus2Synth::AmbePlus, s.unvoiced_scale, s.synth_settings,
            s.synth, s.tone_copies, s.mute_tones};
}

// "OSTREL_LCG_INIT" selects where the noise generator's first window starts.  It is read here,
// just before the first unvoiced synthesis after construction or reset (a lost frame is never
// the first: it repeats a synthesized one), so that synthesis stays a function of its inputs.
inline void read_noise_start(Vocoder::State& s) {
    if (!s.synth.noise.initialised)
        s.synth.noise.start = codecs::mbe_baseline::noise_start_index(std::getenv("OSTREL_LCG_INIT"));
}

// Whether the channel is still in a cautious call start; if so, holds the smoothed error rate
// at the cautious level before the frame is decoded.  Reads the noise start first.
inline bool begin_received(Vocoder::State& s) {
    read_noise_start(s);
    const bool cautious = s.cautious_start && s.heard_run < call_start::FRAMES_TO_START;
    if (cautious) s.synth.error_rate = call_start::cautious_error_rate(!is_imbe(s.rate));
    return cautious;
}

// The output chain over one frame's samples: the enhancement, then level control when on.
// Only speech received intact moves the gain (adapt): not silence, tones, repeats or comfort noise.
inline void output_chain(Vocoder::State& s, PcmFrame& pcm, bool adapt) {
    const bool continuous = s.last_decode.disposition == codecs::mbe_baseline::FrameDisposition::Normal;
    if (s.level.active()) {
        std::array<float, FRAME_SAMPLES> scaled;
        enhancement::apply_scaled(s.enhancement_config, s.enhancement_state, pcm, scaled, continuous, 8000.0f);
        enhancement::level_control::apply(s.level, s.level_state, scaled, adapt, pcm);
    } else {
        enhancement::apply(s.enhancement_config, s.enhancement_state, pcm, continuous, 8000.0f);
    }
}

// Runs the output chain over a received frame's samples and keeps its report; a received frame
// ends any run of lost frames.  cautious is what begin_received returned for the frame.
inline PcmFrame finish_received(Vocoder::State& s, DecodeResult& result, bool cautious) {
    // A frame is heard when it was synthesized (the pipeline reported a new disposition) and
    // played as received.
    const bool heard = result.report.disposition == codecs::mbe_baseline::FrameDisposition::Normal &&
                       (result.report.kind == FrameKind::Voice || result.report.kind == FrameKind::Silence ||
                        result.report.kind == FrameKind::Tone);
    // During a cautious start a frame heard may still be a stray garbage frame: the gain waits.
    output_chain(s, result.pcm, heard && result.report.kind == FrameKind::Voice && !cautious);
    if (cautious) {
        s.heard_run = heard ? static_cast<std::uint8_t>(s.heard_run + 1) : std::uint8_t{0};
        if (s.heard_run == 1) call_start::fade_in(result.pcm);
        if (s.heard_run == call_start::FRAMES_TO_START) {
            s.synth.error_rate = call_start::settled_error_rate(!is_imbe(s.rate), result.report.total);
        }
    }
    s.last_decode = result.report;
    s.lost_run = 0;
    return result.pcm;
}

}  // namespace ostrel_mbe::channel_decode
