// SPDX-License-Identifier: GPL-2.0-or-later
// 2^x and log2 x of four values at once, for the half-rate decoder's per-harmonic amplitudes
// and log envelope: the same arithmetic on every target and in both builds of the vectorised
// loops, exp2 within one unit in the last place of the C library's value and log2 within three
// (near x = 1, where log2 is small; never more than 3e-16 apart), as the test checks.
// Polynomials of Taylor series on reduced arguments, with no table.
//   exp2: x = k + f, k the nearest integer, |f| <= 1/2; 2^f = e^(f ln 2) to the 14th power
//         (the first term left out is below 5e-18), scaled by 2^k in the exponent field.
//         For |x| <= 1000; other lanes are the caller's (exp2_lanes falls back to std::exp2).
//   log2: x = 2^e m, m in [sqrt(1/2), sqrt(2)); ln m = 2 atanh(t), t = (m - 1) / (m + 1),
//         |t| <= 0.172, to t^21.  For positive normal x.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

#include "common/simd.h"

namespace ostrel_mbe::common {

namespace exp2_log2_detail {

using simd::Quad;
using QuadBits = std::int64_t __attribute__((vector_size(4 * sizeof(std::int64_t))));

// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to an integer, which the low bits
// of the sum's representation then hold.
inline constexpr double SHIFTER = 0x1.8p52;
inline constexpr double EXP2_RANGE = 1000.0;

// (ln 2)^n / n!
constexpr double exp2_coefficient(int n) {
    double c = 1.0;
    for (int i = 1; i <= n; ++i) c = c * std::numbers::ln2 / i;
    return c;
}

}  // namespace exp2_log2_detail

// 2^x for |x| <= 1000 (outside, the lanes hold no meaningful value).  Quads go by reference:
// by value their ABI differs between the builds.
[[gnu::always_inline]] inline void exp2_in_range(const simd::Quad& x, simd::Quad& out) {
    using namespace exp2_log2_detail;
    constexpr auto c = exp2_coefficient;
    const Quad shifted = x + SHIFTER;
    const Quad k = shifted - SHIFTER;
    const Quad f = x - k;  // exact
    const Quad p =
        c(1) + f * (c(2) + f * (c(3) + f * (c(4) + f * (c(5) + f * (c(6) + f * (c(7) + f * (c(8) + f * (c(9) + f *
        (c(10) + f * (c(11) + f * (c(12) + f * (c(13) + f * c(14)))))))))))));
    const Quad two_f = 1.0 + f * p;
    // 2^k: k + 1023 in the exponent field (k is the low bits of the shifted sum).
    const QuadBits biased = ((QuadBits)shifted + 1023) << 52;  // the vector cast reinterprets
    out = two_f * (Quad)biased;
}

// std::exp2 of values[0..count), four at a time (values has room for the last four); a group
// with a value beyond +-1000 goes through the C library.
[[gnu::always_inline]] inline void exp2_lanes(const double* values, std::size_t count, double* out) {
    for (std::size_t i = 0; i < count; i += 4) {
        const simd::Quad x = simd::quad_at(values + i);
        const simd::Quad magnitude = x < 0.0 ? -x : x;
        const auto outside = magnitude > exp2_log2_detail::EXP2_RANGE || x != x;
        if ((outside[0] | outside[1] | outside[2] | outside[3]) == 0) {
            simd::Quad y;
            exp2_in_range(x, y);
            simd::quad_at(out + i) = y;
        } else {
            for (std::size_t j = i; j < i + 4; ++j) out[j] = std::exp2(values[j]);
        }
    }
}

// log2 x for positive normal x (other lanes hold no meaningful value).
[[gnu::always_inline]] inline void log2_normal(const simd::Quad& x, simd::Quad& out) {
    using namespace exp2_log2_detail;
    constexpr std::int64_t MANTISSA = (std::int64_t{1} << 52) - 1;
    constexpr std::int64_t ONE_BITS = std::int64_t{1023} << 52;
    const QuadBits bits = (QuadBits)x;  // the vector cast reinterprets
    Quad m = (Quad)((bits & MANTISSA) | ONE_BITS);  // [1, 2)
    // The biased exponent as a double: placed in the low bits of 2^52 and 2^52 taken away.
    Quad e = (Quad)((bits >> 52) | (std::int64_t{0x433} << 52)) - (0x1p52 + 1023.0);
    const auto big = m > std::numbers::sqrt2;
    m = big ? m * 0.5 : m;
    e = big ? e + 1.0 : e;
    const Quad t = (m - 1.0) / (m + 1.0);
    const Quad z = t * t;
    const Quad p = 1.0 / 3 + z * (1.0 / 5 + z * (1.0 / 7 + z * (1.0 / 9 + z * (1.0 / 11 + z * (1.0 / 13 + z *
                   (1.0 / 15 + z * (1.0 / 17 + z * (1.0 / 19 + z * (1.0 / 21)))))))));
    const Quad atanh_t = t + (t * z) * p;
    out = e + atanh_t * (2.0 / std::numbers::ln2);
}

}  // namespace ostrel_mbe::common
