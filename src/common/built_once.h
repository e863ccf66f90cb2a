// SPDX-License-Identifier: GPL-2.0-or-later
// Shared read-only data computed at first use (tables that follow from a formula, FFT plans):
// Build runs once per process, under the thread-safe one-time guard of a function-local static
// (concurrent first callers wait for it), and every call returns the same object.  The one way
// the library builds such data; each table's accessor is a function returning built_once<build>().
#pragma once

namespace ostrel_mbe::common {

template <auto Build>
const auto& built_once() {
    static const auto value = Build();
    return value;
}

}  // namespace ostrel_mbe::common
