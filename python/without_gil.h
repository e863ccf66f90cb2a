// SPDX-License-Identifier: GPL-2.0-or-later
// Running the C++ work of a call with the interpreter lock released.  A binding converts its
// arguments first (copying what Python code could change meanwhile), runs the work through
// without_gil, and builds the Python results after: the work must neither touch Python objects
// nor raise, it returns plain values (errors included, as std::expected).  The library objects
// are bound to the thread that created them (ThreadBound), so no object is ever used by two
// threads at once, while channels owned by different threads run in parallel.  The library
// reads the process environment only when a channel is constructed or reset, which the
// bindings do with the lock held, so os.environ never changes under a read.
#pragma once

#include <utility>

#include <nanobind/nanobind.h>

namespace ostrel_mbe::python {

template <class Work>
decltype(auto) without_gil(Work&& work) {
    nanobind::gil_scoped_release released;
    return std::forward<Work>(work)();
}

}  // namespace ostrel_mbe::python
