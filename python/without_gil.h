// SPDX-License-Identifier: GPL-2.0-or-later
// Running the C++ work of a call with the interpreter lock released.  A binding converts its
// arguments first (copying what Python code could change meanwhile), runs the work through
// without_gil, and builds the Python results after: the work must neither touch Python objects
// nor raise, it returns plain values (errors included, as std::expected).  The library objects
// are bound to the thread that created them (ThreadBound), so no object is ever used by two
// threads at once, while channels owned by different threads run in parallel.
#pragma once

#include <utility>

#include <nanobind/nanobind.h>

namespace ostrel_mbe::python {

template <class Work>
decltype(auto) without_gil(Work&& work) {
    nanobind::gil_scoped_release released;
    return std::forward<Work>(work)();
}

// The same, unless `release` is false (work that must read process state Python code may be
// changing, such as the environment, keeps the lock).
template <class Work>
decltype(auto) without_gil_if(bool release, Work&& work) {
    if (!release) return std::forward<Work>(work)();
    return without_gil(std::forward<Work>(work));
}

}  // namespace ostrel_mbe::python
