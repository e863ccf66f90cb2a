// SPDX-License-Identifier: GPL-2.0-or-later
// Per-frame AMBE+2 half-rate encode and decode (3600 bit/s with FEC, 2450 bit/s without),
// including tone frames: when tone detection is on and finds a tone, the frame carries the
// tone instead of analysed speech.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "ambe_plus2_wire/dequantize.h"
#include "ambe_plus2_wire/frame.h"
#include "codecs/mbe_baseline/analysis/analysis.h"
#include "codecs/mbe_baseline/synthesis.h"
#include "pipeline_results.h"
#include "vocoder_error.h"

namespace ostrel_mbe::ambe_plus2_pipeline {

using EncodeContext = ostrel_mbe::EncodeContext<ambe_plus2_wire::dequantize::DecoderState>;

struct DecodeContext {
    ambe_plus2_wire::dequantize::DecoderState& predictor;  // the decode direction's own state
    bool ambe_plus;
    double unvoiced_scale;
    const codecs::mbe_baseline::SynthSettings& synth_settings;
    codecs::mbe_baseline::SynthState& synth;
    // Decide tone frames by every copy of the index (ambe_plus2_wire/dequantize/tone_copies.h).
    bool tone_copies = false;
    // Play tone frames (not the silence tone) as the silence tone.
    bool mute_tones = false;
};

// Four information vectors as 9 FEC bytes or 7 bare bytes.
WireFrame pack_info_or_fec(const std::array<std::uint16_t, 4>& u, bool with_fec);

std::expected<EncodeResult, VocoderError> encode(std::span<const std::int16_t> pcm, const EncodeContext& ctx,
                                                 bool with_fec);

// Never fails: erasures and undecodable frames become 160 zero samples without synthesis.
DecodeResult decode(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, bool with_fec);
// The same from the 3600 bit/s frame decoder's output (hard or soft decisions).
DecodeResult decode_corrected(const ambe_plus2_wire::frame::DecodedFrame& decoded, const DecodeContext& ctx);

}  // namespace ostrel_mbe::ambe_plus2_pipeline
