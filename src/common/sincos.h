// SPDX-License-Identifier: GPL-2.0-or-later
// sin and cos of four angles at once, for the synthesis's per-harmonic phasors: the same
// arithmetic on every target and in both builds of the vectorised loops, each result within
// about one unit in the last place of the exact value (the test compares with the C library).
// The angle is reduced by the nearest multiple of pi/2, in three parts of pi/2 (the first two
// exact in 33 bits, so k times them is exact for |k| < 2^20, the angles up to about 1.6e6),
// and the reduced angle r, |r| <= pi/4, goes through the Taylor series of sin r to r^17 and
// cos r to r^18 (the first terms left out are below 1e-19).
#pragma once

#include <bit>
#include <cstdint>

#include "common/simd.h"

namespace ostrel_mbe::common {

namespace sincos_detail {

using simd::Quad;
using QuadBits = std::int64_t __attribute__((vector_size(4 * sizeof(std::int64_t))));

// pi/2 = P1 + P2 + P3 (from pi's decimal expansion; P1 and P2 carry 33 significant bits).
inline constexpr double P1 = 0x1.921fb544p+0;
inline constexpr double P2 = 0x1.0b4611a6p-34;
inline constexpr double P3 = 0x1.3198a2e037073p-69;
inline constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to an integer, which the low bits
// of the sum's representation then hold.
inline constexpr double SHIFTER = 0x1.8p52;

constexpr double inverse_factorial(int n) {
    double f = 1.0;
    for (int i = 2; i <= n; ++i) f *= i;  // exact up to 22!
    return 1.0 / f;
}

}  // namespace sincos_detail

[[gnu::always_inline]] inline void sincos4(const simd::Quad& x, simd::Quad& sin_x, simd::Quad& cos_x) {
    using namespace sincos_detail;
    constexpr auto c = [](int n) { return (n % 4 == 0 ? 1.0 : -1.0) * inverse_factorial(n); };  // (-1)^(n/2) / n!
    constexpr auto s = [](int n) { return (n % 4 == 1 ? 1.0 : -1.0) * inverse_factorial(n); };  // (-1)^((n-1)/2) / n!
    const Quad shifted = x * TWO_OVER_PI + SHIFTER;
    const Quad k = shifted - SHIFTER;
    const QuadBits quadrant = (QuadBits)shifted & 3;  // the vector cast reinterprets the bits
    const Quad r = ((x - k * P1) - k * P2) - k * P3;
    const Quad z = r * r;
    const Quad sin_poly =
        s(3) + z * (s(5) + z * (s(7) + z * (s(9) + z * (s(11) + z * (s(13) + z * (s(15) + z * s(17)))))));
    const Quad cos_poly =
        c(2) + z * (c(4) + z * (c(6) + z * (c(8) + z * (c(10) + z * (c(12) + z * (c(14) + z * (c(16) + z * c(18))))))));
    const Quad sin_r = r + (r * z) * sin_poly;
    const Quad cos_r = 1.0 + z * cos_poly;
    // x = k pi/2 + r: quadrant 1 swaps sin and cos, quadrant 2 negates both.
    const QuadBits swap = (quadrant & 1) != 0;
    const Quad sin_q = swap ? cos_r : sin_r;
    const Quad cos_q = swap ? sin_r : cos_r;
    sin_x = (quadrant & 2) != 0 ? -sin_q : sin_q;
    cos_x = ((quadrant + 1) & 2) != 0 ? -cos_q : cos_q;
}

}  // namespace ostrel_mbe::common
