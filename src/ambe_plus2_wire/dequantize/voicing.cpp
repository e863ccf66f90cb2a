// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/voicing.h"

#include "ambe_plus2_wire/ambe_plus2_tables.h"

#include <array>
#include <cmath>
#include <numbers>

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

std::uint16_t encode_vuv(std::span<const bool> voiced, double omega0) {
    std::array<int, VUV_BANDS> score{};
    std::array<bool, VUV_BANDS> used{};
    for (std::size_t l = 1; l <= voiced.size(); ++l) {
        const std::size_t band = band_of(l, omega0);
        score[band] += voiced[l - 1] ? 1 : -1;
        used[band] = true;
    }
    std::size_t best = 0;
    int best_errors = -1;
    for (std::size_t entry = 0; entry < tables::VUV_CODEBOOK.size(); ++entry) {
        int errors = 0;
        for (std::size_t band = 0; band < VUV_BANDS; ++band) {
            if (used[band] && tables::VUV_CODEBOOK[entry][band] != (score[band] >= 0)) ++errors;
        }
        if (best_errors < 0 || errors < best_errors) {
            best = entry;
            best_errors = errors;
        }
    }
    return static_cast<std::uint16_t>(best);
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize

