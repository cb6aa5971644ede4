#pragma once
// Discrete Fourier transforms of whole waveforms on FFTW: aligned buffers that need no
// clearing, and plans kept per length and direction, shared by the plots and the analysis.

#include <fftw3.h>

#include <climits>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "host/error.h"
#include "host/matrix.h"
#include "host/sample_allocator.h"

namespace host::fft {

enum class Direction { Forward, Backward };

// Storage for FFTW to read and write, left uninitialised: a transform overwrites all of it,
// and clearing a frame-sized buffer first would cost as much as the transform. Plans are
// made on SIMD-aligned arrays, so every array they later run on must be aligned the same
// way: large buffers come from the sample cache (2 MiB aligned, and reused without fresh
// page faults on every plot), small ones from fftw_malloc.
class FftBuffer {
public:
    explicit FftBuffer(std::size_t n) : size_(n) {
        if (n == 0) return;
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(Complex)) throw std::bad_array_new_length();
        void* p = bytes() >= host::kLargeBufferBytes ? host::allocateSamples(bytes()) : fftw_malloc(bytes());
        if (!p) throw std::bad_alloc();
        data_ = static_cast<Complex*>(p);
    }
    ~FftBuffer() {
        if (!data_) return;
        if (bytes() >= host::kLargeBufferBytes)
            host::releaseSamples(data_, bytes());
        else
            fftw_free(data_);
    }
    FftBuffer(const FftBuffer&) = delete;
    FftBuffer& operator=(const FftBuffer&) = delete;

    Complex* data() { return data_; }
    const Complex* data() const { return data_; }
    Complex* begin() { return data_; }
    Complex* end() { return data_ + size_; }
    const Complex& operator[](std::size_t k) const { return data_[k]; }

private:
    std::size_t bytes() const { return size_ * sizeof(Complex); }
    Complex* data_ = nullptr;
    std::size_t size_ = 0;
};

inline fftw_complex* asFftw(const Complex* p) {
    // The input is never written: plans are made with FFTW_PRESERVE_INPUT.
    return reinterpret_cast<fftw_complex*>(const_cast<Complex*>(p));
}

inline bool fftAligned(const Complex* p) { return fftw_alignment_of(reinterpret_cast<double*>(asFftw(p))) == 0; }

// An unnormalised transform of one length and direction. Made and destroyed only under the plan
// cache's lock: FFTW's planner is not thread-safe, while running a plan is.
class FftPlan {
public:
    FftPlan(std::size_t n, Direction direction) {
        if (n > static_cast<std::size_t>(INT_MAX)) throw host::Error("Waveform too long to transform: " + std::to_string(n) + " samples.");
        FftBuffer in(n), out(n);
        // ESTIMATE: measuring would take seconds at a frame's length and overwrite the arrays.
        plan_ = fftw_plan_dft_1d(static_cast<int>(n), asFftw(in.data()), asFftw(out.data()), direction == Direction::Forward ? FFTW_FORWARD : FFTW_BACKWARD,
                                 FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
        if (!plan_) throw host::Error("FFTW could not plan a transform of " + std::to_string(n) + " points.");
    }
    ~FftPlan() { fftw_destroy_plan(plan_); }
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;

    // Both arrays FFT-aligned, distinct, and as long as the plan.
    void run(const Complex* in, Complex* out) const { fftw_execute_dft(plan_, asFftw(in), asFftw(out)); }

private:
    fftw_plan plan_ = nullptr;
};

using SharedPlan = std::shared_ptr<const FftPlan>;


// The plan for n points, made on first use (thread-safe).
SharedPlan plan(std::size_t n, Direction direction);

// The whole waveform's forward transform into `out` (as long as the waveform). A waveform in
// an aligned buffer (any frame-sized one) is read in place; only a small, unaligned one is
// copied.
void transform(const ComplexVector& x, FftBuffer& out);

}  // namespace host::fft
