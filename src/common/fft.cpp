// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/fft.h"

#include <fftw3.h>

#include <algorithm>
#include <mutex>

#include "common/built_once.h"
#include "common/check.h"

namespace ostrel_mbe::common::fft {
namespace {

// FFTW's planner keeps global state: every plan of ours is made under this lock.  Another
// component of the process (a second FFTW user, on a thread of its own now that the Python
// binding lets go of the interpreter lock) may plan at the same time without knowing our lock,
// so FFTW is also told to take its own lock around planning, once, before our first plan.
std::mutex& planner_lock() {
    static std::mutex lock;
    static const bool planner_thread_safe = [] {
        fftw_make_planner_thread_safe();
        return true;
    }();
    (void)planner_thread_safe;
    return lock;
}

struct ComplexPlans {
    fftw_plan forward_256;
    fftw_plan inverse_256;
    fftw_plan forward_512;
    fftw_plan inverse_512;
};

struct RealPlans {
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

// Real transforms planned out of place on fftw_malloc'd (SIMD-aligned) arrays: executing them
// needs buffers of the same alignment, which the 64-byte Aligned types guarantee.
fftw_plan make_real_plan(int n, bool forward) {
    double* real = fftw_alloc_real(static_cast<std::size_t>(n));
    fftw_complex* half = fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    fftw_plan plan = forward ? fftw_plan_dft_r2c_1d(n, real, half, FFTW_ESTIMATE)
                             : fftw_plan_dft_c2r_1d(n, half, real, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
    fftw_free(real);
    fftw_free(half);
    return plan;
}

ComplexPlans make_complex_plans() {
    const std::lock_guard<std::mutex> guard(planner_lock());
    return ComplexPlans{make_plan(256, FFTW_FORWARD), make_plan(256, FFTW_BACKWARD), make_plan(512, FFTW_FORWARD),
                        make_plan(512, FFTW_BACKWARD)};
}

RealPlans make_real_plans() {
    const std::lock_guard<std::mutex> guard(planner_lock());
    return RealPlans{make_real_plan(256, true), make_real_plan(256, false), make_real_plan(512, true),
                     make_real_plan(512, false)};
}

// The plans live for the whole process.  The complex plans, off the per-frame paths, are only
// made when first used.
const ComplexPlans& complex_plans() { return common::built_once<make_complex_plans>(); }
const RealPlans& real_plans() { return common::built_once<make_real_plans>(); }

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

template <std::size_t N>
void execute_forward_real(fftw_plan plan, const RealBuffer<N>& in, HalfSpectrum<N>& out) {
    // The out-of-place real-input plan leaves its input alone.
    fftw_execute_dft_r2c(plan, const_cast<double*>(in.data()), reinterpret_cast<fftw_complex*>(out.data()));
}

template <std::size_t N>
void execute_inverse_real(fftw_plan plan, HalfSpectrum<N>& in, RealBuffer<N>& out) {
    fftw_execute_dft_c2r(plan, reinterpret_cast<fftw_complex*>(in.data()), out.data());
}

}  // namespace

void forward_256(const Buffer<256>& in, Buffer<256>& out) { execute(complex_plans().forward_256, in, out); }
void inverse_256(const Buffer<256>& in, Buffer<256>& out) { execute(complex_plans().inverse_256, in, out); }
void forward_512(const Buffer<512>& in, Buffer<512>& out) { execute(complex_plans().forward_512, in, out); }
void inverse_512(const Buffer<512>& in, Buffer<512>& out) { execute(complex_plans().inverse_512, in, out); }

void forward_real_256(const RealBuffer<256>& in, HalfSpectrum<256>& out) {
    execute_forward_real<256>(real_plans().forward_256, in, out);
}
void forward_real_512(const RealBuffer<512>& in, HalfSpectrum<512>& out) {
    execute_forward_real<512>(real_plans().forward_512, in, out);
}
void inverse_real_256(HalfSpectrum<256>& in, RealBuffer<256>& out) {
    execute_inverse_real<256>(real_plans().inverse_256, in, out);
}
void inverse_real_512(HalfSpectrum<512>& in, RealBuffer<512>& out) {
    execute_inverse_real<512>(real_plans().inverse_512, in, out);
}

void cosine_transform_once(std::span<const double> in, std::span<double> out) {
    OSTREL_CHECK(in.size() >= 2 && in.size() == out.size(), "type-I cosine transform of matching sizes");
    const int n = static_cast<int>(in.size());
    double* a = fftw_alloc_real(in.size());
    double* b = fftw_alloc_real(in.size());
    {
        const std::lock_guard<std::mutex> guard(planner_lock());
        fftw_plan plan = fftw_plan_r2r_1d(n, a, b, FFTW_REDFT00, FFTW_ESTIMATE);
        std::copy(in.begin(), in.end(), a);
        fftw_execute(plan);
        fftw_destroy_plan(plan);
    }
    std::copy(b, b + n, out.begin());
    fftw_free(a);
    fftw_free(b);
}

}  // namespace ostrel_mbe::common::fft
