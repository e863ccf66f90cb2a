// SPDX-License-Identifier: GPL-2.0-or-later
// cos(w0 l) for l = 1..56 of a fundamental w0 (radians per sample), kept for every fundamental
// met before: a decoder meets the few hundred fundamentals its pitch table holds again and
// again, and the amplitude enhancement needs these cosines every frame.  Each row is computed
// once, by the same expression as without the table, so the values do not depend on it.
#pragma once

#include <array>

#include "mbe_params.h"

namespace ostrel_mbe::codecs::mbe_baseline {

// Entry l - 1 holds std::cos(double(omega0) * l).  The row lives as long as the process; the
// result is null (the caller computes the cosines itself) only while another thread is filling
// the row or when the table is crowded.  Safe to call from any number of threads.
const std::array<double, L_HAT_MAX>* harmonic_cosines(float omega0);

}  // namespace ostrel_mbe::codecs::mbe_baseline
