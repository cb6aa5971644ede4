#include "host/mat_layout.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

#include "host/error.h"

namespace host::mat {

namespace {

// Data types of the level-5 format.
enum : std::uint32_t {
    miINT8 = 1, miUINT8 = 2, miINT16 = 3, miUINT16 = 4, miINT32 = 5, miUINT32 = 6, miSINGLE = 7,
    miDOUBLE = 9, miINT64 = 12, miUINT64 = 13, miMATRIX = 14, miCOMPRESSED = 15, miUTF8 = 16,
    miUTF16 = 17, miUTF32 = 18,
};

// Array classes.
enum : std::uint32_t {
    mxCELL = 1, mxSTRUCT = 2, mxOBJECT = 3, mxCHAR = 4, mxSPARSE = 5, mxDOUBLE = 6, mxSINGLE = 7,
    mxINT8 = 8, mxUINT64 = 15, mxFUNCTION = 16, mxOPAQUE = 17,
};

constexpr std::size_t kHeaderBytes = 128;
constexpr std::uint32_t kComplexFlag = 0x0800;
// A struct field name is at most 63 characters in every writer we know; allow far more,
// but not a length that turns a short element into millions of names.
constexpr std::uint32_t kMaxFieldNameLength = 4096;

std::size_t numericTypeSize(std::uint32_t type) {
    switch (type) {
    case miINT8: case miUINT8: case miUTF8: return 1;
    case miINT16: case miUINT16: case miUTF16: return 2;
    case miINT32: case miUINT32: case miSINGLE: case miUTF32: return 4;
    case miDOUBLE: case miINT64: case miUINT64: return 8;
    default: return 0;
    }
}

std::size_t padded8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

struct Element {
    std::uint32_t type = 0;
    bool small = false;
    std::span<const std::uint8_t> data;
};

class Checker {
public:
    Checker(const std::string& path, bool swap) : path_(path), swap_(swap) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw Error("Unable to read MAT file '" + path_ + "': " + what + ".");
    }

    std::uint32_t u32(std::span<const std::uint8_t> bytes, std::size_t at) const {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return swap_ ? __builtin_bswap32(v) : v;
    }

    // Reads the data element at `pos` of `region` and moves `pos` past it and its padding.
    Element next(std::span<const std::uint8_t> region, std::size_t& pos, const std::string& where) const {
        if (region.size() - pos < 8) fail(where + ": a data element is cut off");
        const std::uint32_t first = u32(region, pos);
        Element e;
        if ((first >> 16) != 0) {
            // Small element: type and size share the first word, up to 4 bytes follow it.
            e.type = first & 0xffff;
            e.small = true;
            const std::uint32_t n = first >> 16;
            if (n > 4) fail(where + ": a small data element claims " + std::to_string(n) + " bytes");
            e.data = region.subspan(pos + 4, n);
            pos += 8;
            return e;
        }
        e.type = first;
        const std::uint32_t n = u32(region, pos + 4);
        const std::size_t room = region.size() - pos - 8;
        if (n > room)
            fail(where + ": a data element claims " + std::to_string(n) + " bytes where " + std::to_string(room) +
                 " remain");
        // matio and the other readers step over arrays by their stated size and over other
        // elements by their padded size; holding both to a multiple of 8 keeps every reader
        // at the same offsets as this check.
        if (e.type == miMATRIX && n % 8 != 0) fail(where + ": an array element size is not a multiple of 8");
        if (padded8(n) > room) fail(where + ": a data element's padding is cut off");
        e.data = region.subspan(pos + 8, n);
        pos += 8 + padded8(n);
        return e;
    }

    Element expect(std::span<const std::uint8_t> region, std::size_t& pos, std::uint32_t type, const char* what,
                   const std::string& where) const {
        Element e = next(region, pos, where);
        if (e.type != type)
            fail(where + ": expected the " + std::string(what) + " element (type " + std::to_string(type) +
                 "), found type " + std::to_string(e.type));
        return e;
    }

    std::string text(std::span<const std::uint8_t> bytes) const {
        std::string s(bytes.begin(), bytes.end());
        const auto nul = s.find('\0');
        if (nul != std::string::npos) s.resize(nul);
        return s;
    }

    // Checks one array (the contents of a miMATRIX element) and returns its name.
    std::string array(std::span<const std::uint8_t> content, int depth, const std::string& where) {
        if (depth > kMaxDepth)
            fail(where + ": structs or cells are nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (++arrays_ > kMaxArrays) fail("the file holds more than " + std::to_string(kMaxArrays) + " arrays");
        // An empty array element stands for [] (an unset field or cell).
        if (content.empty()) return {};

        std::size_t pos = 0;
        const Element flags = expect(content, pos, miUINT32, "array flags", where);
        if (flags.data.size() < 8) fail(where + ": the array flags are cut short");
        const std::uint32_t flagWord = u32(flags.data, 0);
        const std::uint32_t cls = flagWord & 0xff;
        const bool complex = (flagWord & kComplexFlag) != 0;

        const Element dims = expect(content, pos, miINT32, "dimensions", where);
        if (dims.data.size() < 8 || dims.data.size() % 4 != 0)
            fail(where + ": the dimensions element holds " + std::to_string(dims.data.size()) + " bytes");
        const std::size_t rank = dims.data.size() / 4;
        std::uint64_t numel = 1;
        for (std::size_t d = 0; d < rank; ++d) {
            const auto value = static_cast<std::int32_t>(u32(dims.data, 4 * d));
            if (value < 0) fail(where + ": a negative dimension (" + std::to_string(value) + ")");
            if (d >= 2 && value != 1)
                fail(where + ": an array of " + std::to_string(rank) +
                     " dimensions (only two-dimensional arrays are read)");
            numel = (numel == 0 || value == 0) ? 0 : numel * static_cast<std::uint64_t>(value);
            if (numel > kMaxElements)
                fail(where + ": more than " + std::to_string(kMaxElements) + " elements in one array");
        }

        const Element nameElement = next(content, pos, where);
        if (nameElement.type != miINT8 && nameElement.type != miUINT8 && nameElement.type != miUTF8)
            fail(where + ": expected the array name element, found type " + std::to_string(nameElement.type));
        const std::string name = text(nameElement.data);
        const std::string here = depth == 0 ? "variable '" + name + "'" : where;

        switch (cls) {
        case mxCELL:
            for (std::uint64_t i = 0; i < numel; ++i) {
                const std::string cellWhere = here + ", cell " + std::to_string(i + 1);
                array(expect(content, pos, miMATRIX, "cell", cellWhere).data, depth + 1, cellWhere);
            }
            break;
        case mxSTRUCT: structure(content, pos, numel, depth, here); break;
        case mxOBJECT:
        case mxOPAQUE: fail(here + " is an object, which is not supported");
        case mxFUNCTION: fail(here + " is a function handle, which is not supported");
        case mxSPARSE: fail(here + " is a sparse array, which is not supported");
        default:
            if (cls != mxCHAR && (cls < mxDOUBLE || cls > mxUINT64))
                fail(here + " has an unknown class (" + std::to_string(cls) + ")");
            if (cls == mxCHAR && complex) fail(here + " is complex text");
            numeric(content, pos, numel, cls == mxCHAR, here + " (real part)");
            if (complex) numeric(content, pos, numel, false, here + " (imaginary part)");
        }
        return name;
    }

    void numeric(std::span<const std::uint8_t> content, std::size_t& pos, std::uint64_t numel, bool isChar,
                 const std::string& where) {
        // Stored as bytes, read as doubles: the memory a reader needs, not the file size, is
        // what a hostile file would inflate.
        decoded_ += numel * sizeof(double);
        if (decoded_ > kMaxDecodedBytes)
            fail("its arrays would take more than " + std::to_string(kMaxDecodedBytes >> 20) + " MiB once read");
        const Element e = next(content, pos, where);
        const std::size_t size = numericTypeSize(e.type);
        const bool textType = e.type == miUTF8 || e.type == miUTF16 || e.type == miUTF32;
        if (size == 0 || (textType && !isChar)) fail(where + ": numbers of data type " + std::to_string(e.type));
        // UTF-8 text may take several bytes per character, never fewer than one.
        if (e.data.size() / size < numel)
            fail(where + ": " + std::to_string(numel) + " elements declared, " + std::to_string(e.data.size() / size) +
                 " stored");
    }

    void structure(std::span<const std::uint8_t> content, std::size_t& pos, std::uint64_t numel, int depth,
                   const std::string& where) {
        const Element lengthElement = expect(content, pos, miINT32, "field name length", where);
        // matio reads the length only in the small form, which every writer uses.
        if (lengthElement.data.size() != 4 || !lengthElement.small)
            fail(where + ": the field name length element is malformed");
        const std::uint32_t length = u32(lengthElement.data, 0);
        const Element namesElement = expect(content, pos, miINT8, "field names", where);
        std::vector<std::string> names;
        if (!namesElement.data.empty()) {
            if (length == 0 || length > kMaxFieldNameLength || namesElement.data.size() % length != 0)
                fail(where + ": field names of length " + std::to_string(length) + " in " +
                     std::to_string(namesElement.data.size()) + " bytes");
            std::set<std::string> seen;
            for (std::size_t at = 0; at < namesElement.data.size(); at += length) {
                std::string name = text(namesElement.data.subspan(at, length));
                if (name.empty()) fail(where + ": a field without a name");
                if (!seen.insert(name).second) fail(where + ": the field '" + name + "' appears twice");
                names.push_back(std::move(name));
            }
        }
        // Fields are stored element by element, each element's fields in order.
        for (std::uint64_t e = 0; e < numel && !names.empty(); ++e)
            for (const std::string& field : names) {
                std::string fieldWhere = where;
                if (numel > 1) fieldWhere += ", element " + std::to_string(e + 1);
                fieldWhere += ", field '" + field + "'";
                array(expect(content, pos, miMATRIX, "field", fieldWhere).data, depth + 1, fieldWhere);
            }
    }

    std::vector<std::uint8_t> inflate(std::span<const std::uint8_t> compressed, const std::string& where) const {
        z_stream z{};
        if (inflateInit(&z) != Z_OK) fail(where + ": the decompressor could not start");
        std::vector<std::uint8_t> out;
        z.next_in = const_cast<Bytef*>(compressed.data());
        z.avail_in = static_cast<uInt>(compressed.size());
        int rc = Z_OK;
        while (rc == Z_OK) {
            if (out.size() >= kMaxBytes) {
                inflateEnd(&z);
                fail(where + ": decompresses to more than " + std::to_string(kMaxBytes >> 20) + " MiB");
            }
            const std::size_t have = out.size();
            out.resize(std::min(kMaxBytes, std::max<std::size_t>(2 * have, 1 << 16)));
            z.next_out = out.data() + have;
            z.avail_out = static_cast<uInt>(out.size() - have);
            rc = ::inflate(&z, Z_NO_FLUSH);
            out.resize(out.size() - z.avail_out);
            // Out of input before the end of the stream: the file was cut short.
            if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
            if (rc == Z_BUF_ERROR) rc = Z_OK;  // only wanted more room
        }
        inflateEnd(&z);
        // A stream cut short still yields what it had; the array check below then finds
        // whether the variable is whole.
        if (rc != Z_STREAM_END && rc != Z_BUF_ERROR) fail(where + ": the compressed data is corrupt");
        return out;
    }

    // Arrays checked so far, nested ones included.
    std::size_t arrays() const { return arrays_; }

private:
    const std::string& path_;
    bool swap_;
    std::size_t arrays_ = 0;
    std::uint64_t decoded_ = 0;
};

}  // namespace

Layout checkLayout(std::span<const std::uint8_t> image, const std::string& path) {
    const auto refuse = [&](const std::string& what) -> void {
        throw Error("Unable to read MAT file '" + path + "': " + what + ".");
    };
    if (image.size() < kHeaderBytes)
        refuse("it is too short to be a MAT file (" + std::to_string(image.size()) + " bytes)");
    // The endian indicator is "MI" written as a 16-bit number: it reads "IM" in a file
    // written on a little-endian machine.
    const bool little = image[126] == 'I' && image[127] == 'M';
    const bool big = image[126] == 'M' && image[127] == 'I';
    if (!little && !big) refuse("it is not a level-5 MAT file");
    const unsigned version = little ? image[124] | (image[125] << 8) : (image[124] << 8) | image[125];
    if (version == 0x0200) refuse("it is a version 7.3 (HDF5) MAT file; save it as version 7 or older");
    if (version != 0x0100) refuse("it is not a level-5 MAT file (version " + std::to_string(version) + ")");
    if (image.size() > kMaxBytes) refuse("it is larger than " + std::to_string(kMaxBytes >> 20) + " MiB");

    const bool swap = big != (std::endian::native == std::endian::big);
    Checker check(path, swap);
    Layout layout;
    std::size_t pos = kHeaderBytes;
    while (pos < image.size()) {
        const std::string where = "variable " + std::to_string(layout.names.size() + 1);
        const std::size_t arraysBefore = check.arrays();
        if (image.size() - pos < 8) check.fail(where + " is cut off");
        const std::uint32_t type = check.u32(image, pos);
        const std::uint32_t n = check.u32(image, pos + 4);
        if (n > image.size() - pos - 8)
            check.fail(where + " is cut off (it claims " + std::to_string(n) + " bytes, " +
                       std::to_string(image.size() - pos - 8) + " remain)");
        const auto content = image.subspan(pos + 8, n);
        if (type == miMATRIX) {
            if (n % 8 != 0) check.fail(where + ": an array element size is not a multiple of 8");
            layout.names.push_back(check.array(content, 0, where));
        } else if (type == miCOMPRESSED) {
            const std::vector<std::uint8_t> inflated = check.inflate(content, where);
            std::size_t at = 0;
            const Element inner = check.expect(inflated, at, miMATRIX, "array", where);
            layout.names.push_back(check.array(inner.data, 0, where));
        } else {
            check.fail(where + " is a data element of type " + std::to_string(type) + ", not an array");
        }
        layout.arrays.push_back(check.arrays() - arraysBefore);
        pos += 8 + n;
    }
    return layout;
}

}  // namespace host::mat
