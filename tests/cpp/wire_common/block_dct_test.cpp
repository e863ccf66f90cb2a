// SPDX-License-Identifier: GPL-2.0-or-later
// The block DCT at both precisions the wires use: 32-bit up to length 10 (full rate), 64-bit
// up to length 17 (half rate).
#include "wire_common/block_dct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace ostrel_mbe::wire_common::block_dct {
namespace {

template <class T, std::size_t N>
struct Precision {
    using Float = T;
    static constexpr std::size_t MAX_N = N;
    static constexpr double TOLERANCE = sizeof(T) == 4 ? 1e-5 : 1e-12;
};

template <class P>
class BlockDct : public testing::Test {};
using Precisions = testing::Types<Precision<float, 10>, Precision<double, 17>>;
TYPED_TEST_SUITE(BlockDct, Precisions);

TYPED_TEST(BlockDct, CosineTablesAreOrthogonalBasesBuiltOnce) {
    using T = typename TypeParam::Float;
    constexpr std::size_t max_n = TypeParam::MAX_N;
    for (std::size_t n = 0; n <= max_n; ++n) {
        const auto& t = cosines<T, max_n>(n);
        for (std::size_t k = 0; k < max_n; ++k) {
            for (std::size_t m = 0; m < max_n; ++m) {
                if (k >= n || m >= n) {
                    EXPECT_EQ(t[k][m], T(0)) << "outside the n x n table, n " << n;
                    continue;
                }
                double dot = 0.0;
                for (std::size_t j = 0; j < n; ++j) dot += double(t[k][j]) * double(t[m][j]);
                const double expected = k != m ? 0.0 : (k == 0 ? double(n) : double(n) / 2.0);
                EXPECT_NEAR(dot, expected, TypeParam::TOLERANCE) << "n " << n << " k " << k << " m " << m;
            }
            if (k < n) {
                const double angle = double(k) * std::numbers::pi * 0.5 / double(n);
                EXPECT_NEAR(t[k][0], std::cos(angle), TypeParam::TOLERANCE) << "n " << n << " k " << k;
            }
        }
    }
    const auto* first = &cosines<T, max_n>(7);
    const auto* again = &cosines<T, max_n>(7);
    EXPECT_EQ(first, again) << "one shared table";
}

TYPED_TEST(BlockDct, ForwardThenInverseRestoresEveryLength) {
    using T = typename TypeParam::Float;
    constexpr std::size_t max_n = TypeParam::MAX_N;
    const unsigned seed = 17;
    std::mt19937 rng(seed);
    std::normal_distribution<T> dist(T(0), T(3));
    for (std::size_t n = 1; n <= max_n; ++n) {
        std::vector<T> x(n), c(n), back(n);
        for (T& v : x) v = dist(rng);
        forward<T, max_n>(x, c);
        double mean = 0.0;
        for (T v : x) mean += double(v);
        EXPECT_NEAR(c[0], mean / double(n), TypeParam::TOLERANCE) << "the first coefficient is the mean";
        inverse<T, max_n>(c, back);
        for (std::size_t j = 0; j < n; ++j) EXPECT_NEAR(back[j], x[j], 10 * TypeParam::TOLERANCE) << "seed " << seed;
    }
}

}  // namespace
}  // namespace ostrel_mbe::wire_common::block_dct
