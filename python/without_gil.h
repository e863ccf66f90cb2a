// SPDX-License-Identifier: GPL-2.0-or-later
// Running the C++ work of a call with the interpreter lock released.  A binding converts its
// arguments first (copying what Python code could change meanwhile), runs the work through
// without_gil, and builds the Python results after: the work must neither touch Python objects
// nor raise, it returns plain values (errors included, as std::expected).  The library objects
// are bound to the thread that created them (ThreadBound), so no object is ever used by two
// threads at once, while channels owned by different threads run in parallel.
//
// The library reads the process environment when a channel is reset and before its first
// unvoiced synthesis after construction or reset ("OSTREL_LCG_INIT"): the bindings keep the
// lock for those calls (Vocoder::decode_reads_environment), so os.environ never changes under
// a read.
//
// Exit: once the interpreter finalizes, CPython ends every thread that asks for the lock back
// by unwinding it (pthread_exit), and that unwinding through the binding's noexcept frames
// aborts the process.  So an atexit hook, run while the interpreter is still whole, closes a
// gate: later calls keep the lock throughout, and a thread whose released work ends after the
// gate closed never asks for the lock again but sleeps until the process ends.
#pragma once

#include <Python.h>

#include <utility>

#include <nanobind/nanobind.h>

namespace ostrel_mbe::python {

namespace exit_gate {

// With the lock held: true while calls may release the lock; then counts the caller as one
// about to release it.
bool enter();
// With the lock released: lets a thread go back for the lock, or, once the gate has closed,
// parks it for good.
void pass_or_park();
// With the lock held again after pass_or_park.
void passed();
// Registers the atexit hook that closes the gate.
void install();

}  // namespace exit_gate

// Runs work() without the interpreter lock, or with it when `release` is false (a call that
// reads the environment) or the interpreter is shutting down.
template <class Work>
decltype(auto) without_gil(Work&& work, bool release = true) {
    if (!release || !exit_gate::enter()) return std::forward<Work>(work)();
    struct Released {
        PyThreadState* thread = PyEval_SaveThread();
        ~Released() {
            exit_gate::pass_or_park();
            PyEval_RestoreThread(thread);
            exit_gate::passed();
        }
    } released;
    return std::forward<Work>(work)();
}

}  // namespace ostrel_mbe::python
