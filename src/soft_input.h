// SPDX-License-Identifier: GPL-2.0-or-later
// Checks and slicing of soft values shared by the channel, the stream and the transcoder.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "vocoder_error.h"

namespace ostrel_mbe::soft_input {

// The first non-finite value's error, or nothing.
inline std::optional<VocoderError> non_finite(std::span<const float> soft, std::size_t offset = 0) {
    for (std::size_t i = 0; i < soft.size(); ++i) {
        if (!std::isfinite(soft[i])) return VocoderError{VocoderError::NonFiniteSoft{offset + i}};
    }
    return std::nullopt;
}

// The signs as wire bytes (positive is 1), soft.size() / 8 of them, most significant bit first.
inline std::array<std::uint8_t, 18> slice(std::span<const float> soft) {
    std::array<std::uint8_t, 18> bytes{};
    for (std::size_t i = 0; i < soft.size() && i / 8 < bytes.size(); ++i) {
        if (soft[i] > 0.0f) bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | (0x80u >> (i % 8)));
    }
    return bytes;
}

}  // namespace ostrel_mbe::soft_input
