#include "host/array.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/error.h"

namespace host {

std::string_view className(ClassId id) {
    switch (id) {
    case ClassId::Double: return "double";
    case ClassId::Int8: return "int8";
    case ClassId::Uint8: return "uint8";
    case ClassId::Int32: return "int32";
    case ClassId::Char: return "char";
    case ClassId::Logical: return "logical";
    case ClassId::Struct: return "struct";
    case ClassId::Cell: return "cell";
    }
    return "unknown";
}

namespace {

std::size_t sizeOf(ClassId cls) {
    switch (cls) {
    case ClassId::Double: return sizeof(double);
    case ClassId::Int8: return sizeof(std::int8_t);
    case ClassId::Uint8: return sizeof(std::uint8_t);
    case ClassId::Int32: return sizeof(std::int32_t);
    case ClassId::Char: return sizeof(char);
    case ClassId::Logical: return sizeof(std::uint8_t);
    case ClassId::Struct:
    case ClassId::Cell: return 0;
    }
    return 0;
}

bool holdsBytes(ClassId cls) { return sizeOf(cls) > 0; }

std::size_t checkedCount(std::size_t rows, std::size_t cols) {
    // Refuse dimensions whose element count overflows rather than allocate garbage.
    if (cols != 0 && rows > SIZE_MAX / cols) throw Error("Maximum variable size allowed by the program is exceeded.");
    return rows * cols;
}

template <class T>
T readAs(const std::byte* base, std::size_t i) {
    T v;
    std::memcpy(&v, base + i * sizeof(T), sizeof(T));
    return v;
}

double readElement(ClassId cls, const std::byte* base, std::size_t i) {
    switch (cls) {
    case ClassId::Double: return readAs<double>(base, i);
    case ClassId::Int8: return readAs<std::int8_t>(base, i);
    case ClassId::Uint8: return readAs<std::uint8_t>(base, i);
    case ClassId::Int32: return readAs<std::int32_t>(base, i);
    case ClassId::Char: return static_cast<unsigned char>(readAs<char>(base, i));
    case ClassId::Logical: return readAs<std::uint8_t>(base, i) != 0 ? 1.0 : 0.0;
    default: throw Error("Element access on a struct or cell array.");
    }
}

// Conversion into an integer class saturates and rounds half away from zero, as the host does.
template <class T>
T saturate(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::round(v);
    if (r <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (r >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(r);
}

void writeElement(ClassId cls, std::byte* base, std::size_t i, double v) {
    auto put = [&](auto x) { std::memcpy(base + i * sizeof(x), &x, sizeof(x)); };
    switch (cls) {
    case ClassId::Double: put(v); break;
    case ClassId::Int8: put(saturate<std::int8_t>(v)); break;
    case ClassId::Uint8: put(saturate<std::uint8_t>(v)); break;
    case ClassId::Int32: put(saturate<std::int32_t>(v)); break;
    case ClassId::Char: put(static_cast<char>(saturate<std::uint8_t>(v))); break;
    case ClassId::Logical: put(static_cast<std::uint8_t>(v != 0 ? 1 : 0)); break;
    default: throw Error("Element access on a struct or cell array.");
    }
}

}  // namespace

Array::Array() = default;
Array::~Array() = default;
Array::Array(Array&& other) noexcept = default;
Array& Array::operator=(Array&& other) noexcept = default;

Array::Array(const Array& other)
    : cls_(other.cls_), rows_(other.rows_), cols_(other.cols_), complex_(other.complex_), re_(other.re_),
      imag_(other.imag_), fields_(other.fields_) {
    children_.reserve(other.children_.size());
    for (const auto& c : other.children_) children_.push_back(std::make_unique<Array>(*c));
}

Array& Array::operator=(const Array& other) {
    if (this != &other) {
        Array copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Array Array::numeric(ClassId cls, std::size_t rows, std::size_t cols, bool complex) {
    if (!holdsBytes(cls)) throw Error("Array::numeric: struct and cell arrays have their own constructors.");
    Array a;
    a.cls_ = cls;
    a.rows_ = rows;
    a.cols_ = cols;
    const std::size_t bytes = checkedCount(rows, cols) * sizeOf(cls);
    a.re_.assign(bytes, std::byte{0});
    // Only numeric classes carry an imaginary part; char and logical are always real.
    a.complex_ = complex && cls != ClassId::Char && cls != ClassId::Logical;
    if (a.complex_) a.imag_.assign(bytes, std::byte{0});
    return a;
}

Array Array::scalar(double value) {
    Array a = numeric(ClassId::Double, 1, 1);
    a.setReal(0, value);
    return a;
}

Array Array::complexScalar(std::complex<double> value) {
    Array a = numeric(ClassId::Double, 1, 1, true);
    a.setComplex(0, value);
    return a;
}

Array Array::logicalScalar(bool value) {
    Array a = numeric(ClassId::Logical, 1, 1);
    a.setReal(0, value ? 1.0 : 0.0);
    return a;
}

Array Array::int32Scalar(std::int32_t value) {
    Array a = numeric(ClassId::Int32, 1, 1);
    a.setReal(0, value);
    return a;
}

Array Array::string(std::string_view text) {
    Array a = numeric(ClassId::Char, text.empty() ? 0 : 1, text.size());
    if (!text.empty()) std::memcpy(a.re_.data(), text.data(), text.size());
    return a;
}

Array Array::row(std::span<const double> values) {
    Array a = numeric(ClassId::Double, 1, values.size());
    if (!values.empty()) std::memcpy(a.re_.data(), values.data(), values.size_bytes());
    return a;
}

Array Array::row(std::span<const std::complex<double>> values) {
    Array a = numeric(ClassId::Double, 1, values.size(), true);
    double* re = a.pr();
    double* im = a.pi();
    for (std::size_t i = 0; i < values.size(); ++i) {
        re[i] = values[i].real();
        im[i] = values[i].imag();
    }
    return a;
}

Array Array::column(std::span<const double> values) {
    Array a = row(values);
    a.reshape(values.size(), 1);
    return a;
}

Array Array::matrix(std::size_t rows, std::size_t cols, std::span<const double> columnMajor) {
    if (checkedCount(rows, cols) != columnMajor.size())
        throw Error("Array::matrix: " + std::to_string(columnMajor.size()) + " values do not fill a " +
                    std::to_string(rows) + " x " + std::to_string(cols) + " matrix.");
    Array a = numeric(ClassId::Double, rows, cols);
    if (!columnMajor.empty()) std::memcpy(a.re_.data(), columnMajor.data(), columnMajor.size_bytes());
    return a;
}

Array Array::structure(std::size_t rows, std::size_t cols) {
    Array a;
    a.cls_ = ClassId::Struct;
    a.rows_ = rows;
    a.cols_ = cols;
    checkedCount(rows, cols);
    return a;
}

Array Array::cell(std::size_t rows, std::size_t cols) {
    Array a;
    a.cls_ = ClassId::Cell;
    a.rows_ = rows;
    a.cols_ = cols;
    const std::size_t n = checkedCount(rows, cols);
    a.children_.reserve(n);
    for (std::size_t i = 0; i < n; ++i) a.children_.push_back(std::make_unique<Array>());
    return a;
}

bool Array::isNumeric() const {
    return cls_ == ClassId::Double || cls_ == ClassId::Int8 || cls_ == ClassId::Uint8 || cls_ == ClassId::Int32;
}

std::size_t Array::elementSize() const { return sizeOf(cls_); }

void Array::resize(std::size_t rows, std::size_t cols) {
    if (!holdsBytes(cls_)) throw Error("Array::resize: only numeric, char and logical arrays can be resized.");
    const std::size_t bytes = checkedCount(rows, cols) * sizeOf(cls_);
    re_.resize(bytes, std::byte{0});
    if (complex_) imag_.resize(bytes, std::byte{0});
    rows_ = rows;
    cols_ = cols;
}

void Array::reshape(std::size_t rows, std::size_t cols) {
    if (checkedCount(rows, cols) != numel())
        throw Error("To RESHAPE the number of elements must not change.");
    rows_ = rows;
    cols_ = cols;
}

double* Array::pr() {
    if (cls_ != ClassId::Double) throw Error("Array::pr: the array is " + std::string(className()) + ", not double.");
    return reinterpret_cast<double*>(re_.data());
}

const double* Array::pr() const { return const_cast<Array*>(this)->pr(); }

double* Array::pi() {
    if (cls_ != ClassId::Double) throw Error("Array::pi: the array is " + std::string(className()) + ", not double.");
    return imag_.empty() ? nullptr : reinterpret_cast<double*>(imag_.data());
}

const double* Array::pi() const { return const_cast<Array*>(this)->pi(); }

void Array::makeComplex() {
    if (!isNumeric()) throw Error("Array::makeComplex: only numeric arrays can be complex.");
    if (!complex_) {
        complex_ = true;
        imag_.assign(re_.size(), std::byte{0});
    }
}

void Array::dropZeroImag() {
    if (!complex_) return;
    for (std::size_t i = 0; i < numel(); ++i)
        if (imagAt(i) != 0.0) return;
    complex_ = false;
    imag_.clear();
}

void Array::checkIndex(std::size_t i) const {
    if (i >= numel()) throw Error(kIndexExceeds);
}

double Array::realAt(std::size_t i) const {
    checkIndex(i);
    return readElement(cls_, re_.data(), i);
}

double Array::imagAt(std::size_t i) const {
    checkIndex(i);
    return complex_ ? readElement(cls_, imag_.data(), i) : 0.0;
}

void Array::setReal(std::size_t i, double value) {
    checkIndex(i);
    writeElement(cls_, re_.data(), i, value);
}

void Array::setComplex(std::size_t i, std::complex<double> value) {
    checkIndex(i);
    if (value.imag() != 0.0) makeComplex();
    writeElement(cls_, re_.data(), i, value.real());
    if (complex_) writeElement(cls_, imag_.data(), i, value.imag());
}

std::string Array::text() const {
    if (cls_ != ClassId::Char) throw Error("Array::text: the array is " + std::string(className()) + ", not char.");
    return std::string(reinterpret_cast<const char*>(re_.data()), re_.size());
}

int Array::fieldIndex(std::string_view name) const {
    for (std::size_t f = 0; f < fields_.size(); ++f)
        if (fields_[f] == name) return static_cast<int>(f);
    return -1;
}

int Array::addField(std::string_view name) {
    if (cls_ != ClassId::Struct) throw Error("Array::addField: the array is not a struct.");
    const int existing = fieldIndex(name);
    if (existing >= 0) return existing;
    fields_.emplace_back(name);
    for (std::size_t e = 0; e < numel(); ++e) children_.push_back(std::make_unique<Array>());
    return static_cast<int>(fields_.size() - 1);
}

void Array::removeField(std::string_view name) {
    const int f = fieldIndex(name);
    if (f < 0) return;
    const auto first = children_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(f) * numel());
    children_.erase(first, first + static_cast<std::ptrdiff_t>(numel()));
    fields_.erase(fields_.begin() + f);
}

std::size_t Array::childIndex(int field, std::size_t element) const {
    if (field < 0 || static_cast<std::size_t>(field) >= fields_.size()) throw Error("Reference to non-existent field.");
    checkIndex(element);
    return static_cast<std::size_t>(field) * numel() + element;
}

Array& Array::fieldAt(int f, std::size_t element) { return *children_[childIndex(f, element)]; }
const Array& Array::fieldAt(int f, std::size_t element) const { return *children_[childIndex(f, element)]; }

const Array* Array::findField(std::string_view name, std::size_t element) const {
    if (cls_ != ClassId::Struct || element >= numel()) return nullptr;
    const int f = fieldIndex(name);
    return f < 0 ? nullptr : &fieldAt(f, element);
}

Array* Array::findField(std::string_view name, std::size_t element) {
    return const_cast<Array*>(static_cast<const Array*>(this)->findField(name, element));
}

const Array& Array::field(std::string_view name, std::size_t element) const {
    if (cls_ != ClassId::Struct) throw Error("Attempt to reference field of non-structure array.");
    const Array* a = findField(name, element);
    if (!a) throw Error("Reference to non-existent field '" + std::string(name) + "'.");
    return *a;
}

Array& Array::field(std::string_view name, std::size_t element) {
    return const_cast<Array&>(static_cast<const Array*>(this)->field(name, element));
}

void Array::setField(std::string_view name, Array value, std::size_t element) {
    const int f = addField(name);
    fieldAt(f, element) = std::move(value);
}

Array& Array::cellAt(std::size_t i) {
    if (cls_ != ClassId::Cell) throw Error("Cell contents reference from a non-cell array object.");
    checkIndex(i);
    return *children_[i];
}

const Array& Array::cellAt(std::size_t i) const { return const_cast<Array*>(this)->cellAt(i); }

bool operator==(const Array& a, const Array& b) {
    if (a.cls_ != b.cls_ || a.rows_ != b.rows_ || a.cols_ != b.cols_) return false;
    if (a.cls_ == ClassId::Struct || a.cls_ == ClassId::Cell) {
        if (a.fields_ != b.fields_ || a.children_.size() != b.children_.size()) return false;
        for (std::size_t i = 0; i < a.children_.size(); ++i)
            if (!(*a.children_[i] == *b.children_[i])) return false;
        return true;
    }
    // Compare values, not bytes, so that +0 equals -0 and NaN differs from everything.
    for (std::size_t i = 0; i < a.numel(); ++i)
        if (a.realAt(i) != b.realAt(i) || a.imagAt(i) != b.imagAt(i)) return false;
    return true;
}

}  // namespace host
