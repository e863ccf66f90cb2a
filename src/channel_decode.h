// SPDX-License-Identifier: GPL-2.0-or-later
// The steps every decode call of a channel shares, whatever it decodes from (wire bytes, soft
// values, a lost frame): the pipelines' contexts over the channel's state, and the output
// chain and report after synthesis.
#pragma once

#include "ambe_plus2_pipeline.h"
#include "imbe_pipeline.h"
#include "vocoder_state.h"

namespace ostrel_mbe::channel_decode {

inline imbe_pipeline::DecodeContext imbe_context(Vocoder::State& s) {
    return {s.imbe_decode_state, s.synth_settings, s.synth};
}

inline ambe_plus2_pipeline::DecodeContext ambe_plus2_context(Vocoder::State& s) {
    return {s.ambe_decode_state, s.ambe_plus2_synth == AmbePlus2Synth::AmbePlus, s.unvoiced_scale, s.synth_settings,
            s.synth};
}

// Runs the output chain over a received frame's samples and keeps its report; a received frame
// ends any run of lost frames.
inline PcmFrame finish_received(Vocoder::State& s, DecodeResult& result) {
    const bool continuous = s.last_decode.disposition == codecs::mbe_baseline::FrameDisposition::Normal;
    enhancement::apply(s.enhancement_config, s.enhancement_state, result.pcm, continuous, 8000.0f);
    s.last_decode = result.report;
    s.lost_run = 0;
    return result.pcm;
}

}  // namespace ostrel_mbe::channel_decode
