// SPDX-License-Identifier: GPL-2.0-or-later
// The MBE model of one 20 ms frame: fundamental (radians per sample at 8000 samples/s),
// harmonic count L, and per-harmonic voicing flags and linear spectral amplitudes.  A plain
// fixed-size value that every stage passes on; every record in circulation is valid.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

namespace ostrel_mbe {

inline constexpr std::size_t L_HAT_MAX = 56;
inline constexpr std::uint8_t L_MIN = 9;

enum class MbeParamsError : std::uint8_t {
    OmegaOutOfRange,
    HarmonicCountOutOfRange,
    InvalidAmplitude,
};

std::string_view debug_name(MbeParamsError error);

class MbeParams {
public:
    // Validates (fundamental, then harmonic count, then amplitudes) and copies the first L
    // entries; voicing and amplitudes must have equal length L.
    static std::expected<MbeParams, MbeParamsError> create(float omega0, std::span<const bool> voiced,
                                                           std::span<const float> amplitudes);

    // Builds a record the caller knows to be valid (fixed parameter sets, decoder output
    // already range-checked); asserts the invariants.
    static MbeParams from_valid(float omega0, std::span<const bool> voiced, std::span<const float> amplitudes);

    // The fixed IMBE silence frame: omega0 = 4 pi / 39.5 (pitch index 0), L = 9, unvoiced, zero.
    static MbeParams imbe_silence();
    // The fixed AMBE+2 silence frame: omega0 at the top of the half-rate pitch range, L = 9.
    static MbeParams ambe_plus2_silence();

    float omega0() const { return omega0_; }
    std::uint8_t harmonic_count() const { return harmonic_count_; }
    std::span<const bool> voiced() const { return {voiced_.data(), harmonic_count_}; }
    std::span<const float> amplitudes() const { return {amplitudes_.data(), harmonic_count_}; }
    const std::array<bool, L_HAT_MAX>& voiced_array() const { return voiced_; }
    const std::array<float, L_HAT_MAX>& amplitude_array() const { return amplitudes_; }

    friend bool operator==(const MbeParams&, const MbeParams&) = default;

private:
    MbeParams() = default;

    float omega0_ = 0.0f;
    std::uint8_t harmonic_count_ = 0;
    std::array<bool, L_HAT_MAX> voiced_{};
    std::array<float, L_HAT_MAX> amplitudes_{};
};

std::expected<void, MbeParamsError> validate(float omega0, std::size_t harmonic_count,
                                             std::span<const float> amplitudes);

}  // namespace ostrel_mbe
