#pragma once
// Conversions between host arrays and the typed containers of the signal chain. Every
// conversion names the function and argument in its error, so that a caller who passed a
// struct where a row of bits belongs reads exactly that.

#include <string_view>

#include "host/array.h"
#include "host/matrix.h"

namespace host {

// The most elements a function will build into one result: far above the largest frame
// (983040 samples) and small enough that a mistyped count is refused, not allocated.
inline constexpr long long kMaxElements = 1LL << 26;

// Where a value came from, for messages: function "OneX_Repeat", argument "factor".
struct ArgName {
    std::string_view function;
    std::string_view argument;
};

// Elements in linear order. Numeric and logical arrays are accepted; a complex array is
// refused by the real conversions.
RealVector realVector(const Array& a, ArgName name);
ComplexVector complexVector(const Array& a, ArgName name);
RealMatrix realMatrix(const Array& a, ArgName name);
ComplexMatrix complexMatrix(const Array& a, ArgName name);
double realScalar(const Array& a, ArgName name);
// A real scalar that must be a whole number within [low, high].
long long integerScalar(const Array& a, ArgName name, long long low, long long high);

// A wanted length, as the host's colon ranges read one: rounded down, 0 when negative;
// NaN or more than kMaxElements is refused.
std::size_t lengthScalar(const Array& a, ArgName name);

// Host arrays from typed results. Complex results whose imaginary parts are all zero come
// back real, as the host's arithmetic returns them.
Array toRow(std::span<const double> v);
Array toRow(std::span<const Complex> v);
Array toArray(const RealMatrix& m);
Array toArray(const ComplexMatrix& m);

// Applies a typed operation that works alike on real and complex elements (repetition,
// rotation, truncation): `op` gets a RealVector, or a ComplexVector when `a` is complex,
// and its result comes back as a host row.
template <class Op>
Array applyToElements(const Array& a, ArgName name, Op&& op) {
    if (a.isComplex()) return toRow(op(complexVector(a, name)));
    return toRow(op(realVector(a, name)));
}

}  // namespace host
