// SPDX-License-Identifier: GPL-2.0-or-later
// The distance of a value from a reference in units in the last place of the reference, for the
// tests of the library's own math kernels against the C library.
#pragma once

#include <cmath>

namespace ostrel_mbe::common {

inline double ulps(double got, double want) {
    const double size = std::abs(want);
    return std::abs(got - want) / (std::nextafter(size, 2.0 * size + 1.0) - size);
}

}  // namespace ostrel_mbe::common
