#include "UI/file_actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

#include "MexIO/waveform_export.h"
#include "OneX/parameters.h"
#include "UI/sigmf_export.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/mat_file.h"

namespace ui {

namespace {

void showSaveFailure(const std::string& path, const std::string& why) {
    host::dialogs().message(why, std::string(kSaveErrorTitle) + path, host::MessageIcon::Error);
}

// The waveform's I and Q as the columns of an N x 2 real matrix.
host::Array iqColumns(const host::Array& waveform) {
    if (!waveform.isNumeric()) throw host::Error("There is no waveform to save: calculate it first.");
    const std::size_t n = waveform.numel();
    host::Array m = host::Array::zeros(n, 2);
    std::copy_n(waveform.pr(), n, m.pr());
    if (waveform.isComplex()) std::copy_n(waveform.pi(), n, m.pr() + n);
    return m;
}

// How much of a user data file of `sizeInBytes` is read: the limit in bits, from the bytes
// that hold them, when the file has more.
struct Extent {
    std::uint64_t bytes, bits;
};
Extent userDataExtent(std::uint64_t sizeInBytes, double maxLengthInBits) {
    if (!(8.0 * static_cast<double>(sizeInBytes) > maxLengthInBits)) return {sizeInBytes, 8 * sizeInBytes};
    const double limit = std::max(maxLengthInBits, 0.0);
    return {static_cast<std::uint64_t>(std::ceil(limit / 8)), static_cast<std::uint64_t>(std::floor(limit))};
}

// The bytes of a regular file that the limit reads, or nothing when it cannot be opened and
// read as one.
std::optional<std::vector<std::uint8_t>> readUserData(const std::string& path, double maxLengthInBits) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::vector<std::uint8_t>> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const Extent extent = userDataExtent(static_cast<std::uint64_t>(st.st_size), maxLengthInBits);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(extent.bytes));
        std::size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (got == data.size()) bytes = std::move(data);
    }
    ::close(fd);
    return bytes;
}

// Runs a write; a failure shows its reason in the "Error Saving <path>" box.
template <class Write>
bool savedOrShown(const std::string& path, Write write) {
    try {
        write();
        return true;
    } catch (const std::exception& e) {
        showSaveFailure(path, e.what());
        return false;
    }
}

}  // namespace

std::string addFileExtention(std::string_view name, std::string_view ext) {
    if (name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext) return std::string(name);
    return std::string(name) + std::string(ext);
}

std::optional<std::string> exportTarget(const host::FileChoice& choice) {
    if (choice.file.size() > kExportPrefix.size() && choice.file.starts_with(kExportPrefix))
        return choice.folder + choice.file.substr(kExportPrefix.size());
    return std::nullopt;
}

bool saveParameters(const std::string& path, const host::Array& parameters, const host::Array& sigGen) {
    return savedOrShown(path, [&] { writeParameterFile(path, parameters, sigGen); });
}

std::optional<ParameterFile> loadParameters(const std::string& path, const std::string& formatId) {
    try {
        return readParameterFile(path, formatId);
    } catch (const std::exception& e) {
        host::dialogs().message(e.what(), kLoadErrorTitle, host::MessageIcon::Error);
        return std::nullopt;
    }
}

void writeWaveformExport(const std::string& path, const host::Array& waveform, ExportFormat format) {
    switch (format) {
    case ExportFormat::Ascii:
        host::saveMatFile(path, {{"samples", iqColumns(waveform)}});
        return;
    case ExportFormat::Brindle: {
        std::string why;
        if (!mexio::saveBrindleWaveform(host::complexVector(waveform, {"saveWaveform", "waveform"}), path, 1.0, &why))
            throw host::Error(why.empty() ? "The file " + path + " could not be written." : why);
        return;
    }
    case ExportFormat::Mat: {
        if (!waveform.isNumeric()) throw host::Error("There is no waveform to save: calculate it first.");
        host::Array column = waveform;
        column.makeComplex();
        column.reshape(column.numel(), 1);
        host::saveMatFile(path, {{"samples", std::move(column)}});
        return;
    }
    }
    throw host::Error("Unknown waveform export format.");
}

bool saveWaveform(const std::string& path, const host::Array& waveform) {
    const std::string answer = host::dialogs().question("Select file format.", "Special Save", {"ASCII", "Brindle", "MAT"}, "ASCII");
    ExportFormat format;
    if (answer == "ASCII") format = ExportFormat::Ascii;
    else if (answer == "Brindle") format = ExportFormat::Brindle;
    else if (answer == "MAT") format = ExportFormat::Mat;
    else return false;  // closed without a choice: nothing to save
    return savedOrShown(path, [&] { writeWaveformExport(path, waveform, format); });
}

namespace {

const ExportType& exportTypeOf(const host::FileChoice& choice) {
    const std::span<const ExportType> types = exportTypes();
    return types[static_cast<std::size_t>(std::clamp<int>(choice.type, 0, static_cast<int>(types.size()) - 1))];
}

}  // namespace

std::span<const ExportType> exportTypes() {
    static constexpr ExportType kTypes[] = {
        {ExportFormat::Mat, "MAT: complex samples, variable samples (*.mat)", ".mat"},
        {ExportFormat::Ascii, "ASCII: I and Q columns, variable samples (*.mat)", ".mat"},
        {ExportFormat::Brindle, "Brindle binary I/Q, the instrument's .bin (*.bin)", ".bin"},
        {std::nullopt, "SigMF recording (*.sigmf-meta)", ".sigmf-meta"},
    };
    return kTypes;
}

std::string exportFilter() {
    std::string filter;
    for (const ExportType& t : exportTypes()) filter += (filter.empty() ? "" : ";;") + std::string(t.filter);
    return filter;
}

std::string exportPath(const host::FileChoice& choice) {
    const ExportType& type = exportTypeOf(choice);
    if (type.format == std::nullopt && isSigmfName(choice.file)) return choice.path();
    return std::filesystem::path(choice.file).has_extension() ? choice.path() : choice.path() + type.extension;
}

std::optional<std::string> exportWaveform(const host::FileChoice& choice, const host::Array& waveform, const host::Array& parameters,
                                          const host::Array& sigGen) {
    const ExportType& type = exportTypeOf(choice);
    const std::string path = exportPath(choice);
    const bool written = savedOrShown(path, [&] {
        if (type.format)
            writeWaveformExport(path, waveform, *type.format);
        else
            writeSigmfRecording(path, waveform, parameters, sigGen);
    });
    if (!written) return std::nullopt;
    return type.format ? path : sigmfFiles(path).meta;
}

void writeSpecialSave(const std::string& path, const host::Array& waveform, double sampleRate) {
    host::Array wave = iqColumns(waveform);
    const auto points = static_cast<double>(wave.rows());
    host::saveMatFile(path, {{"samplePoints", host::Array::scalar(points)}, {"sampleRate", host::Array::scalar(sampleRate)}, {"wave", std::move(wave)}});
}

bool specialSave(const std::string& path, const host::Array& waveform, double sampleRate) {
    return savedOrShown(path, [&] { writeSpecialSave(path, waveform, sampleRate); });
}

std::vector<double> userDataBits(std::span<const std::uint8_t> bytes, double maxLengthInBits, std::string_view bitorder) {
    const Extent extent = userDataExtent(bytes.size(), maxLengthInBits);
    const std::size_t byteCount = std::min<std::uint64_t>(bytes.size(), extent.bytes);
    const bool leastFirst = bitorder.substr(0, 5) == "right";
    std::vector<double> bits;
    bits.reserve(8 * byteCount);
    for (std::size_t i = 0; i < byteCount; ++i)
        for (int b = 0; b < 8; ++b) bits.push_back((bytes[i] >> (leastFirst ? b : 7 - b)) & 1);
    bits.resize(std::min<std::uint64_t>(bits.size(), extent.bits));
    return bits;
}

UserData loadUserDataFile(double maxLengthInBits, std::string_view bitorder) {
    host::Array& parameters = onex::applicationParameters();
    std::string lastPath;
    if (const host::Array* p = parameters.isStruct() ? parameters.findField("LastPath") : nullptr; p && p->isChar()) lastPath = p->text();
    // The folder of the last data file, saved with the parameters, until a file has been
    // chosen in any dialog of this session; from then on the dialogs share their folder.
    if (host::lastFolder().empty() && !lastPath.empty()) host::setLastFolder(lastPath);
    const std::optional<host::FileChoice> choice = host::dialogs().openFile("*.*", "Select data source file.");
    if (!choice) return {};
    const std::optional<std::vector<std::uint8_t>> bytes = readUserData(choice->path(), maxLengthInBits);
    if (!bytes) {
        host::dialogs().message("Could not open\n" + choice->path(), kFileErrorTitle, host::MessageIcon::Error);
        return {};
    }
    UserData out{1, host::toRow(userDataBits(*bytes, maxLengthInBits, bitorder))};
    if (parameters.isStruct()) parameters.setField("LastPath", host::Array::string(choice->folder));
    return out;
}

}  // namespace ui

namespace brevia::bind {

std::vector<host::Array> loadUserDataFile(int, host::Arguments args) {
    const char* fn = "loadUserDataFile";
    const double limit = args.size() > 0 && !args[0]->isEmpty() ? host::realScalar(*args[0], {fn, "maxLengthInBits"}) : 0;
    std::string bitorder = "right-msb";
    if (args.size() > 1) {
        if (!args[1]->isChar()) throw host::Error("loadUserDataFile: the bit order must be text, such as \"right-msb\".");
        bitorder = args[1]->text();
    }
    ui::UserData got = ui::loadUserDataFile(limit, bitorder);
    return {host::Array::scalar(got.status), std::move(got.bits)};
}

}  // namespace brevia::bind
