// SPDX-License-Identifier: GPL-2.0-or-later
// Two-lane double vectors (GCC's vector extension) for loops the compiler does not vectorise by
// itself: the width of the baseline x86-64 SIMD registers, lowered to whatever the target has,
// with the same operations in the same order on every target.  PairInMemory is the same two
// doubles at any 8-byte aligned address, allowed to alias plain double arrays.
#pragma once

#include <cstddef>

namespace ostrel_mbe::common::simd {

using Pair = double __attribute__((vector_size(2 * sizeof(double))));
using PairInMemory = double __attribute__((vector_size(2 * sizeof(double)), aligned(8), may_alias));

inline PairInMemory& pair_at(double* p) { return *reinterpret_cast<PairInMemory*>(p); }
inline const PairInMemory& pair_at(const double* p) { return *reinterpret_cast<const PairInMemory*>(p); }

}  // namespace ostrel_mbe::common::simd
