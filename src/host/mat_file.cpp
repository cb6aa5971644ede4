#include "host/mat_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <matio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <variant>
#include <set>
#include <system_error>

#include "host/error.h"
#include "host/mat_layout.h"
#include "host/run_deflate.h"
#include "host/temporary_file.h"

namespace host {

namespace {

std::string systemMessage(int error) { return std::system_category().message(error); }

[[noreturn]] void readFailure(const std::string& path, const std::string& what) {
    throw Error("Unable to read MAT file '" + path + "': " + what + ".");
}

[[noreturn]] void writeFailure(const std::string& path, const std::string& what) {
    throw Error("Unable to write MAT file '" + path + "': " + what + ".");
}

// --- matio plumbing -----------------------------------------------------------------

// matio reads the files, and only reading needs it. It is opened on the first read rather
// than linked: its build brings in HDF5 and with it some thirty libraries of network and
// cryptography code, which every process, headless ones included, would otherwise map and
// relocate before main. Its types come from its header; its functions from here.
struct Matio {
    decltype(&::Mat_LogInitFunc) logInitFunc;
    decltype(&::Mat_Open) open;
    decltype(&::Mat_Close) close;
    decltype(&::Mat_VarReadNext) varReadNext;
    decltype(&::Mat_VarFree) varFree;
    decltype(&::Mat_SizeOf) sizeOf;
    decltype(&::Mat_VarGetNumberOfFields) varGetNumberOfFields;
    decltype(&::Mat_VarGetStructFieldnames) varGetStructFieldnames;
    decltype(&::Mat_VarGetStructFieldByIndex) varGetStructFieldByIndex;
    decltype(&::Mat_VarGetCell) varGetCell;
};

// matio reports trouble through a process-wide logger; ours keeps the last complaint of
// this thread for our message instead of printing it on stderr.
thread_local std::string matioComplaint;

void recordMatioComplaint(int level, char* message) {
    if ((level & (MATIO_LOG_LEVEL_ERROR | MATIO_LOG_LEVEL_CRITICAL)) != 0 && message != nullptr)
        matioComplaint = message;
}

// The library, loaded once; throws the reader's error naming it when it cannot be loaded.
const Matio& matio(const std::string& path) {
    static std::mutex mutex;
    static std::optional<Matio> loaded;
    std::lock_guard lock(mutex);
    if (loaded) return *loaded;
    void* handle = dlopen(BREVIA_MATIO_LIBRARY, RTLD_NOW | RTLD_LOCAL);  // kept open until exit
    if (!handle) {
        const char* reason = dlerror();
        readFailure(path, std::string("the MAT file library " BREVIA_MATIO_LIBRARY " could not be loaded (") +
                              (reason ? reason : "unknown loader error") + ")");
    }
    Matio m{};
    bool complete = true;
    auto bind = [&](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        complete = complete && function != nullptr;
    };
    bind(m.logInitFunc, "Mat_LogInitFunc");
    bind(m.open, "Mat_Open");
    bind(m.close, "Mat_Close");
    bind(m.varReadNext, "Mat_VarReadNext");
    bind(m.varFree, "Mat_VarFree");
    bind(m.sizeOf, "Mat_SizeOf");
    bind(m.varGetNumberOfFields, "Mat_VarGetNumberOfFields");
    bind(m.varGetStructFieldnames, "Mat_VarGetStructFieldnames");
    bind(m.varGetStructFieldByIndex, "Mat_VarGetStructFieldByIndex");
    bind(m.varGetCell, "Mat_VarGetCell");
    if (!complete) readFailure(path, "the MAT file library " BREVIA_MATIO_LIBRARY " lacks functions this program needs");
    m.logInitFunc("brevia", recordMatioComplaint);
    loaded = m;
    return *loaded;
}

const Matio& startMatioCall(const std::string& path) {
    const Matio& m = matio(path);
    matioComplaint.clear();
    return m;
}

std::string matioDetail() { return matioComplaint.empty() ? std::string() : " (" + matioComplaint + ")"; }

// Set for the thread's current read: the handles' deleters need it.
thread_local const Matio* currentMatio = nullptr;

struct FileCloser {
    void operator()(mat_t* m) const { currentMatio->close(m); }
};
using MatHandle = std::unique_ptr<mat_t, FileCloser>;

struct VarFreer {
    void operator()(matvar_t* v) const { currentMatio->varFree(v); }
};
using VarHandle = std::unique_ptr<matvar_t, VarFreer>;

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

// --- writing ------------------------------------------------------------------------

// The host's rule for variable and field names, which every reader of the format relies
// on. ASCII only, whatever locale the application runs in.
bool validName(std::string_view name) {
    constexpr std::size_t kMaxNameLength = 63;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (name.empty() || name.size() > kMaxNameLength || !letter(name[0])) return false;
    for (const char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
    return true;
}

// One level-5 data element counts its bytes in 32 bits.
constexpr std::uint64_t kMaxDataBytes = (std::uint64_t{1} << 31) - 1;

// Data types and array classes of the level-5 format that the writer uses.
enum : std::uint32_t { miINT8 = 1, miUINT8 = 2, miINT32 = 5, miUINT32 = 6, miDOUBLE = 9, miMATRIX = 14, miCOMPRESSED = 15, miUTF16 = 17 };
enum : std::uint32_t { mxCELL = 1, mxSTRUCT = 2, mxCHAR = 4, mxDOUBLE = 6, mxINT8 = 8, mxUINT8 = 9, mxINT32 = 12 };
constexpr std::uint32_t kLogicalFlag = 0x0200;
constexpr std::uint32_t kComplexFlag = 0x0800;

// The file is written in the machine's byte order and says so; every reader swaps as needed.
static_assert(std::endian::native == std::endian::little, "the MAT writer assumes a little-endian machine");

std::uint64_t padded8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }
// A data element of n bytes with its tag: up to 4 bytes share the tag's 8 bytes.
std::uint64_t elementBytes(std::uint64_t n) { return n <= 4 ? 8 : 8 + padded8(n); }

// A text's UTF-16 code units as a MAT file stores characters. The application's text is
// UTF-8 (what windows, file dialogs and the terminal give it): a row of valid UTF-8 is stored
// as its characters, so that SciPy, Octave and MATLAB read "é" back, not "Ã©". Anything
// else (older 8-bit text, matrices of characters) is stored a byte to a unit.
bool utf8ToUnits(const unsigned char* s, std::size_t n, std::vector<std::uint32_t>& units);

std::vector<std::uint16_t> textUnits(const Array& a) {
    const std::string bytes = a.text();
    std::vector<std::uint32_t> points;
    const bool wide = std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    std::vector<std::uint16_t> units;
    if (a.rows() <= 1 && wide && utf8ToUnits(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), points)) {
        for (std::size_t i = 0; i < points.size(); ++i) {
            const std::uint32_t cp = points[i];
            if (cp <= 0xffff) {
                units.push_back(static_cast<std::uint16_t>(cp));
                continue;
            }
            units.push_back(static_cast<std::uint16_t>(0xd800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xdc00 + ((cp - 0x10000) & 0x3ff)));
            ++i;  // the reader counted an astral character twice
        }
        return units;
    }
    units.reserve(bytes.size());
    for (char c : bytes) units.push_back(static_cast<unsigned char>(c));
    return units;
}

// Dimensions as stored: a row of text counts its code units, not its bytes.
std::pair<std::size_t, std::size_t> storedDims(const Array& a) {
    if (a.classId() != ClassId::Char || a.rows() > 1 || a.isEmpty()) return {a.rows(), a.cols()};
    return {1, textUnits(a).size()};
}

// Writes the variables straight from the arrays' own storage: no copy of the samples is made
// and every write is checked, so a file that is complete on return needs no reading back.
// The sizes are worked out (and everything that can be refused, refused) before a byte is
// written.
class MatWriter {
public:
    explicit MatWriter(const std::string& path) : path_(path) {}

    // Bytes of the miMATRIX element of `a` after its tag, checking that it can be stored.
    std::uint64_t matrixBytes(const Array& a, std::string_view name, int depth, const std::string& where) const {
        if (depth > mat::kMaxDepth)
            writeFailure(path_, where + " nests structs or cells deeper than " + std::to_string(mat::kMaxDepth) + " levels");
        if (a.rows() > INT32_MAX || a.cols() > INT32_MAX)
            writeFailure(path_, where + " has more rows or columns than a MAT file can hold");
        std::uint64_t bytes = 16 + 16 + elementBytes(name.size());  // flags, dimensions, name
        switch (a.classId()) {
        case ClassId::Struct: {
            std::size_t longest = 0;
            for (const std::string& f : a.fieldNames()) {
                if (!validName(f)) writeFailure(path_, where + " has a field named '" + f + "', which a MAT file cannot hold");
                longest = std::max(longest, f.size());
            }
            bytes += 8 + elementBytes(a.fieldCount() * (longest + 1));
            for (std::size_t e = 0; e < a.numel(); ++e)
                for (std::size_t f = 0; f < a.fieldCount(); ++f)
                    bytes += 8 + matrixBytes(a.fieldAt(static_cast<int>(f), e), {}, depth + 1, fieldWhere(a, e, f, where));
            break;
        }
        case ClassId::Cell:
            for (std::size_t i = 0; i < a.numel(); ++i)
                bytes += 8 + matrixBytes(a.cellAt(i), {}, depth + 1, where + "{" + std::to_string(i + 1) + "}");
            break;
        case ClassId::Char: bytes += elementBytes(checkedData(textUnits(a).size(), 2, where)); break;
        default: {
            const std::uint64_t part = elementBytes(checkedData(a.numel(), a.elementSize(), where));
            numericType(a, where);
            bytes += a.isComplex() ? 2 * part : part;
        }
        }
        if (bytes > UINT32_MAX) writeFailure(path_, where + " is too large for a MAT file");
        return bytes;
    }

    void header() {
        char text[116];
        std::memset(text, ' ', sizeof text);
        const std::time_t now = std::time(nullptr);
        char when[64] = "";
        if (const std::tm* t = std::localtime(&now)) std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y", t);
        const std::string line = std::string("MATLAB 5.0 MAT-file, Platform: GLNXA64, Created by: brevia on ") + when;
        std::memcpy(text, line.data(), std::min(line.size(), sizeof text));
        put(text, sizeof text);
        const std::uint8_t rest[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x01, 'I', 'M'};  // no subsystem; version 0x0100
        put(rest, sizeof rest);
    }

    void matrix(const Array& a, std::string_view name, std::uint64_t bytes) {
        tag(miMATRIX, bytes);
        const std::uint32_t flags[2] = {arrayFlags(a), 0};
        element(miUINT32, flags, sizeof flags);
        const auto [rows, cols] = storedDims(a);
        const std::int32_t dims[2] = {static_cast<std::int32_t>(rows), static_cast<std::int32_t>(cols)};
        element(miINT32, dims, sizeof dims);
        element(miINT8, name.data(), name.size());
        switch (a.classId()) {
        case ClassId::Struct: {
            std::size_t longest = 0;
            for (const std::string& f : a.fieldNames()) longest = std::max(longest, f.size());
            const std::int32_t length = static_cast<std::int32_t>(longest + 1);
            element(miINT32, &length, sizeof length);
            std::vector<char> names(a.fieldCount() * (longest + 1), '\0');
            for (std::size_t f = 0; f < a.fieldCount(); ++f)
                std::memcpy(names.data() + f * (longest + 1), a.fieldNames()[f].data(), a.fieldNames()[f].size());
            element(miINT8, names.data(), names.size());
            for (std::size_t e = 0; e < a.numel(); ++e)
                for (std::size_t f = 0; f < a.fieldCount(); ++f) child(a.fieldAt(static_cast<int>(f), e));
            break;
        }
        case ClassId::Cell:
            for (std::size_t i = 0; i < a.numel(); ++i) child(a.cellAt(i));
            break;
        case ClassId::Char: {
            // As UTF-16 code units, which every reader decodes; SciPy would take units stored
            // as plain 16-bit numbers for UTF-8 bytes and garble anything beyond ASCII.
            const std::vector<std::uint16_t> units = textUnits(a);
            element(miUTF16, units.data(), units.size() * 2);
            break;
        }
        default: {
            const std::uint32_t type = numericType(a, "");
            const std::size_t n = a.numel() * a.elementSize();
            element(type, a.realData(), n);
            if (a.isComplex()) element(type, a.imagData(), n);
        }
        }
    }

    // The bytes of a run-length matrix, written compressed; checked before any is written.
    std::uint64_t matrixBytes(const MatColumnRuns& r, std::string_view name, const std::string& where) const {
        const std::size_t cols = r.cols();
        if (r.rows > INT32_MAX || cols > INT32_MAX) writeFailure(path_, where + " has more rows or columns than a MAT file can hold");
        if (r.rows == 0 || r.rows > 8) writeFailure(path_, where + " must have 1 to 8 rows to be written as runs");
        for (const MatColumnRuns::Run& run : r.runs)
            if (run.column.size() != r.rows) writeFailure(path_, where + " has a run whose column is not " + std::to_string(r.rows) + " long");
        if (cols != 0 && r.rows > kMaxDataBytes / 8 / cols) writeFailure(path_, where + " is too large for a MAT file");
        const std::uint64_t inflated = 16 + 16 + elementBytes(name.size()) + elementBytes(checkedData(r.rows * cols, 8, where));
        if (inflated > UINT32_MAX) writeFailure(path_, where + " is too large for a MAT file");
        return inflated;
    }

    // A miCOMPRESSED element holding the matrix element; not padded, as such elements are not.
    void matrix(const MatColumnRuns& r, std::string_view name, std::uint64_t inflatedBytes) {
        MatWriter inner(path_);
        inner.tag(miMATRIX, inflatedBytes);
        const std::uint32_t flags[2] = {mxDOUBLE, 0};
        inner.element(miUINT32, flags, sizeof flags);
        const std::int32_t dims[2] = {static_cast<std::int32_t>(r.rows), static_cast<std::int32_t>(r.cols())};
        inner.element(miINT32, dims, sizeof dims);
        inner.element(miINT8, name.data(), name.size());
        const std::size_t dataBytes = r.rows * r.cols() * 8;
        if (dataBytes == 0)
            inner.element(miDOUBLE, nullptr, 0);
        else
            inner.tag(miDOUBLE, dataBytes);
        RunDeflater deflater;
        deflater.literals(inner.buffer_.data(), inner.buffer_.size());
        std::vector<std::uint8_t> column(r.rows * 8);
        for (const MatColumnRuns::Run& run : r.runs) {
            if (run.count == 0) continue;
            std::memcpy(column.data(), run.column.data(), column.size());
            deflater.literals(column.data(), column.size());
            deflater.repeat(column.size(), run.count - 1);
        }
        if (deflater.inflatedBytes() != 8 + inflatedBytes) writeFailure(path_, "the variable '" + std::string(name) + "' came out the wrong length");
        const std::vector<std::uint8_t> compressed = deflater.finish();
        if (compressed.size() > UINT32_MAX) writeFailure(path_, "the variable '" + std::string(name) + "' is too large for a MAT file");
        tag(miCOMPRESSED, compressed.size());
        put(compressed.data(), compressed.size());
    }

    void finish() { flush(); }
    int& fd() { return fd_; }

private:
    static constexpr std::size_t kBufferBytes = 1 << 16;
    const std::string& path_;
    int fd_ = -1;
    std::vector<std::uint8_t> buffer_;

    static std::string fieldWhere(const Array& a, std::size_t e, std::size_t f, const std::string& where) {
        std::string w = where;
        if (a.numel() > 1) w += "(" + std::to_string(e + 1) + ")";
        return w + "." + a.fieldNames()[f];
    }

    std::uint64_t checkedData(std::size_t count, std::size_t size, const std::string& where) const {
        if (count > kMaxDataBytes / size) writeFailure(path_, where + " is too large for a MAT file");
        return count * size;
    }

    std::uint32_t numericType(const Array& a, const std::string& where) const {
        switch (a.classId()) {
        case ClassId::Double: return miDOUBLE;
        case ClassId::Int8: return miINT8;
        case ClassId::Uint8:
        case ClassId::Logical: return miUINT8;
        case ClassId::Int32: return miINT32;
        default: writeFailure(path_, where + " is of class " + std::string(a.className()) + ", which cannot be saved");
        }
    }

    static std::uint32_t arrayFlags(const Array& a) {
        switch (a.classId()) {
        case ClassId::Struct: return mxSTRUCT;
        case ClassId::Cell: return mxCELL;
        case ClassId::Char: return mxCHAR;
        case ClassId::Logical: return mxUINT8 | kLogicalFlag;
        default: break;
        }
        const std::uint32_t cls = a.classId() == ClassId::Int8 ? mxINT8 : a.classId() == ClassId::Uint8 ? mxUINT8
                                  : a.classId() == ClassId::Int32 ? mxINT32 : mxDOUBLE;
        return cls | (a.isComplex() ? kComplexFlag : 0);
    }

    void child(const Array& a) { matrix(a, {}, matrixBytes(a, {}, 0, "")); }

    void tag(std::uint32_t type, std::uint64_t bytes) {
        const std::uint32_t words[2] = {type, static_cast<std::uint32_t>(bytes)};
        put(words, sizeof words);
    }

    void element(std::uint32_t type, const void* data, std::size_t n) {
        if (n <= 4 && n > 0) {
            std::uint32_t words[2] = {type | static_cast<std::uint32_t>(n) << 16, 0};
            std::memcpy(&words[1], data, n);
            put(words, sizeof words);
            return;
        }
        tag(type, n);
        put(data, n);
        static const std::uint8_t zeros[8] = {};
        put(zeros, padded8(n) - n);
    }

    void put(const void* data, std::size_t n) {
        if (n == 0) return;
        if (buffer_.size() + n <= kBufferBytes) {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            buffer_.insert(buffer_.end(), bytes, bytes + n);
            return;
        }
        flush();
        if (n < kBufferBytes) {
            put(data, n);
            return;
        }
        writeAll(data, n);  // samples go to the file from where they are
    }

    void flush() {
        writeAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

    void writeAll(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        while (n > 0) {
            const ssize_t done = ::write(fd_, p, n);
            if (done < 0 && errno == EINTR) continue;
            if (done < 0) writeFailure(path_, systemMessage(errno));
            if (done == 0) writeFailure(path_, "the file system took no more data");
            p += done;
            n -= static_cast<std::size_t>(done);
        }
    }
};

// --- reading ------------------------------------------------------------------------

std::vector<std::uint8_t> readWholeFile(const std::string& path) {
    // Non-blocking, so that a FIFO given by mistake is refused instead of waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) readFailure(path, systemMessage(errno));
    FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) readFailure(path, systemMessage(errno));
    if (S_ISDIR(st.st_mode)) readFailure(path, "it is a folder");
    if (!S_ISREG(st.st_mode)) readFailure(path, "it is not a regular file");
    if (static_cast<std::uintmax_t>(st.st_size) > mat::kMaxBytes)
        readFailure(path, "it is larger than " + std::to_string(mat::kMaxBytes >> 20) + " MiB");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readFailure(path, systemMessage(errno));
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return bytes;
}

double elementValue(const void* base, matio_types type, std::size_t i) {
    const auto* p = static_cast<const unsigned char*>(base);
    auto get = [&](auto sample) {
        std::memcpy(&sample, p + i * sizeof(sample), sizeof(sample));
        return static_cast<double>(sample);
    };
    switch (type) {
    case MAT_T_DOUBLE: return get(double{});
    case MAT_T_SINGLE: return get(float{});
    case MAT_T_INT8: return get(std::int8_t{});
    case MAT_T_UINT8:
    case MAT_T_UTF8: return get(std::uint8_t{});
    case MAT_T_INT16: return get(std::int16_t{});
    case MAT_T_UINT16:
    case MAT_T_UTF16: return get(std::uint16_t{});
    case MAT_T_INT32: return get(std::int32_t{});
    case MAT_T_UINT32:
    case MAT_T_UTF32: return get(std::uint32_t{});
    case MAT_T_INT64: return get(std::int64_t{});
    case MAT_T_UINT64: return get(std::uint64_t{});
    default: return 0.0;
    }
}

// Strict UTF-8 to 16-bit code units, the way the host counts characters (one unit per
// character of the basic plane, two for others). False for malformed input.
bool utf8ToUnits(const unsigned char* s, std::size_t n, std::vector<std::uint32_t>& units) {
    for (std::size_t i = 0; i < n;) {
        const unsigned char lead = s[i];
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xe0) == 0xc0) {
            extra = 1;
            cp = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            extra = 2;
            cp = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
        units.push_back(cp);
        if (cp > 0xffff) units.push_back(cp);  // a surrogate pair in the host's count
        i += extra + 1;
    }
    return true;
}

class ArrayReader {
public:
    explicit ArrayReader(const std::string& path) : path_(path) {}

    // Arrays converted so far.
    std::size_t converted() const { return converted_; }

    Array convert(const matvar_t* v, int depth, const std::string& where) {
        if (v == nullptr) fail(where + " could not be read" + matioDetail());
        ++converted_;
        if (depth > mat::kMaxDepth) fail(where + " nests structs or cells too deeply");
        if (v->rank < 2 || v->dims == nullptr) fail(where + " has no dimensions");
        const std::size_t rows = v->dims[0];
        std::size_t cols = 1;
        for (int d = 1; d < v->rank; ++d) cols *= v->dims[d];  // the layout check allows only trailing ones
        switch (v->class_type) {
        case MAT_C_EMPTY: return Array::zeros(rows, cols);
        case MAT_C_STRUCT: return structure(v, rows, cols, depth, where);
        case MAT_C_CELL: return cell(v, rows, cols, depth, where);
        case MAT_C_CHAR: return text(v, rows, cols, where);
        case MAT_C_DOUBLE:
        case MAT_C_SINGLE:
        case MAT_C_INT8:
        case MAT_C_UINT8:
        case MAT_C_INT16:
        case MAT_C_UINT16:
        case MAT_C_INT32:
        case MAT_C_UINT32:
        case MAT_C_INT64:
        case MAT_C_UINT64: return numeric(v, rows, cols, where);
        default: fail(where + " is of a class that is not supported (" + std::to_string(v->class_type) + ")");
        }
    }

private:
    const std::string& path_;
    std::size_t converted_ = 0;

    [[noreturn]] void fail(const std::string& what) const { readFailure(path_, what); }

    // Checks that matio holds at least `count` elements of the variable's data type.
    std::size_t requireData(const matvar_t* v, std::size_t count, const std::string& where) const {
        const std::size_t size = currentMatio->sizeOf(v->data_type);
        if (size == 0)
            fail(where + " is stored as data type " + std::to_string(v->data_type) + ", which is not supported");
        if (count > 0 && (v->data == nullptr || v->nbytes / size < count))
            fail(where + " has less data than its dimensions" + matioDetail());
        return size;
    }

    // host::Array has double, int8, uint8, int32 and logical numbers only: single, int16,
    // uint16, uint32, int64 and uint64 arrays come back as double (64-bit integers beyond
    // 2^53 round). Nothing the application stores uses them.
    Array numeric(const matvar_t* v, std::size_t rows, std::size_t cols, const std::string& where) const {
        ClassId cls = ClassId::Double;
        if (v->isLogical) cls = ClassId::Logical;
        else if (v->class_type == MAT_C_INT8) cls = ClassId::Int8;
        else if (v->class_type == MAT_C_UINT8) cls = ClassId::Uint8;
        else if (v->class_type == MAT_C_INT32) cls = ClassId::Int32;
        const bool complex = v->isComplex != 0 && cls != ClassId::Logical;
        Array a = Array::numeric(cls, rows, cols, complex);
        const std::size_t n = a.numel();
        requireData(v, n, where);
        if (n == 0) return a;
        const void* re = v->data;
        const void* im = nullptr;
        if (v->isComplex) {
            const auto* split = static_cast<const mat_complex_split_t*>(v->data);
            re = split->Re;
            im = split->Im;
            if (re == nullptr || im == nullptr) fail(where + " lacks its real or imaginary part" + matioDetail());
        }
        if (cls == ClassId::Double && v->data_type == MAT_T_DOUBLE) {
            std::memcpy(a.pr(), re, n * sizeof(double));
            if (complex) std::memcpy(a.pi(), im, n * sizeof(double));
            return a;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (complex) a.setComplex(i, {elementValue(re, v->data_type, i), elementValue(im, v->data_type, i)});
            else a.setReal(i, elementValue(re, v->data_type, i));
        }
        return a;
    }

    // Text arrives as UTF-8 (SciPy, matio), as 16-bit units (the host, GNU Octave) or as
    // 8-bit bytes. A row of text becomes the application's UTF-8; in a matrix of characters
    // each keeps its place, so anything beyond Latin-1 becomes '?' there.
    Array text(const matvar_t* v, std::size_t rows, std::size_t cols, const std::string& where) const {
        Array a = Array::numeric(ClassId::Char, rows, cols);
        const std::size_t n = a.numel();
        if (n == 0) return a;
        std::vector<std::uint32_t> units;
        units.reserve(n);
        const std::size_t size = requireData(v, v->data_type == MAT_T_UTF8 ? 1 : n, where);
        const auto* bytes = static_cast<const unsigned char*>(v->data);
        switch (size) {
        case 1:
            // Bytes that are not UTF-8 for exactly these characters are taken as 8-bit text.
            if (v->data_type != MAT_T_UTF8 || !utf8ToUnits(bytes, v->nbytes, units) || units.size() != n) {
                if (v->nbytes < n) fail(where + " holds text that is not valid UTF-8");
                units.assign(bytes, bytes + n);
            }
            break;
        case 2:
        case 4:
            for (std::size_t i = 0; i < n; ++i) {
                const double unit = elementValue(bytes, v->data_type, i);
                units.push_back(unit < 0 ? 0xfffd : static_cast<std::uint32_t>(unit));
            }
            break;
        default: fail(where + " holds text stored as data type " + std::to_string(v->data_type));
        }
        if (rows <= 1) return Array::string(utf8Of(units, v->data_type == MAT_T_UTF8 && size == 1));
        for (std::size_t i = 0; i < n; ++i) a.setReal(i, units[i] <= 0xff ? units[i] : '?');
        return a;
    }

    // UTF-8 of code units: code points (from UTF-8, with each astral one counted twice) or
    // UTF-16 (surrogate pairs joined; a lone one becomes U+FFFD).
    static std::string utf8Of(const std::vector<std::uint32_t>& units, bool codePoints) {
        std::string out;
        auto put = [&](std::uint32_t cp) {
            if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x800) {
                out += static_cast<char>(0xc0 | (cp >> 6));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            } else if (cp < 0x10000) {
                out += static_cast<char>(0xe0 | (cp >> 12));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            } else {
                out += static_cast<char>(0xf0 | (cp >> 18));
                out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            }
        };
        for (std::size_t i = 0; i < units.size(); ++i) {
            std::uint32_t cp = units[i];
            if (codePoints) {
                if (cp > 0xffff) ++i;  // its second count
            } else if (cp >= 0xd800 && cp <= 0xdbff && i + 1 < units.size() && units[i + 1] >= 0xdc00 && units[i + 1] <= 0xdfff) {
                cp = 0x10000 + ((cp - 0xd800) << 10) + (units[i + 1] - 0xdc00);
                ++i;
            } else if ((cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff) {
                cp = 0xfffd;
            }
            put(cp);
        }
        return out;
    }

    Array structure(const matvar_t* v, std::size_t rows, std::size_t cols, int depth, const std::string& where) {
        Array s = Array::structure(rows, cols);
        auto* var = const_cast<matvar_t*>(v);
        const unsigned count = currentMatio->varGetNumberOfFields(var);
        char* const* names = currentMatio->varGetStructFieldnames(v);
        if (count > 0 && names == nullptr) fail(where + " has fields without names" + matioDetail());
        for (unsigned f = 0; f < count; ++f) {
            if (names[f] == nullptr) fail(where + " has a field without a name");
            s.addField(names[f]);
        }
        for (std::size_t e = 0; e < s.numel() && count > 0; ++e)
            for (unsigned f = 0; f < count; ++f) {
                std::string fieldWhere = where;
                if (s.numel() > 1) fieldWhere += "(" + std::to_string(e + 1) + ")";
                fieldWhere += "." + std::string(names[f]);
                s.fieldAt(static_cast<int>(f), e) =
                    convert(currentMatio->varGetStructFieldByIndex(var, f, e), depth + 1, fieldWhere);
            }
        return s;
    }

    Array cell(const matvar_t* v, std::size_t rows, std::size_t cols, int depth, const std::string& where) {
        Array c = Array::cell(rows, cols);
        if (c.numel() > INT_MAX) fail(where + " has too many cells");
        for (std::size_t i = 0; i < c.numel(); ++i)
            c.cellAt(i) = convert(currentMatio->varGetCell(const_cast<matvar_t*>(v), static_cast<int>(i)), depth + 1,
                                  where + "{" + std::to_string(i + 1) + "}");
        return c;
    }
};

}  // namespace

std::size_t MatColumnRuns::cols() const {
    std::size_t n = 0;
    for (const Run& run : runs) n += run.count;
    return n;
}

void saveMatFile(const std::string& path, const MatVariables& variables) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) writeFailure(path, "it is a folder");

    std::set<std::string_view> seen;
    for (const auto& [name, value] : variables) {
        if (!validName(name)) writeFailure(path, "'" + name + "' is not a valid variable name");
        if (!seen.insert(name).second) writeFailure(path, "the variable '" + name + "' is given twice");
    }

    // Everything that can be refused is refused before the file system is touched.
    MatWriter writer(path);
    std::vector<std::uint64_t> sizes;
    for (const auto& [name, value] : variables) {
        const std::string where = "the variable '" + name + "'";
        sizes.push_back(std::visit(
            [&](const auto& v) {
                if constexpr (std::is_same_v<std::decay_t<decltype(v)>, Array>)
                    return writer.matrixBytes(v, name, 0, where);
                else
                    return writer.matrixBytes(v, name, where);
            },
            value));
    }

    std::unique_ptr<TemporaryBeside> temporary;
    try {
        temporary = std::make_unique<TemporaryBeside>(path);
    } catch (const Error& e) {
        writeFailure(path, e.what());
    }
    writer.fd() = temporary->fd();
    writer.header();
    for (std::size_t i = 0; i < variables.size(); ++i)
        std::visit([&](const auto& v) { writer.matrix(v, variables[i].first, sizes[i]); }, variables[i].second);
    writer.finish();
    try {
        temporary->commit();
    } catch (const Error& e) {
        writeFailure(path, e.what());
    }
}

Array loadMatFile(const std::string& path) {
    const mat::Layout layout = mat::checkLayout(readWholeFile(path), path);

    currentMatio = &startMatioCall(path);
    MatHandle file(currentMatio->open(path.c_str(), MAT_ACC_RDONLY));
    if (!file) readFailure(path, "matio could not open it" + matioDetail());
    ArrayReader reader(path);
    Array result = Array::structure(1, 1);
    for (std::size_t i = 0; i < layout.names.size(); ++i) {
        const std::string& name = layout.names[i];
        VarHandle v(currentMatio->varReadNext(file.get()));
        const std::string where = "the variable '" + name + "'";
        if (!v) readFailure(path, where + " could not be read" + matioDetail());
        if ((v->name ? std::string_view(v->name) : std::string_view()) != name)
            readFailure(path, where + " was read as '" + std::string(v->name ? v->name : "") + "'");
        if (name.empty()) continue;  // subsystem data, no user variable
        const std::size_t before = reader.converted();
        Array value = reader.convert(v.get(), 0, where);
        // matio skips what it does not understand without a word; a count that differs
        // from the layout means part of the variable was lost.
        if (reader.converted() - before != layout.arrays[i])
            readFailure(path, where + " holds " + std::to_string(layout.arrays[i]) + " arrays, of which " +
                                  std::to_string(reader.converted() - before) + " could be read");
        result.setField(name, std::move(value));
    }
    return result;
}

}  // namespace host
