// Wire frames of one rate to wire frames of another without going through PCM.  Between the
// FEC and no-FEC forms of one codec only the information bits are re-framed (corrected bits
// pass on, uncorrectable ones as they are); between IMBE 7200 and AMBE+2 3600 a rate converter
// works through the MBE parameters.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "pipeline_types.h"
#include "rate.h"
#include "rate_conversion/converter.h"
#include "vocoder_error.h"

namespace ostrel_mbe {

class Transcoder {
public:
    // The six directions: Imbe7200x4400 <-> Imbe4400x4400, AmbePlus2_3600x2450 <->
    // AmbePlus2_2450x2450 and Imbe7200x4400 <-> AmbePlus2_3600x2450.  Every other pair, the
    // identical ones included, gives UnsupportedTranscode.
    static std::expected<Transcoder, VocoderError> create(Rate from, Rate to);

    Rate from() const { return from_; }
    Rate to() const { return to_; }

    // One frame of the source rate to one frame of the destination rate.  A frame of the wrong
    // length is refused before anything changes.
    std::expected<WireFrame, VocoderError> transcode(std::span<const std::uint8_t> bytes);

    // Fresh converter state; the direction and the envelope mix stay.
    void reset();

    // The cross-codec directions' amplitude mixing across frames (predictor::EnvelopeMix);
    // None by default.  Takes effect from a fresh converter, so it resets the transcoder.
    rate_conversion::predictor::EnvelopeMix envelope_mix() const { return mix_; }
    void set_envelope_mix(rate_conversion::predictor::EnvelopeMix mix) {
        mix_ = mix;
        reset();
    }

private:
    Transcoder(Rate from, Rate to) : from_(from), to_(to) { reset(); }

    Rate from_;
    Rate to_;
    rate_conversion::predictor::EnvelopeMix mix_ = rate_conversion::predictor::EnvelopeMix::None;
    std::optional<rate_conversion::FullToHalfConverter> full_to_half_;
    std::optional<rate_conversion::HalfToFullConverter> half_to_full_;
};

}  // namespace ostrel_mbe
