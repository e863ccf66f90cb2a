// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/fft.h"

#include <fftw3.h>

namespace ostrel_mbe::common::fft {
namespace {

struct Plans {
    fftw_plan forward_256;
    fftw_plan inverse_256;
    fftw_plan forward_512;
    fftw_plan inverse_512;
};

fftw_plan make_plan(int n, int sign) {
    // Planned on scratch arrays with FFTW_UNALIGNED so that execution on any caller buffer
    // (stack arrays included) is valid with fftw_execute_dft.
    fftw_complex* in = fftw_alloc_complex(static_cast<std::size_t>(n));
    fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(n));
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, sign, FFTW_ESTIMATE | FFTW_UNALIGNED);
    fftw_free(in);
    fftw_free(out);
    return plan;
}

const Plans& plans() {
    // A function-local static is initialised exactly once, thread-safely; our planner calls
    // run only here.  The plans live for the whole process.
    static const Plans shared = [] {
        // Another component of the process (a second FFTW user, on a thread of its own once
        // the Python binding lets go of the interpreter lock) may plan while we do: FFTW's
        // planner is shared process-wide and only takes a lock when told to.
        fftw_make_planner_thread_safe();
        return Plans{
            make_plan(256, FFTW_FORWARD),
            make_plan(256, FFTW_BACKWARD),
            make_plan(512, FFTW_FORWARD),
            make_plan(512, FFTW_BACKWARD),
        };
    }();
    return shared;
}

template <std::size_t N>
void execute(fftw_plan plan, const Buffer<N>& in, Buffer<N>& out) {
    // fftw_execute_dft does not modify the input of an out-of-place plan, and in-place use is
    // allowed for plans created with distinct arrays only when in == out is supported; copy
    // to keep the call valid for both aliasing and non-aliasing callers.
    if (&in == &out) {
        Buffer<N> tmp = in;
        fftw_execute_dft(plan, reinterpret_cast<fftw_complex*>(tmp.data()),
                         reinterpret_cast<fftw_complex*>(out.data()));
        return;
    }
    fftw_execute_dft(plan, reinterpret_cast<fftw_complex*>(const_cast<std::complex<double>*>(in.data())),
                     reinterpret_cast<fftw_complex*>(out.data()));
}

}  // namespace

void forward_256(const Buffer<256>& in, Buffer<256>& out) { execute(plans().forward_256, in, out); }
void inverse_256(const Buffer<256>& in, Buffer<256>& out) { execute(plans().inverse_256, in, out); }
void forward_512(const Buffer<512>& in, Buffer<512>& out) { execute(plans().forward_512, in, out); }
void inverse_512(const Buffer<512>& in, Buffer<512>& out) { execute(plans().inverse_512, in, out); }

}  // namespace ostrel_mbe::common::fft
