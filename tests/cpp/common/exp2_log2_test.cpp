// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/exp2_log2.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "common/ulps.h"

namespace ostrel_mbe::common {
namespace {

TEST(Exp2Lanes, WithinAnUlpOfTheCLibraryAndItBeyondTheRange) {
    std::vector<double> x = {0.0, -0.0, 0.5, -0.5, 1.0, -1022.0, 1000.0, -1000.0, 1023.5, -1100.0, 2000.0,
                             std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 rng(8);
    for (const double scale : {1e-9, 1.0, 30.0, 999.0}) {
        std::uniform_real_distribution<double> u(-scale, scale);
        for (int i = 0; i < 20000; ++i) x.push_back(u(rng));
    }
    while (x.size() % 4 != 0) x.push_back(0.25);
    std::vector<double> y(x.size());
    exp2_lanes(x.data(), x.size(), y.data());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double want = std::exp2(x[i]);
        if (std::isnan(want) || std::isinf(want) || want == 0.0) {
            EXPECT_TRUE(std::isnan(want) ? std::isnan(y[i]) : y[i] == want) << x[i];
        } else {
            ASSERT_LE(ulps(y[i], want), 1.0) << x[i];
        }
    }
}

TEST(Log2Normal, WithinThreeUlpsOfTheCLibrary) {
    std::vector<double> x = {1.0, 2.0, 0.5, std::numbers::sqrt2, std::nextafter(std::numbers::sqrt2, 2.0), 1e-10,
                             std::numeric_limits<double>::min(), std::numeric_limits<double>::max()};
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> exponent(-200.0, 200.0);
    for (int i = 0; i < 80000; ++i) x.push_back(std::exp2(exponent(rng)));
    std::uniform_real_distribution<double> near_one(0.999, 1.001);
    for (int i = 0; i < 20000; ++i) x.push_back(near_one(rng));
    for (std::size_t i = 0; i + 4 <= x.size(); i += 4) {
        const simd::Quad v{x[i], x[i + 1], x[i + 2], x[i + 3]};
        simd::Quad r;
        log2_normal(v, r);
        for (int j = 0; j < 4; ++j) {
            const double want = std::log2(v[j]);
            ASSERT_TRUE(want == 0.0 ? r[j] == 0.0 : ulps(r[j], want) <= 3.0) << v[j];
        }
    }
}

}  // namespace
}  // namespace ostrel_mbe::common
