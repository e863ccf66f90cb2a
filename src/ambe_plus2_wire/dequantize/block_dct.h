// SPDX-License-Identifier: GPL-2.0-or-later
// Spectral block transforms of the half-rate quantizer.  The L prediction residuals T_1..T_L
// (log2 domain) are split into four blocks of lengths J1..J4 (TIA-102.BABA Annex N), each
// transformed by a DCT into a coefficient row C(i, 1..J_i); the first two coefficients of the
// four rows form the eight "block average" values R_1..R_8, coded through an eight-point DCT
// G_2..G_8 by two vector codebooks (Annexes P, Q); coefficients 3..6 of each row are coded by
// the four higher-order codebooks (Annex R).  The transforms are wire_common::block_dct's, in
// 64-bit arithmetic like everything here.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "mbe_params.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {

inline constexpr std::size_t BLOCK_COUNT = 4;
// The longest block (J4 for L = 56).
inline constexpr std::size_t MAX_BLOCK_LENGTH = 17;

// J1..J4, summing to L.
using BlockLengths = std::array<std::uint8_t, BLOCK_COUNT>;
// C(i, k) at [i - 1][k - 1]; entries at k > J_i are 0.
using CoefficientMatrix = std::array<std::array<double, MAX_BLOCK_LENGTH>, BLOCK_COUNT>;
// T_l (or any per-harmonic log2 value) at [l - 1]; entries above L are 0.
using Residuals = std::array<double, L_HAT_MAX>;
// R_1..R_8 or G_1..G_8 at [0..7].
using Prba = std::array<double, 8>;
// Higher-order codebook indices b5..b8.
using HocIndices = std::array<std::uint16_t, BLOCK_COUNT>;

// The block lengths of the standard for L = 9..56.
BlockLengths block_lengths(std::uint8_t l);

// The eight-point DCT of one block of eight, with the mean G_1 left out (the gain carries it):
// R_n = sum over m = 2..8 of 2 G_m cos(pi (m - 1)(n - 0.5) / 8); G_1 is not used.
Prba inverse_prba_dct(const Prba& g);
// G_m = (1/8) sum over n of R_n cos(pi (m - 1)(n - 0.5) / 8) for m = 2..8; G_1 is left 0.
Prba forward_prba_dct(const Prba& r);

// The decoder's coefficient matrix: C(i,1) = (R(2i-1) + R(2i)) / 2,
// C(i,2) = (sqrt 2 / 4)(R(2i-1) - R(2i)), C(i,3..min(J_i,6)) from higher-order codebook i.
CoefficientMatrix assemble_hoc_matrix(const Prba& r, const HocIndices& hoc, const BlockLengths& j);
// Its parts, for an encoder that changes one codebook's entry at a time: the first two columns
// from R, and C(i,3..min(J_i,6)) from entry `index` of higher-order codebook i.
void set_prba_columns(CoefficientMatrix& c, const Prba& r);
void set_hoc_row(CoefficientMatrix& c, std::size_t i, std::uint16_t index, const BlockLengths& j);
// The encoder's inverse of the first two columns: R(2i-1) = C(i,1) + sqrt 2 C(i,2),
// R(2i) = C(i,1) - sqrt 2 C(i,2).
Prba prba_from_coefficients(const CoefficientMatrix& c);

// Block i yields c_j = C(i,1) T_J[0][j] + sum over k = 2..J of 2 C(i,k) T_J[k-1][j]; the
// blocks in order give T_1..T_L.
Residuals inverse_block_dct(const CoefficientMatrix& c, const BlockLengths& j);

// Block `block` of inverse_block_dct(c, j) alone, written over its place in t: the blocks are
// inverted independently, so t then holds exactly what a whole inversion gives when the other
// blocks of t came from the same c.
void inverse_one_block(const CoefficientMatrix& c, const BlockLengths& j, std::size_t block, Residuals& t);
// C(i,k) = (1/J) sum over j of c_j T_J[k-1][j], k = 1..J, over consecutive blocks of t.
CoefficientMatrix forward_block_dct(const Residuals& t, const BlockLengths& j);
// The same for C(i,1..min(J_i,6)) only, the coefficients the PRBA and higher-order codebooks
// carry; the rest of each row 0.
CoefficientMatrix forward_coded_block_dct(const Residuals& t, const BlockLengths& j);

// b5..b8: per block with J_i > 2, the higher-order codebook entry nearest to
// (C(i,3), ..., C(i,min(J_i,6))) padded with zeros to four components; 0 for J_i <= 2.
HocIndices quantize_hoc_all(const CoefficientMatrix& c, const BlockLengths& j);

// Coefficients 3..6 of block i padded with zeros: what higher-order codebook i is searched for.
std::array<double, 4> hoc_target(const CoefficientMatrix& c, const BlockLengths& j, std::size_t i);
// Higher-order codebook i (b5..b8 for i = 0..3).
std::span<const std::array<float, 4>> hoc_codebook(std::size_t i);

}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
