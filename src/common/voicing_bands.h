// SPDX-License-Identifier: GPL-2.0-or-later
// The full rate's voicing bands (TIA-102.BABA): harmonics 1..L in bands of three, K = 12 bands
// at most, the last taking every harmonic above 33.  The analysis decides voicing per band and
// the full-rate quantizer codes one bit per band.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace ostrel_mbe::common {

// K for L harmonics: floor((L + 2) / 3) up to L = 36, 12 above.
constexpr std::uint8_t band_count(std::uint8_t harmonic_count) {
    return harmonic_count > 36 ? std::uint8_t{12} : static_cast<std::uint8_t>((harmonic_count + 2) / 3);
}

// Band 1..K of harmonic l (1-based): min(K, floor((l + 2) / 3)).
constexpr std::size_t band_of(std::size_t l, std::uint8_t band_count) {
    return std::min<std::size_t>(band_count, (l + 2) / 3);
}

}  // namespace ostrel_mbe::common
