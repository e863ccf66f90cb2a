// SPDX-License-Identifier: GPL-2.0-or-later
// Wire frames of one rate to wire frames of another without going through PCM.  Between the
// FEC and no-FEC forms of one codec only the information bits are re-framed (corrected bits
// pass on, uncorrectable ones as they are); between IMBE 7200 and AMBE+2 3600 a rate converter
// works through the MBE parameters.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "inline_storage.h"
#include "pipeline_types.h"
#include "rate.h"
#include "settings.h"
#include "vocoder_error.h"

namespace ostrel_mbe {

struct TranscodeDirection {
    Rate from;
    Rate to;
};

// Every pair of rates a Transcoder converts between: the FEC and no-FEC forms of each codec
// both ways, and IMBE 7200 <-> AMBE+2 3600.
inline constexpr std::array<TranscodeDirection, 6> TRANSCODE_DIRECTIONS = {{
    {Rate::Imbe7200x4400, Rate::Imbe4400x4400},
    {Rate::Imbe4400x4400, Rate::Imbe7200x4400},
    {Rate::AmbePlus2_3600x2450, Rate::AmbePlus2_2450x2450},
    {Rate::AmbePlus2_2450x2450, Rate::AmbePlus2_3600x2450},
    {Rate::Imbe7200x4400, Rate::AmbePlus2_3600x2450},
    {Rate::AmbePlus2_3600x2450, Rate::Imbe7200x4400},
}};

class Transcoder {
public:
    // The six TRANSCODE_DIRECTIONS.  Every other pair, the identical ones included, gives
    // UnsupportedTranscode.
    static std::expected<Transcoder, VocoderError> create(Rate from, Rate to);

    Transcoder(const Transcoder& other);
    Transcoder& operator=(const Transcoder& other);
    ~Transcoder();

    Rate from() const;
    Rate to() const;

    // One frame of the source rate to one frame of the destination rate.  A frame of the wrong
    // length is refused before anything changes.
    std::expected<WireFrame, VocoderError> transcode(std::span<const std::uint8_t> bytes);
    // The same from soft values, one per wire bit of the source frame (Vocoder::decode_soft):
    // soft-decision decoding where the source has FEC, the signs sliced where it has not.
    std::expected<WireFrame, VocoderError> transcode_soft(std::span<const float> soft);
    // The destination's frame for a source frame that never arrived: the half rate's erasure
    // frame, or at the full rate the frame a receiver drops (pitch index 208).  No state moves.
    WireFrame transcode_lost() const;

    // Fresh converter state; the direction, the envelope mix and the quantizer search stay.
    void reset();

    // The cross-codec directions' amplitude mixing across frames (predictor::EnvelopeMix);
    // None by default.  Takes effect from a fresh converter, so it resets the transcoder.
    rate_conversion::predictor::EnvelopeMix envelope_mix() const;
    void set_envelope_mix(rate_conversion::predictor::EnvelopeMix mix);

    // IMBE 7200 -> AMBE+2 3600: choose the half-rate indices by the spectrum a decoder rebuilds,
    // as Vocoder::set_quantizer_search does for encoding (default off, the nearest entries).
    // Any decoder reads the result.  Takes effect from a fresh converter, so it resets the
    // transcoder; the other directions ignore it.
    bool quantizer_search() const;
    void set_quantizer_search(bool on);

    // The direction, the envelope mix, the quantizer search and the rate converter the direction needs, defined in
    // the library's private sources.
    struct State;
    // Defined where State is complete: clang instantiates the storage's accessor (and
    // std::launder, which needs a complete type) at an inline definition here.
    State& state() noexcept;
    const State& state() const noexcept;

private:
    Transcoder(Rate from, Rate to);

    // Room for State; the library checks at build time that State fits.
    InlineStorage<4096> storage_;
};

}  // namespace ostrel_mbe
