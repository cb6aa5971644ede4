#include "ext/mx_values.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vesk {

namespace {

template <typename T>
double readAs(const void* data, std::size_t index) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(data) + index * sizeof(T), sizeof(T));
    return static_cast<double>(value);
}

// Element `index` of the storage `data` of an array of class `id`.
bool readElement(mxClassID id, std::size_t elementSize, const void* data, std::size_t index, double& value) {
    switch (id) {
        case mxDOUBLE_CLASS: value = readAs<double>(data, index); return true;
        case mxSINGLE_CLASS: value = readAs<float>(data, index); return true;
        case mxINT8_CLASS: value = readAs<std::int8_t>(data, index); return true;
        case mxUINT8_CLASS: value = readAs<std::uint8_t>(data, index); return true;
        case mxINT16_CLASS: value = readAs<std::int16_t>(data, index); return true;
        case mxUINT16_CLASS: value = readAs<std::uint16_t>(data, index); return true;
        case mxINT32_CLASS: value = readAs<std::int32_t>(data, index); return true;
        case mxUINT32_CLASS: value = readAs<std::uint32_t>(data, index); return true;
        case mxINT64_CLASS: value = readAs<std::int64_t>(data, index); return true;
        case mxUINT64_CLASS: value = readAs<std::uint64_t>(data, index); return true;
        case mxCHAR_CLASS:
        case mxLOGICAL_CLASS:
            // Hosts differ in the width of these; the element size says which it is.
            if (elementSize == 1) value = readAs<std::uint8_t>(data, index);
            else if (elementSize == 2) value = readAs<std::uint16_t>(data, index);
            else return false;
            return true;
        default: return false;
    }
}

bool partValues(const mxArray* array, std::size_t count, bool imaginary, std::vector<double>& values) {
    values.assign(count, 0.0);
    if (!array) return false;
    const mxClassID id = mxGetClassID(array);
    if (id == mxSTRUCT_CLASS || id == mxCELL_CLASS) return false;
    const void* data = imaginary ? mxGetImagData(array) : mxGetData(array);
    if (!data) return !imaginary ? mxIsEmpty(array) : true;
    const std::size_t available = std::min<std::size_t>(count, mxGetNumberOfElements(array));
    const std::size_t elementSize = mxGetElementSize(array);
    for (std::size_t k = 0; k < available; ++k)
        if (!readElement(id, elementSize, data, k, values[k])) return false;
    return true;
}

}  // namespace

bool elementAsDouble(const mxArray* array, std::size_t index, double& value) {
    if (!array || index >= mxGetNumberOfElements(array)) return false;
    const void* data = mxGetData(array);
    return data && readElement(mxGetClassID(array), mxGetElementSize(array), data, index, value);
}

double firstAsDouble(const mxArray* array, double fallback) {
    double value = 0;
    return elementAsDouble(array, 0, value) ? value : fallback;
}

bool charText(const mxArray* array, std::string& text) {
    text.clear();
    if (!array || !mxIsChar(array)) return false;
    const std::size_t count = mxGetNumberOfElements(array);
    const void* data = mxGetData(array);
    if (count == 0 || !data) return true;
    const std::size_t elementSize = mxGetElementSize(array);
    text.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        double code = 0;
        if (!readElement(mxCHAR_CLASS, elementSize, data, k, code)) return false;
        text[k] = static_cast<char>(static_cast<unsigned>(code) & 0xFFu);
    }
    return true;
}

bool realValues(const mxArray* array, std::size_t count, std::vector<double>& values) {
    return partValues(array, count, false, values);
}

bool imagValues(const mxArray* array, std::size_t count, std::vector<double>& values) {
    return partValues(array, count, true, values);
}

const double* partView(const mxArray* array, std::size_t count, bool imaginary, std::vector<double>& scratch) {
    if (array && mxGetClassID(array) == mxDOUBLE_CLASS && mxGetNumberOfElements(array) >= count) {
        const void* data = imaginary ? mxGetImagData(array) : mxGetData(array);
        if (data) return static_cast<const double*>(data);
    }
    partValues(array, count, imaginary, scratch);
    return scratch.data();
}

int truncateToInt(double value, int low, int high) {
    if (std::isnan(value)) return 0;
    const double whole = std::trunc(value);
    if (whole <= low) return low;
    if (whole >= high) return high;
    return static_cast<int>(whole);
}

}  // namespace vesk
