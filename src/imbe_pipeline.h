// SPDX-License-Identifier: GPL-2.0-or-later
// Per-frame IMBE full-rate encode and decode (7200 bit/s with FEC, 4400 bit/s without):
// the order in which analysis, quantizer, prioritisation, frame coder and synthesizer run,
// over state the channel owns.
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "codecs/mbe_baseline/analysis/analysis.h"
#include "codecs/mbe_baseline/synthesis.h"
#include "imbe_wire/dequantize.h"
#include "imbe_wire/frame.h"
#include "pipeline_results.h"
#include "rate.h"
#include "vocoder_error.h"

namespace ostrel_mbe::imbe_pipeline {

// The 4400 bit/s frame: u0..u7 packed most significant bit first into 11 bytes.
using wire_bytes_layout::unpack_info_full;

using EncodeContext = ostrel_mbe::EncodeContext<imbe_wire::dequantize::DecoderState>;

struct DecodeContext {
    imbe_wire::dequantize::DecoderState& predictor;  // the decode direction's own state
    const codecs::mbe_baseline::SynthSettings& synth_settings;
    codecs::mbe_baseline::SynthState& synth;
};

// pcm holds exactly 160 samples (checked by the channel).
std::expected<EncodeResult, VocoderError> encode(std::span<const std::int16_t> pcm, const EncodeContext& ctx,
                                                 bool with_fec);

// bytes holds exactly 18 (with FEC) or 11 bytes (checked by the channel).  Never fails: a frame
// the dequantizer refuses becomes 160 zero samples without advancing the synthesizer.
DecodeResult decode(std::span<const std::uint8_t> bytes, const DecodeContext& ctx, bool with_fec);
// The same from the 7200 bit/s frame decoder's output (hard or soft decisions).
DecodeResult decode_corrected(const imbe_wire::frame::DecodedFrame& decoded, const DecodeContext& ctx);

}  // namespace ostrel_mbe::imbe_pipeline
