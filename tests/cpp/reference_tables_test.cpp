// SPDX-License-Identifier: GPL-2.0-or-later
// The reference windows of TIA-102.BABA (Annexes C and I) that tests compare computed windows
// with: a Kaiser window with beta 6 and a trapezoid, each checked against its formula.
#include "generated_reference_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace ostrel_mbe::reference_tables {
namespace {

TEST(ReferenceTables, SpectralWindowIsKaiserSixRoundedToSixDecimals) {
    ASSERT_EQ(SPECTRAL_WINDOW_WR.size(), 221u);  // n = -110..110
    EXPECT_DOUBLE_EQ(SPECTRAL_WINDOW_WR[110], 1.0);
    EXPECT_DOUBLE_EQ(SPECTRAL_WINDOW_WR.front(), 0.014873);
    EXPECT_DOUBLE_EQ(SPECTRAL_WINDOW_WR.back(), 0.014873);
    const double i0_beta = std::cyl_bessel_i(0.0, 6.0);
    for (int n = -110; n <= 110; ++n) {
        const double r = static_cast<double>(n) / 110.0;
        const double kaiser = std::cyl_bessel_i(0.0, 6.0 * std::sqrt(1.0 - r * r)) / i0_beta;
        EXPECT_NEAR(SPECTRAL_WINDOW_WR[static_cast<std::size_t>(n + 110)], kaiser, 0.5e-6 + 1e-12) << "n " << n;
    }
}

TEST(ReferenceTables, SynthesisWindowIsATrapezoid) {
    ASSERT_EQ(SYNTHESIS_WINDOW_WS.size(), 211u);  // n = -105..105
    for (int n = -105; n <= 105; ++n) {
        const int a = std::abs(n);
        const double want = a <= 55 ? 1.0 : (105.0 - a) / 50.0;
        EXPECT_NEAR(SYNTHESIS_WINDOW_WS[static_cast<std::size_t>(n + 105)], want, 1e-9) << "n " << n;
    }
}

}  // namespace
}  // namespace ostrel_mbe::reference_tables
