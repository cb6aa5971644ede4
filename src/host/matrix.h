#pragma once
// Typed containers of the signal chain: rows of doubles or complex doubles and a small
// column-major matrix. Host arrays are converted to and from these at the boundary.

#include <complex>
#include <cstddef>
#include <vector>

#include "host/sample_allocator.h"

namespace host {

using Complex = std::complex<double>;
using RealVector = std::vector<double>;
// Sample rows can be a whole frame long: they use the huge-page allocator.
using ComplexVector = std::vector<Complex, SampleAllocator<Complex>>;

template <class T>
class Matrix {
public:
    Matrix() = default;
    Matrix(std::size_t rows, std::size_t cols, T fill = T{}) : rows_(rows), cols_(cols), data_(rows * cols, fill) {}

    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    std::size_t size() const { return data_.size(); }

    T& operator()(std::size_t r, std::size_t c) { return data_[c * rows_ + r]; }
    const T& operator()(std::size_t r, std::size_t c) const { return data_[c * rows_ + r]; }

    // Elements in column-major order.
    using Storage = std::vector<T, SampleAllocator<T>>;
    Storage& data() { return data_; }
    const Storage& data() const { return data_; }

    std::vector<T> row(std::size_t r) const {
        std::vector<T> out(cols_);
        for (std::size_t c = 0; c < cols_; ++c) out[c] = (*this)(r, c);
        return out;
    }

    friend bool operator==(const Matrix&, const Matrix&) = default;

private:
    std::size_t rows_ = 0;
    std::size_t cols_ = 0;
    std::vector<T, SampleAllocator<T>> data_;
};

using RealMatrix = Matrix<double>;
using ComplexMatrix = Matrix<Complex>;

}  // namespace host
