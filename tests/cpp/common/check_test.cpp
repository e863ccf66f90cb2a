// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/check.h"

#include <gtest/gtest.h>

namespace ostrel_mbe::common {
namespace {

int checked_half(int even) {
    OSTREL_CHECK(even % 2 == 0, "halved values are even");
    return even / 2;
}

TEST(CheckDeathTest, FailedCheckNamesConditionTextFileAndLine) {
    EXPECT_EQ(checked_half(4), 2);
    EXPECT_DEATH(checked_half(3),
                 "internal check failed: even % 2 == 0 \\(halved values are even\\) at .*check_test\\.cpp:[0-9]+");
}

}  // namespace
}  // namespace ostrel_mbe::common
