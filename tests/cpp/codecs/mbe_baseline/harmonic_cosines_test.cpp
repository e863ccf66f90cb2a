// SPDX-License-Identifier: GPL-2.0-or-later
#include "codecs/mbe_baseline/harmonic_cosines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace ostrel_mbe::codecs::mbe_baseline {
namespace {

// Rows hold exactly what cos gives, whether a call fills the row or finds it, from any thread;
// more fundamentals than the table keeps still get their cosines from the caller.
TEST(HarmonicCosines, RowsAreTheCosinesFromAnyThread) {
    const auto check = [](unsigned seed) {
        for (unsigned i = 0; i < 700; ++i) {
            const float omega0 = 0.05f + 0.0041f * static_cast<float>((i * 7 + seed) % 700);
            const std::array<double, L_HAT_MAX>* row = harmonic_cosines(omega0);
            if (row == nullptr) continue;
            for (std::size_t l = 1; l <= L_HAT_MAX; ++l) {
                ASSERT_EQ((*row)[l - 1], std::cos(static_cast<double>(omega0) * static_cast<double>(l))) << omega0;
            }
            EXPECT_EQ(harmonic_cosines(omega0), row);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) threads.emplace_back(check, t);
    for (auto& thread : threads) thread.join();
}

}  // namespace
}  // namespace ostrel_mbe::codecs::mbe_baseline
