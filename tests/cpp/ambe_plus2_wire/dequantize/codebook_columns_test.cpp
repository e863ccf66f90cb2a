// SPDX-License-Identifier: GPL-2.0-or-later
#include "ambe_plus2_wire/dequantize/codebook_columns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ambe_plus2_wire/ambe_plus2_tables.h"
#include "ambe_plus2_wire/dequantize/codebook_search.h"

namespace ostrel_mbe::ambe_plus2_wire::dequantize {
namespace {

// The column searches pick what the plain loops pick: on entries (a third of the targets), near
// them and far off.
TEST(AmbePlus2CodebookColumns, MatchesThePlainSearch) {
    const auto& prba24 = prba24_columns();
    const auto& prba58 = prba58_columns();
    std::mt19937 rng(23);
    std::normal_distribution<double> noise(0.0, 0.5);
    for (int n = 0; n < 3000; ++n) {
        const double s = n % 3 == 0 ? 0.0 : noise(rng) * (n % 2 == 0 ? 1.0 : 10.0);
        const auto& a = tables::PRBA24[rng() % 512];
        const std::array<double, 3> t3 = {a[0] + s, a[1] - s, a[2] + 0.5 * s};
        EXPECT_EQ(nearest_entry(prba24, t3), nearest_entry<3>(tables::PRBA24, t3));
        EXPECT_EQ((nearest_entries<4>(prba24, t3)), (nearest_entries<4, 3>(tables::PRBA24, t3)));
        const auto& b = tables::PRBA58[rng() % 128];
        const std::array<double, 4> t4 = {b[0] - s, b[1], b[2] + s, b[3] - 0.5 * s};
        EXPECT_EQ(nearest_entry(prba58, t4), nearest_entry<4>(tables::PRBA58, t4));
        EXPECT_EQ((nearest_entries<4>(prba58, t4)), (nearest_entries<4, 4>(tables::PRBA58, t4)));
    }
}

TEST(AmbePlus2CodebookColumns, HigherOrderBooksMatchThePlainSearch) {
    std::mt19937 rng(5);
    std::normal_distribution<double> x(0.0, 1.0);
    for (int n = 0; n < 500; ++n) {
        const std::array<double, 4> t = {x(rng), x(rng), x(rng), x(rng)};
        EXPECT_EQ(nearest_entry(hoc_b5_columns(), t), nearest_entry<4>(tables::HOC_B5, t));
        EXPECT_EQ(nearest_entry(hoc_b6_columns(), t), nearest_entry<4>(tables::HOC_B6, t));
        EXPECT_EQ(nearest_entry(hoc_b7_columns(), t), nearest_entry<4>(tables::HOC_B7, t));
        EXPECT_EQ(nearest_entry(hoc_b8_columns(), t), nearest_entry<4>(tables::HOC_B8, t));
        EXPECT_EQ((nearest_entries<3>(hoc_b5_columns(), t)), (nearest_entries<3, 4>(tables::HOC_B5, t)));
        EXPECT_EQ((nearest_entries<3>(hoc_b8_columns(), t)), (nearest_entries<3, 4>(tables::HOC_B8, t)));
    }
}

// Equal distances in different lanes go to the lower index, whatever the lane; NaN to entry 0.
TEST(AmbePlus2CodebookColumns, TiesAcrossLanesGoToTheLowerIndex) {
    std::array<std::array<float, 2>, 8> book{};
    for (std::size_t i = 0; i < book.size(); ++i) book[i] = {static_cast<float>(i) + 10.0f, 0.0f};
    book[6] = book[3] = {1.0f, 1.0f};
    book[5] = {1.0f, -1.0f};
    const auto columns = columns_of(book);
    EXPECT_EQ(nearest_entry(columns, {1.0, 1.0}), 3u);
    EXPECT_EQ(nearest_entry(columns, {1.0, 0.0}), 3u);
    EXPECT_EQ(nearest_entry(columns, {std::nan(""), 0.0}), 0u);
}

}  // namespace
}  // namespace ostrel_mbe::ambe_plus2_wire::dequantize
