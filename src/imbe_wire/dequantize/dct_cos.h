// SPDX-License-Identifier: GPL-2.0-or-later
// Cosine tables of the IMBE amplitude coder's DCTs, 32-bit floats computed in 32-bit
// arithmetic: T_n[k][j] = cos(pi k (j + 0.5) / n) for the block DCTs (n = 0..10) and the
// six-point gain DCT.  Built once on first use, read-only afterwards.
#pragma once

#include <array>
#include <cstddef>

namespace ostrel_mbe::imbe_wire::dequantize {

namespace dct_cos {

inline constexpr std::size_t MAX_LENGTH = 10;
// Table of length n: entry [k][j] for k, j < n; the rest of the 10 x 10 square is zero.
using Table = std::array<std::array<float, MAX_LENGTH>, MAX_LENGTH>;

// TABLES[n][k][j] = cos(k pi (j + 0.5) / n), n = 0..10; the tables are built on first access.
struct LazyTables {
    const Table& operator[](std::size_t n) const;
};
inline constexpr LazyTables TABLES{};

}  // namespace dct_cos

namespace dct6_cos {

using Table = std::array<std::array<float, 6>, 6>;

// TABLE[k][i] = cos(pi k (i + 0.5) / 6); built on first access.
struct LazyTable {
    const std::array<float, 6>& operator[](std::size_t k) const;
    const Table& get() const;
};
inline constexpr LazyTable TABLE{};

}  // namespace dct6_cos

}  // namespace ostrel_mbe::imbe_wire::dequantize
