// SPDX-License-Identifier: GPL-2.0-or-later
// The private state of a Vocoder channel: settings and every piece of cross-frame memory of
// both directions, one fixed-size value held inside the public Vocoder.
#pragma once

#include <optional>

#include "ambe_plus2_wire/dequantize.h"
#include "codecs/mbe_baseline/analysis/analysis.h"
#include "codecs/mbe_baseline/analysis/steady_tone.h"
#include "codecs/mbe_baseline/synthesis.h"
#include "enhancement.h"
#include "enhancement/level_control.h"
#include "imbe_wire/dequantize.h"
#include "pipeline_types.h"
#include "rate.h"
#include "vocoder.h"

namespace ostrel_mbe {

struct Vocoder::State {
    // Construction picks the noise generator by rate (the standard's at the IMBE rates) and
    // reads no environment variable.
    explicit State(Rate r)
        : rate(r),
          lcg(is_imbe(r) ? codecs::mbe_baseline::LCG_STANDARD : codecs::mbe_baseline::LCG_DEFAULT),
          synth(codecs::mbe_baseline::SynthState::with_lcg(lcg)) {}

    Rate rate;
    bool tone_detection = false;
    bool strict_tone_detection = false;
    bool quantizer_search = false;
    AmbePlus2Synth ambe_plus2_synth = AmbePlus2Synth::AmbePlus;
    codecs::mbe_baseline::SynthSettings synth_settings{};
    double unvoiced_scale = codecs::mbe_baseline::UNVOICED_SCALE_STANDARD;
    codecs::mbe_baseline::LcgParams lcg{};
    enhancement::EnhancementConfig enhancement_config =
        enhancement::EnhancementConfig::with_mode(enhancement::EnhancementMode::Classical);
    enhancement::EnhancementState enhancement_state{};
    enhancement::level_control::Settings level{};
    enhancement::level_control::State level_state{};
    bool tone_copies = false;
    bool mute_tones = false;
    bool cautious_start = false;
    std::uint8_t heard_run = 0;  // frames heard in a row since construction or reset, at most 2

    codecs::mbe_baseline::analysis::AnalysisState analysis{};
    codecs::mbe_baseline::analysis::SteadyToneState steady_tone{};
    // One predictor state per direction and wire format: a full-duplex channel must not let
    // decoding the far end move the predictor that the local encoder's closed loop relies on.
    imbe_wire::dequantize::DecoderState imbe_encode_state{};
    imbe_wire::dequantize::DecoderState imbe_decode_state{};
    ambe_plus2_wire::dequantize::DecoderState ambe_encode_state{};
    ambe_plus2_wire::dequantize::DecoderState ambe_decode_state{};
    codecs::mbe_baseline::SynthState synth;

    // Lost frames: how many in a row are repeats before muting (a setting kept by reset), and
    // how many have been lost since the last received frame.
    std::uint32_t lost_frame_repeats = 3;
    std::uint32_t lost_run = 0;

    std::optional<EncodeReport> last_encode;
    DecodeReport last_decode{};
};

}  // namespace ostrel_mbe
