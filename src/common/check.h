// SPDX-License-Identifier: GPL-2.0-or-later
// Always-on internal invariant check.  Valid input never reaches a failing check; if one does
// fail, the process says which check (its condition, its text, file and line) on stderr and
// aborts rather than continue with corrupted state.  The only output the library ever writes.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace ostrel_mbe::common {

[[noreturn, gnu::cold, gnu::noinline]] inline void check_failed(const char* condition, const char* text,
                                                                const char* file, int line) noexcept {
    std::fprintf(stderr, "ostrel_mbe: internal check failed: %s (%s) at %s:%d\n", condition, text, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace ostrel_mbe::common

#define OSTREL_CHECK(condition, text)                                                           \
    do {                                                                                        \
        if (!(condition)) ::ostrel_mbe::common::check_failed(#condition, text, __FILE__, __LINE__); \
    } while (false)
