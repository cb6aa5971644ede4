#pragma once
// host::Array: the one value type that records, files, the function table and the
// extension interface pass around. Column-major, two-dimensional, with an optional
// imaginary part for numeric classes, ordered fields for structs and elements for cells.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/sample_allocator.h"

namespace host {

enum class ClassId { Double, Int8, Uint8, Int32, Char, Logical, Struct, Cell };

// Name of a class as the host spells it ("double", "int8", ... "struct", "cell").
std::string_view className(ClassId id);

class Array {
public:
    // An empty 0 x 0 double, the host's [].
    Array();
    Array(const Array& other);
    Array(Array&& other) noexcept;
    Array& operator=(const Array& other);
    Array& operator=(Array&& other) noexcept;
    ~Array();

    // --- construction -------------------------------------------------------------
    static Array numeric(ClassId cls, std::size_t rows, std::size_t cols, bool complex = false);
    static Array zeros(std::size_t rows, std::size_t cols) { return numeric(ClassId::Double, rows, cols); }
    static Array scalar(double value);
    static Array complexScalar(std::complex<double> value);
    static Array logicalScalar(bool value);
    static Array int32Scalar(std::int32_t value);
    static Array string(std::string_view text);  // 1 x n char; "" gives 0 x 0
    static Array row(std::span<const double> values);
    static Array row(std::span<const std::complex<double>> values);  // always complex
    static Array column(std::span<const double> values);
    static Array matrix(std::size_t rows, std::size_t cols, std::span<const double> columnMajor);
    static Array structure(std::size_t rows = 1, std::size_t cols = 1);
    static Array cell(std::size_t rows, std::size_t cols);

    // --- shape and class ----------------------------------------------------------
    ClassId classId() const { return cls_; }
    std::string_view className() const { return host::className(cls_); }
    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    std::size_t numel() const { return rows_ * cols_; }
    bool isEmpty() const { return numel() == 0; }
    bool isScalar() const { return numel() == 1; }
    bool isVector() const { return rows_ == 1 || cols_ == 1; }
    bool isComplex() const { return complex_; }
    bool isNumeric() const;  // double, int8, uint8, int32
    bool isDouble() const { return cls_ == ClassId::Double; }
    bool isChar() const { return cls_ == ClassId::Char; }
    bool isLogical() const { return cls_ == ClassId::Logical; }
    bool isStruct() const { return cls_ == ClassId::Struct; }
    bool isCell() const { return cls_ == ClassId::Cell; }
    std::size_t elementSize() const;

    // Changes the dimensions of a numeric, char or logical array; new elements are zero.
    // The linear (column-major) order of kept elements is preserved.
    void resize(std::size_t rows, std::size_t cols);
    // Reinterprets the dimensions without touching the data; rows * cols must equal numel().
    void reshape(std::size_t rows, std::size_t cols);

    // --- numeric data -------------------------------------------------------------
    // Raw storage of the real and imaginary parts in the class's native element type.
    void* realData() { return re_.data(); }
    const void* realData() const { return re_.data(); }
    void* imagData() { return imag_.empty() ? nullptr : imag_.data(); }
    const void* imagData() const { return imag_.empty() ? nullptr : imag_.data(); }
    // Typed views of a double array (the class must be double).
    double* pr();
    const double* pr() const;
    double* pi();  // nullptr when the array is real
    const double* pi() const;
    // Adds a zero imaginary part to a numeric array (no-op when already complex).
    void makeComplex();
    // Drops an imaginary part that is all zero (the host keeps such results real).
    void dropZeroImag();

    // Element i (column-major) of any numeric, char or logical array as a double.
    double realAt(std::size_t i) const;
    double imagAt(std::size_t i) const;
    std::complex<double> complexAt(std::size_t i) const { return {realAt(i), imagAt(i)}; }
    void setReal(std::size_t i, double value);
    void setComplex(std::size_t i, std::complex<double> value);

    // The characters of a char array in linear order.
    std::string text() const;

    // --- struct -------------------------------------------------------------------
    const std::vector<std::string>& fieldNames() const { return fields_; }
    std::size_t fieldCount() const { return fields_.size(); }
    int fieldIndex(std::string_view name) const;  // -1 when absent
    bool hasField(std::string_view name) const { return fieldIndex(name) >= 0; }
    // Adds a field at the end (holding empties) and returns its index; existing fields keep theirs.
    int addField(std::string_view name);
    void removeField(std::string_view name);
    const Array* findField(std::string_view name, std::size_t element = 0) const;
    Array* findField(std::string_view name, std::size_t element = 0);
    // Throws host::Error naming the field when it is absent.
    const Array& field(std::string_view name, std::size_t element = 0) const;
    Array& field(std::string_view name, std::size_t element = 0);
    // Sets (adding the field at the end when new) the value of element `element`.
    void setField(std::string_view name, Array value, std::size_t element = 0);
    Array& fieldAt(int fieldIndex, std::size_t element);
    const Array& fieldAt(int fieldIndex, std::size_t element) const;

    // --- cell ---------------------------------------------------------------------
    Array& cellAt(std::size_t i);
    const Array& cellAt(std::size_t i) const;

    // Exact equality of class, shape, data (real and imaginary), field names and order.
    friend bool operator==(const Array& a, const Array& b);

private:
    ClassId cls_ = ClassId::Double;
    std::size_t rows_ = 0;
    std::size_t cols_ = 0;
    bool complex_ = false;
    // Numeric, char and logical data in the native element type of the class.
    std::vector<std::byte, SampleAllocator<std::byte>> re_;
    std::vector<std::byte, SampleAllocator<std::byte>> imag_;
    // Struct: field-major (field f, element e at f * numel + e); cell: one per element.
    std::vector<std::string> fields_;
    std::vector<std::unique_ptr<Array>> children_;

    void checkIndex(std::size_t i) const;
    std::size_t childIndex(int field, std::size_t element) const;
};

}  // namespace host
