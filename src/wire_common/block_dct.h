// SPDX-License-Identifier: GPL-2.0-or-later
// The DCT pair both parameter quantizers code log2 spectral amplitudes with (TIA-102.BABA): a
// block of n values x_0..x_{n-1} is carried by C_k = (1/n) sum_j x_j cos(k pi (j + 0.5) / n)
// and restored as x_j = C_0 + sum_{k>=1} 2 C_k cos(k pi (j + 0.5) / n).  Templated over the
// float type, which is also the type the cosines are computed in: the full rate works in 32
// bits, the half rate in 64.  The cosine tables are built once at first use.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>

#include "common/built_once.h"
#include "common/check.h"

namespace ostrel_mbe::wire_common::block_dct {

// Entry [k][j] of the table of length n, k, j < n; zero outside the n x n corner.
template <class T, std::size_t MaxN>
using CosineTable = std::array<std::array<T, MaxN>, MaxN>;

template <class T, std::size_t MaxN>
std::array<CosineTable<T, MaxN>, MaxN + 1> build_cosine_tables() {
    std::array<CosineTable<T, MaxN>, MaxN + 1> all{};
    for (std::size_t n = 1; n <= MaxN; ++n) {
        for (std::size_t k = 0; k < n; ++k) {
            for (std::size_t j = 0; j < n; ++j) {
                const T angle = static_cast<T>(k) * std::numbers::pi_v<T> * (static_cast<T>(j) + T(0.5)) /
                                static_cast<T>(n);
                all[n][k][j] = std::cos(angle);
            }
        }
    }
    return all;
}

// cos(k pi (j + 0.5) / n) at [k][j], for n = 0..MaxN.
template <class T, std::size_t MaxN>
const CosineTable<T, MaxN>& cosines(std::size_t n) {
    OSTREL_CHECK(n <= MaxN, "block length fits the cosine tables");
    return common::built_once<build_cosine_tables<T, MaxN>>()[n];
}

// One block, n = values.size() = coefficients.size() <= MaxN.
template <class T, std::size_t MaxN>
void forward(std::span<const T> values, std::span<T> coefficients) {
    const std::size_t n = values.size();
    OSTREL_CHECK(coefficients.size() == n, "a block has as many coefficients as values");
    const CosineTable<T, MaxN>& table = cosines<T, MaxN>(n);
    for (std::size_t k = 0; k < n; ++k) {
        T sum = 0;
        for (std::size_t j = 0; j < n; ++j) sum += values[j] * table[k][j];
        coefficients[k] = (T(1) / static_cast<T>(n)) * sum;
    }
}

// inverse with the block length's table at hand.
template <class T, std::size_t MaxN>
void inverse_with(const CosineTable<T, MaxN>& table, std::span<const T> coefficients, std::span<T> values) {
    const std::size_t n = values.size();
    // Each value is summed over k in order; with the values in the inner loop, the compiler
    // works on several of them at once, every one still summed in that order.  A short table
    // (the full rate's) is run over its whole width, a length the compiler knows: past n it
    // holds zeros, and those sums are not copied out.
    const std::size_t width = MaxN <= 12 ? MaxN : n;
    std::array<T, MaxN> sum;
    for (std::size_t j = 0; j < width; ++j) sum[j] = coefficients[0] * table[0][j];
    for (std::size_t k = 1; k < n; ++k) {
        const T twice = T(2) * coefficients[k];
        for (std::size_t j = 0; j < width; ++j) sum[j] += twice * table[k][j];
    }
    std::copy_n(sum.begin(), n, values.begin());
}

template <class T, std::size_t MaxN>
void inverse(std::span<const T> coefficients, std::span<T> values) {
    OSTREL_CHECK(coefficients.size() == values.size(), "a block has as many coefficients as values");
    inverse_with<T, MaxN>(cosines<T, MaxN>(values.size()), coefficients, values);
}

// Consecutive blocks of values[0..] with the given lengths, block i carried by row i of the
// coefficients (entries past its length zero).
template <class T, std::size_t MaxN, std::size_t Blocks, std::size_t Size>
std::array<std::array<T, MaxN>, Blocks> forward_blocks(const std::array<T, Size>& values,
                                                       const std::array<std::uint8_t, Blocks>& lengths) {
    std::array<std::array<T, MaxN>, Blocks> coefficients{};
    std::size_t offset = 0;
    for (std::size_t i = 0; i < Blocks; ++i) {
        const std::size_t n = lengths[i];
        OSTREL_CHECK(n <= MaxN && offset + n <= Size, "block lengths fit the value vector");
        forward<T, MaxN>(std::span<const T>(values).subspan(offset, n), std::span<T>(coefficients[i]).first(n));
        offset += n;
    }
    return coefficients;
}

// The values the blocks carry, in order; entries past the last block zero.
template <class T, std::size_t MaxN, std::size_t Blocks, std::size_t Size>
std::array<T, Size> inverse_blocks(const std::array<std::array<T, MaxN>, Blocks>& coefficients,
                                   const std::array<std::uint8_t, Blocks>& lengths) {
    std::array<T, Size> values{};
    const auto& tables = common::built_once<build_cosine_tables<T, MaxN>>();
    std::size_t offset = 0;
    for (std::size_t i = 0; i < Blocks; ++i) {
        const std::size_t n = lengths[i];
        OSTREL_CHECK(n <= MaxN && offset + n <= Size, "block lengths fit the value vector");
        inverse_with<T, MaxN>(tables[n], std::span<const T>(coefficients[i]).first(n),
                              std::span<T>(values).subspan(offset, n));
        offset += n;
    }
    return values;
}

}  // namespace ostrel_mbe::wire_common::block_dct
