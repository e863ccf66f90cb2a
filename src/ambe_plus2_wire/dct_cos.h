// SPDX-License-Identifier: GPL-2.0-or-later
// Cosine tables of the half-rate block DCTs: for each block length n = 0..17 the n x n table
// T_n[k][j] = cos(k pi (j + 0.5) / n) in 64-bit floating point.  Built once per process on
// first use and read-only afterwards; shared by every quantizer and dequantizer.
#pragma once

#include <array>
#include <cstddef>

namespace ostrel_mbe::ambe_plus2_wire::dequantize::dct_cos {

// The longest half-rate block (J4 for L = 56).
inline constexpr std::size_t MAX_N = 17;

struct Table {
    std::size_t n = 0;
    std::array<double, MAX_N * MAX_N> values{};

    // T_n[k][j] for k, j < n.
    double operator()(std::size_t k, std::size_t j) const { return values[k * MAX_N + j]; }
};

// TABLES[n] for n = 0..MAX_N; the first access builds all of them.
struct LazyTables {
    const Table& operator[](std::size_t n) const;
};
inline constexpr LazyTables TABLES{};

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize::dct_cos
