// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/sincos.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "common/ulps.h"

namespace ostrel_mbe::common {
namespace {

TEST(Sincos4, WithinAnUlpOfTheCLibraryOverTheSynthesisRange) {
    // Quadrant edges and their neighbours, then random angles of every size the synthesis meets
    // (harmonic phases up to 56 pi and beyond, tiny rotations).
    std::vector<double> angles = {0.0, -0.0, 1e-300, -1e-9};
    for (int k = -400; k <= 400; ++k) {
        const double edge = k * std::numbers::pi / 4;
        angles.insert(angles.end(), {edge, std::nextafter(edge, 1e9), std::nextafter(edge, -1e9)});
    }
    std::mt19937_64 rng(4);
    for (const double scale : {1e-6, 1.0, 4.0, 200.0, 2e4}) {
        std::uniform_real_distribution<double> u(-scale, scale);
        for (int i = 0; i < 20000; ++i) angles.push_back(u(rng));
    }
    while (angles.size() % 4 != 0) angles.push_back(1.0);
    for (std::size_t i = 0; i < angles.size(); i += 4) {
        const simd::Quad x{angles[i], angles[i + 1], angles[i + 2], angles[i + 3]};
        simd::Quad s, c;
        sincos4(x, s, c);
        for (int j = 0; j < 4; ++j) {
            // Near a zero of sin or cos the C library's value is tiny: compare absolutely there.
            const double ws = std::sin(x[j]), wc = std::cos(x[j]);
            ASSERT_TRUE(ulps(s[j], ws) <= 1.0 || std::abs(s[j] - ws) < 1e-16 * std::abs(x[j]) + 1e-300) << x[j];
            ASSERT_TRUE(ulps(c[j], wc) <= 1.0 || std::abs(c[j] - wc) < 1e-16 * std::abs(x[j]) + 1e-300) << x[j];
        }
    }
}

}  // namespace
}  // namespace ostrel_mbe::common
