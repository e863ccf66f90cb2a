// The one error type of the vocoder facade, with its exact display and debug texts.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <utility>
#include <variant>

#include "codecs/mbe_baseline/analysis/analysis_error.h"
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

    std::variant<WrongPcmLength, WrongBitsLength, Analysis, Quantize, UnsupportedTranscode> value;

    // User-facing message, e.g. "expected 160 PCM samples per frame, got 100".
    std::string display() const;
    // Developer form, e.g. "WrongPcmLength { expected: 160, got: 100 }", "Quantize(\"BadPitch\")".
    std::string debug() const;
};

// A failed result of type T holding the error built in place from one of its alternatives.
// Returning std::unexpected(VocoderError{...}) instead moves the finished error, variant and
// all, and GCC 12 at -O2 under the sanitizers then sees the move of the Quantize alternative's
// string on paths where another alternative is live (-Wmaybe-uninitialized).
template <class T, class Alternative>
std::expected<T, VocoderError> error_result(Alternative&& alternative) {
    return std::expected<T, VocoderError>(std::unexpect, std::forward<Alternative>(alternative));
}

}  // namespace ostrel_mbe
