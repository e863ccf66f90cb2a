// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/tone.h"

#include "ambe_plus2_wire/generated_tables.h"

#include <algorithm>
#include <cmath>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

constexpr unsigned TONE_MARK = 0xFC0;  // u0 bits 11..6
constexpr std::uint8_t SILENCE_TONE = 255;

// Harmonics span up to 3812.5 Hz of the 4000 Hz band.
constexpr double HARMONIC_BANDWIDTH_HZ = 3812.5;
// 2 pi / 8000: Hz to radians per sample.
constexpr double RADIANS_PER_HZ = 0.0007853981633974483;

}  // namespace

InfoVectors tone_frame_vectors(std::uint8_t index, std::uint8_t amplitude) {
    const unsigned i = index;
    const unsigned a = amplitude & 0x7Fu;
    return {
        static_cast<std::uint16_t>(TONE_MARK | (a >> 1)),
        static_cast<std::uint16_t>(((i << 4) | (i >> 4)) & 0xFFFu),
        static_cast<std::uint16_t>(((i & 0xFu) << 7) | (i >> 1)),
        static_cast<std::uint16_t>(((i & 1u) << 13) | (i << 5) | ((a & 1u) << 4)),
    };
}

std::optional<ToneCode> read_tone_frame(const InfoVectors& u) {
    if ((u[0] & TONE_MARK) != TONE_MARK || (u[3] & 0xFu) != 0) return std::nullopt;
    return ToneCode{
        static_cast<std::uint8_t>((u[3] >> 5) & 0xFFu),
        static_cast<std::uint8_t>(((u[0] & 0x3Fu) << 1) | ((u[3] >> 4) & 1u)),
    };
}

std::optional<MbeParams> tone_to_mbe_params(std::uint8_t index, std::uint8_t amplitude) {
    const auto& entry = tables::TONES[index];
    if (!entry.present || !(entry.f0_hz > 0.0f)) return std::nullopt;
    const double f0 = static_cast<double>(entry.f0_hz);

    const int a_index = amplitude & 0x7F;
    const float tone_amplitude =
        index == SILENCE_TONE ? 0.0f : static_cast<float>(16384.0 * std::pow(10.0, (a_index - 127) * 0.03555));

    const double harmonics = std::min(std::floor(HARMONIC_BANDWIDTH_HZ / f0), 255.0);
    const auto l = static_cast<std::size_t>(std::clamp(harmonics, static_cast<double>(L_MIN),
                                                       static_cast<double>(L_HAT_MAX)));
    std::array<bool, L_HAT_MAX> voiced{};
    std::array<float, L_HAT_MAX> amplitudes{};
    for (const std::size_t h : {std::size_t{entry.l1}, std::size_t{entry.l2}}) {
        if (h >= 1 && h <= l) {
            voiced[h - 1] = true;
            amplitudes[h - 1] = tone_amplitude;
        }
    }
    const auto omega0 = static_cast<float>(f0 * RADIANS_PER_HZ);
    auto params = MbeParams::create(omega0, std::span<const bool>(voiced.data(), l),
                                    std::span<const float>(amplitudes.data(), l));
    if (!params) return std::nullopt;
    return *params;
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
