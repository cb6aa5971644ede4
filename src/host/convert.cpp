#include "host/convert.h"

#include <cmath>
#include <string>

#include "host/error.h"

namespace host {

namespace {

std::string prefix(ArgName name) {
    return std::string(name.function) + ": " + std::string(name.argument);
}

void requireNumeric(const Array& a, ArgName name) {
    if (!a.isNumeric() && !a.isLogical())
        throw Error(prefix(name) + " must be numeric, not " + std::string(a.className()) + ".");
}

void requireReal(const Array& a, ArgName name) {
    requireNumeric(a, name);
    if (a.isComplex()) throw Error(prefix(name) + " must be real, not complex.");
}

}  // namespace

RealVector realVector(const Array& a, ArgName name) {
    requireReal(a, name);
    RealVector v(a.numel());
    if (a.isDouble()) {
        const double* p = a.pr();
        v.assign(p, p + a.numel());
    } else {
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = a.realAt(i);
    }
    return v;
}

ComplexVector complexVector(const Array& a, ArgName name) {
    requireNumeric(a, name);
    ComplexVector v(a.numel());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = a.complexAt(i);
    return v;
}

RealMatrix realMatrix(const Array& a, ArgName name) {
    RealMatrix m(a.rows(), a.cols());
    const RealVector v = realVector(a, name);
    m.data().assign(v.begin(), v.end());
    return m;
}

ComplexMatrix complexMatrix(const Array& a, ArgName name) {
    ComplexMatrix m(a.rows(), a.cols());
    m.data() = complexVector(a, name);
    return m;
}

double realScalar(const Array& a, ArgName name) {
    requireReal(a, name);
    if (a.numel() != 1)
        throw Error(prefix(name) + " must be a scalar, not " + std::to_string(a.rows()) + " x " +
                    std::to_string(a.cols()) + ".");
    return a.realAt(0);
}

long long integerScalar(const Array& a, ArgName name, long long low, long long high) {
    const double v = realScalar(a, name);
    if (!std::isfinite(v) || v != std::floor(v) || v < static_cast<double>(low) || v > static_cast<double>(high))
        throw Error(prefix(name) + " must be a whole number from " + std::to_string(low) + " to " +
                    std::to_string(high) + ".");
    return static_cast<long long>(v);
}

std::size_t lengthScalar(const Array& a, ArgName name) {
    const double v = realScalar(a, name);
    if (std::isnan(v) || v > static_cast<double>(kMaxElements))
        throw Error(prefix(name) + " must be a length from 0 to " + std::to_string(kMaxElements) + ".");
    return v <= 0 ? 0 : static_cast<std::size_t>(std::floor(v));
}

Array toRow(std::span<const double> v) { return Array::row(v); }

Array toRow(std::span<const Complex> v) {
    Array a = Array::row(v);
    a.dropZeroImag();
    return a;
}

Array toArray(const RealMatrix& m) { return Array::matrix(m.rows(), m.cols(), m.data()); }

Array toArray(const ComplexMatrix& m) {
    Array a = Array::numeric(ClassId::Double, m.rows(), m.cols(), true);
    double* re = a.pr();
    double* im = a.pi();
    for (std::size_t i = 0; i < m.size(); ++i) {
        re[i] = m.data()[i].real();
        im[i] = m.data()[i].imag();
    }
    a.dropZeroImag();
    return a;
}

}  // namespace host
