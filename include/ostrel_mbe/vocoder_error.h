// SPDX-License-Identifier: GPL-2.0-or-later
// The one error type of the vocoder facade, with its exact display and debug texts.
#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "analysis_error.h"
#include "rate.h"

namespace ostrel_mbe {

struct VocoderError {
    struct WrongPcmLength {
        std::size_t expected;
        std::size_t got;
    };
    struct WrongBitsLength {
        std::size_t expected;
        std::size_t got;
    };
    // Soft values: a frame needs one per wire bit, and every one finite.
    struct WrongSoftLength {
        std::size_t expected;
        std::size_t got;
    };
    struct NonFiniteSoft {
        std::size_t index;
    };
    struct Analysis {
        codecs::mbe_baseline::analysis::AnalysisError error;
    };
    struct Quantize {
        std::string text;
    };
    struct UnsupportedTranscode {
        Rate from;
        Rate to;
    };

    std::variant<WrongPcmLength, WrongBitsLength, Analysis, Quantize, UnsupportedTranscode, WrongSoftLength,
                 NonFiniteSoft>
        value;

    // User-facing message, e.g. "expected 160 PCM samples per frame, got 100".
    std::string display() const;
    // Developer form, e.g. "WrongPcmLength { expected: 160, got: 100 }", "Quantize(\"BadPitch\")".
    std::string debug() const;
};

}  // namespace ostrel_mbe
