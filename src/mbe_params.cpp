// SPDX-License-Identifier: GPL-2.0-or-later
#include "mbe_params.h"

#include "common/check.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace ostrel_mbe {

std::string_view debug_name(MbeParamsError error) {
    switch (error) {
        case MbeParamsError::OmegaOutOfRange: return "OmegaOutOfRange";
        case MbeParamsError::HarmonicCountOutOfRange: return "HarmonicCountOutOfRange";
        case MbeParamsError::InvalidAmplitude: return "InvalidAmplitude";
    }
    return "?";
}

std::expected<void, MbeParamsError> validate(float omega0, std::size_t harmonic_count,
                                             std::span<const float> amplitudes) {
    // Compared in 32-bit against pi rounded to 32 bits; a NaN fails both comparisons.
    constexpr float pi32 = std::numbers::pi_v<float>;
    if (!(omega0 > 0.0f && omega0 < pi32)) return std::unexpected(MbeParamsError::OmegaOutOfRange);
    if (harmonic_count < L_MIN || harmonic_count > L_HAT_MAX) {
        return std::unexpected(MbeParamsError::HarmonicCountOutOfRange);
    }
    // Finite and not negative (-0 included), NaN failing both comparisons; one branch-free pass
    // the compiler vectorises, since every parameter set built passes through here.
    unsigned invalid = 0;
    for (std::size_t l = 0; l < harmonic_count; ++l) {
        const float a = amplitudes[l];
        invalid |= static_cast<unsigned>(!(a >= 0.0f) | !(a <= std::numeric_limits<float>::max()));
    }
    if (invalid != 0) return std::unexpected(MbeParamsError::InvalidAmplitude);
    return {};
}

std::expected<MbeParams, MbeParamsError> MbeParams::create(float omega0, std::span<const bool> voiced,
                                                           std::span<const float> amplitudes) {
    OSTREL_CHECK(voiced.size() == amplitudes.size(), "voicing and amplitude slices have equal length");
    const std::size_t count = amplitudes.size();
    if (auto ok = validate(omega0, count, amplitudes); !ok) return std::unexpected(ok.error());
    MbeParams p;
    p.omega0_ = omega0;
    p.harmonic_count_ = static_cast<std::uint8_t>(count);
    for (std::size_t l = 0; l < count; ++l) {
        p.voiced_[l] = voiced[l];
        p.amplitudes_[l] = amplitudes[l];
    }
    return p;
}

MbeParams MbeParams::from_valid(float omega0, std::span<const bool> voiced, std::span<const float> amplitudes) {
    auto p = create(omega0, voiced, amplitudes);
    OSTREL_CHECK(p.has_value(), "parameters built from a valid set satisfy the MbeParams invariants");
    return *p;
}

MbeParams MbeParams::imbe_silence() {
    MbeParams p;
    p.omega0_ = static_cast<float>(4.0 * std::numbers::pi / 39.5);
    p.harmonic_count_ = 9;
    return p;
}

MbeParams MbeParams::ambe_plus2_silence() {
    MbeParams p;
    p.omega0_ = 0.31397700f;  // 32-bit pattern 0x3EA0C198, the top of the half-rate pitch range
    p.harmonic_count_ = 9;
    return p;
}

}  // namespace ostrel_mbe
