// SPDX-License-Identifier: GPL-2.0-or-later
// Always-on internal invariant check.  Valid input never reaches a failing check; if one
// does fail the process aborts rather than continue with corrupted state.
#pragma once

#include <cstdlib>

#define OSTREL_CHECK(condition, text) \
    do {                              \
        if (!(condition)) {           \
            (void)(text);             \
            std::abort();             \
        }                             \
    } while (false)
