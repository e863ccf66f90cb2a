// SPDX-License-Identifier: GPL-2.0-or-later
#include "without_gil.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace ostrel_mbe::python::exit_gate {

namespace {

// All guarded by gate_mutex.
std::mutex gate_mutex;
bool closing = false;
int released = 0;   // threads that released the lock and have not taken it back
int returning = 0;  // of those, the ones past the gate, waiting for the lock

[[noreturn]] void park() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// The atexit hook.  Threads already past the gate are let in before it returns: finalization
// must not begin while one of them still waits for the lock.  Threads still running at this
// point (daemon threads, the ones left in their work included) keep the objects they hold for
// good, which nanobind would report as leaks of the binding.
void close() {
    {
        const std::lock_guard lock(gate_mutex);
        closing = true;
    }
    for (;;) {
        {
            const std::lock_guard lock(gate_mutex);
            if (returning == 0) {
                const auto threads = nanobind::module_::import_("threading").attr("active_count")();
                if (released > 0 || nanobind::cast<int>(threads) > 1) nanobind::set_leak_warnings(false);
                return;
            }
        }
        Py_BEGIN_ALLOW_THREADS
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Py_END_ALLOW_THREADS
    }
}

}  // namespace

bool enter() {
    const std::lock_guard lock(gate_mutex);
    if (closing) return false;
    ++released;
    return true;
}

void pass_or_park() {
    std::unique_lock lock(gate_mutex);
    if (closing) {
        lock.unlock();
        park();
    }
    ++returning;
}

void passed() {
    const std::lock_guard lock(gate_mutex);
    --returning;
    --released;
}

void install() {
    nanobind::module_::import_("atexit").attr("register")(nanobind::cpp_function(&close));
}

}  // namespace ostrel_mbe::python::exit_gate
