// SPDX-License-Identifier: GPL-2.0-or-later
// Two-lane double vectors (GCC's vector extension) for loops the compiler does not vectorise by
// itself: the width of the baseline x86-64 SIMD registers, lowered to whatever the target has,
// with the same operations in the same order on every target.  PairInMemory (QuadInMemory) is the
// same two (four) doubles at any 8-byte aligned address, allowed to alias plain double arrays.
#pragma once

#include <cstddef>

// Marks a function built twice, for AVX2 and for the baseline instruction set, with the build
// picked by an ifunc resolver when the library is loaded.  Only x86-64 has the clones: other
// targets (aarch64, whose baseline already has 128-bit NEON) build the baseline alone.
// ThreadSanitizer instruments that resolver, which the dynamic loader runs before the sanitizer's
// runtime exists, and the process dies before main: thread-sanitized builds keep the baseline
// build alone.  So do clang builds (the fuzz targets): clang 19 does not emit the template
// functions that only a cloned function instantiates, and the link fails.
#if !defined(__x86_64__)
#define OSTREL_NO_TARGET_CLONES 1
#elif defined(__clang__)
#define OSTREL_NO_TARGET_CLONES 1
#elif defined(__SANITIZE_THREAD__)
#define OSTREL_NO_TARGET_CLONES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OSTREL_NO_TARGET_CLONES 1
#endif
#endif
#ifdef OSTREL_NO_TARGET_CLONES
#define OSTREL_AVX2_CLONES
#else
#define OSTREL_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace ostrel_mbe::common::simd {

using Pair = double __attribute__((vector_size(2 * sizeof(double))));
// A typedef rather than an alias declaration: clang applies aligned(8) to the typedef only in
// this form (in the other it keeps the vector's 16 and an access at an 8-byte address is
// undefined behaviour), GCC in both.
// Two pairs in one four-lane vector: one 256-bit register on AVX2, two baseline registers (the
// same operations lane by lane) elsewhere.  Passed by reference only: by value its ABI differs
// between the two builds.
using Quad = double __attribute__((vector_size(4 * sizeof(double))));
inline Pair low_half(const Quad& q) { return Pair{q[0], q[1]}; }
inline Pair high_half(const Quad& q) { return Pair{q[2], q[3]}; }
typedef double PairInMemory __attribute__((vector_size(2 * sizeof(double)), aligned(8), may_alias));
static_assert(alignof(PairInMemory) == 8);

typedef double QuadInMemory __attribute__((vector_size(4 * sizeof(double)), aligned(8), may_alias));
static_assert(alignof(QuadInMemory) == 8);

inline PairInMemory& pair_at(double* p) { return *reinterpret_cast<PairInMemory*>(p); }
inline const PairInMemory& pair_at(const double* p) { return *reinterpret_cast<const PairInMemory*>(p); }
inline QuadInMemory& quad_at(double* p) { return *reinterpret_cast<QuadInMemory*>(p); }
inline const QuadInMemory& quad_at(const double* p) { return *reinterpret_cast<const QuadInMemory*>(p); }

}  // namespace ostrel_mbe::common::simd
