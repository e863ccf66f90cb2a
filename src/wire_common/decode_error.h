// SPDX-License-Identifier: GPL-2.0-or-later
// The dequantizers' error, the same for both wire formats: a pitch index outside the coded
// range, or decoded parameters that fail the MbeParams checks.
#pragma once

#include <cstdint>
#include <string>

#include "mbe_params.h"

namespace ostrel_mbe::wire_common {

enum class DecodeErrorKind : std::uint8_t { InvalidParams, BadPitch };

struct DecodeError {
    DecodeErrorKind kind;
    MbeParamsError params_error = MbeParamsError::OmegaOutOfRange;  // meaningful for InvalidParams only

    // "BadPitch" or "InvalidParams(InvalidAmplitude)".
    std::string debug() const;
    friend bool operator==(const DecodeError&, const DecodeError&) = default;
};

}  // namespace ostrel_mbe::wire_common
