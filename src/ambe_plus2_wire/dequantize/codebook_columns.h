// SPDX-License-Identifier: GPL-2.0-or-later
// Vector codebooks held column by column in 64 bits, for the nearest-entry searches the encoder
// runs on every frame: the distances of four entries at a time, each lane the arithmetic of the
// plain loop in codebook_search.h (the same differences, squares and sums in the same order), so
// the same entry wins, ties to the lower index included.
#pragma once

#include <array>
#include <cstddef>

#include "ambe_plus2_wire/dequantize/codebook_search.h"
#include "common/simd.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

template <std::size_t Size, std::size_t Dim>
struct CodebookColumns {
    static_assert(Size % 4 == 0 && Size >= 4, "whole groups of four entries");
    std::array<std::array<double, Size>, Dim> column;
};

template <std::size_t Size, std::size_t Dim>
CodebookColumns<Size, Dim> columns_of(const std::array<std::array<float, Dim>, Size>& codebook) {
    CodebookColumns<Size, Dim> c{};
    for (std::size_t i = 0; i < Size; ++i) {
        for (std::size_t d = 0; d < Dim; ++d) c.column[d][i] = static_cast<double>(codebook[i][d]);
    }
    return c;
}

// The PRBA codebooks (b3, b4) and the higher-order ones (b5..b8) so held, built at first use.
const CodebookColumns<512, 3>& prba24_columns();
const CodebookColumns<128, 4>& prba58_columns();
const CodebookColumns<32, 4>& hoc_b5_columns();
const CodebookColumns<16, 4>& hoc_b6_columns();
const CodebookColumns<16, 4>& hoc_b7_columns();
const CodebookColumns<8, 4>& hoc_b8_columns();

// nearest_entry over the same codebook: each lane keeps its own first nearest entry, and the
// lanes' winners are then compared by distance and, on equal distances, by index.  Always
// inlined, so that it takes the instruction set of the caller's build (see OSTREL_AVX2_CLONES).
template <std::size_t Size, std::size_t Dim>
[[gnu::always_inline]] inline std::size_t nearest_entry(const CodebookColumns<Size, Dim>& codebook,
                                                        const std::array<double, Dim>& target) {
    using common::simd::Quad;
    std::array<Quad, Dim> t;
    for (std::size_t d = 0; d < Dim; ++d) t[d] = Quad{target[d], target[d], target[d], target[d]};
    // Out through a reference: a four-lane vector is never passed by value (see simd.h).
    const auto distances = [&](std::size_t i, Quad& distance) {
        distance = Quad{};
        for (std::size_t d = 0; d < Dim; ++d) {
            const Quad diff = t[d] - Quad(common::simd::quad_at(codebook.column[d].data() + i));
            distance += diff * diff;
        }
    };
    Quad best;
    distances(0, best);
    Quad best_index = {0.0, 1.0, 2.0, 3.0};
    const Quad step = {4.0, 4.0, 4.0, 4.0};
    Quad index = best_index;
    for (std::size_t i = 4; i < Size; i += 4) {
        index += step;
        Quad distance;
        distances(i, distance);
        const auto closer = distance < best;
        best = closer ? distance : best;
        best_index = closer ? index : best_index;
    }
    std::size_t lane = 0;
    for (std::size_t k = 1; k < 4; ++k) {
        if (best[k] < best[lane] || (best[k] == best[lane] && best_index[k] < best_index[lane])) lane = k;
    }
    return static_cast<std::size_t>(best_index[lane]);
}

// nearest_entries over the same codebook: every entry's distance four at a time as above, then
// the plain loop's ranking over them (a later entry ranks behind every kept one not farther).
template <std::size_t M, std::size_t Size, std::size_t Dim>
[[gnu::always_inline]] inline std::array<std::size_t, M> nearest_entries(const CodebookColumns<Size, Dim>& codebook,
                                                                         const std::array<double, Dim>& target) {
    static_assert(M >= 1 && M <= Size);
    using common::simd::Quad;
    std::array<Quad, Dim> t;
    for (std::size_t d = 0; d < Dim; ++d) t[d] = Quad{target[d], target[d], target[d], target[d]};
    alignas(32) std::array<double, Size> distances;
    for (std::size_t i = 0; i < Size; i += 4) {
        Quad distance{};
        for (std::size_t d = 0; d < Dim; ++d) {
            const Quad diff = t[d] - Quad(common::simd::quad_at(codebook.column[d].data() + i));
            distance += diff * diff;
        }
        common::simd::quad_at(distances.data() + i) = distance;
    }
    // Once M entries are kept, most groups of four hold none nearer than the farthest kept one,
    // where every offer would change nothing: one test passes such a group over.
    NearestKept<M> nearest;
    std::size_t i = 0;
    for (; i < Size && !(nearest.full() && i % 4 == 0); ++i) nearest.offer(i, distances[i]);
    for (; i < Size; i += 4) {
        const Quad distance = common::simd::quad_at(distances.data() + i);
        const double farthest = nearest.farthest();
        const auto nearer = distance < Quad{farthest, farthest, farthest, farthest};
        if (nearer[0] | nearer[1] | nearer[2] | nearer[3]) {
            for (std::size_t k = 0; k < 4; ++k) nearest.offer(i + k, distances[i + k]);
        }
    }
    return nearest.indices();
}

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
