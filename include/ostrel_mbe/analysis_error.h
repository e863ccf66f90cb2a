// SPDX-License-Identifier: GPL-2.0-or-later
// Errors of the analysis encoder: the input frame is not 160 samples, or the analysed
// parameters cannot be represented (invalid MbeParams or refused by the encoder-side quantizer).
#pragma once

#include <cstdint>
#include <string_view>

namespace ostrel_mbe::codecs::mbe_baseline::analysis {

enum class AnalysisError : std::uint8_t {
    WrongFrameLength,
    PitchOutOfRange,
};

constexpr std::string_view debug_name(AnalysisError error) {
    switch (error) {
        case AnalysisError::WrongFrameLength: return "WrongFrameLength";
        case AnalysisError::PitchOutOfRange: return "PitchOutOfRange";
    }
    return "?";
}

}  // namespace ostrel_mbe::codecs::mbe_baseline::analysis
