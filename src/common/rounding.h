// SPDX-License-Identifier: GPL-2.0-or-later
// floor and ceil for values about to become integers, without a library call: the baseline
// x86-64 target has no rounding instruction, so std::floor is a call, and a call makes the
// compiler spill every live floating-point register around it (an accumulator in a hot loop
// then lives on the stack).  Exact for every double; only the sign of a zero result may differ
// from std::floor / std::ceil, which no integer conversion sees.
#pragma once

#include <cmath>

namespace ostrel_mbe::common {

inline double floor_for_index(double x) {
    // |x| >= 2^52 (and infinity) is already whole; NaN falls through unchanged as well.
    if (!(std::fabs(x) < 4503599627370496.0)) return x;
    const auto t = static_cast<double>(static_cast<long long>(x));  // toward zero
    return t > x ? t - 1.0 : t;
}

inline double ceil_for_index(double x) {
    if (!(std::fabs(x) < 4503599627370496.0)) return x;
    const auto t = static_cast<double>(static_cast<long long>(x));
    return t < x ? t + 1.0 : t;
}

}  // namespace ostrel_mbe::common
