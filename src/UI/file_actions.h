#pragma once
// What the File and Special menus write and read, and the traffic channel's user data file.
// Each asks through the dialog provider and reports a failure in its box, so the window, the
// command line and the tests run the same code; none needs a display.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "UI/parameter_file.h"
#include "host/array.h"
#include "host/dialogs.h"

namespace ui {

// A Save As name starting with this exports the waveform under the rest of the name.
inline constexpr std::string_view kExportPrefix = "qorvath.";
inline constexpr const char* kSaveErrorTitle = "Error Saving ";
inline constexpr const char* kFileErrorTitle = "File Error";

// `name`, with `ext` appended unless it already ends in exactly `ext` (case-sensitive).
std::string addFileExtention(std::string_view name, std::string_view ext);

// The path a Save As choice exports the waveform to when its file name is the export prefix
// followed by a name; nothing when it names a parameter file.
std::optional<std::string> exportTarget(const host::FileChoice& choice);

// Writes a parameter file through a temporary file beside it, so a failed save leaves the
// previous file whole; the failure shows its reason in the "Error Saving <path>" box.
bool saveParameters(const std::string& path, const host::Array& parameters, const host::Array& sigGen);

// Reads and checks a parameter file; a file that cannot be read or is not one shows the
// reason in the "Error Loading File" box and gives nothing.
std::optional<ParameterFile> loadParameters(const std::string& path, const std::string& formatId);

// The export formats of Special Save in the order its question offers them.
enum class ExportFormat { Ascii = 1, Brindle = 2, Mat = 3 };
// Writes the waveform: Ascii and Mat as the MAT variable `samples` (N x 2 real I and Q, or
// the complex column), Brindle as the instrument's binary I/Q file. Throws host::Error.
void writeWaveformExport(const std::string& path, const host::Array& waveform, ExportFormat format);
// Asks for the format, then writes; a box closed without a choice writes nothing. A failure
// shows the "Error Saving <path>" box. Returns whether a file was written.
bool saveWaveform(const std::string& path, const host::Array& waveform);

// File > Export Waveform...: the file types its save dialog offers, in order. The binary
// I/Q file is the one the command line writes as .bin.
struct ExportType {
    std::optional<ExportFormat> format;  // none: a SigMF recording
    const char* filter;                  // the dialog's text for it
    const char* extension;               // given to a name that has none
};
std::span<const ExportType> exportTypes();
// The dialog's filter: the types' texts joined by ";;".
std::string exportFilter();
// The file an export choice writes: the name chosen, with its type's extension when the name
// has none.
std::string exportPath(const host::FileChoice& choice);
// Writes the waveform as the type chosen; a SigMF recording is described by the parameters
// the waveform was made from and the generator settings. A failure shows the "Error Saving
// <path>" box. Returns the file written (for a recording, its .sigmf-meta), or nothing.
std::optional<std::string> exportWaveform(const host::FileChoice& choice, const host::Array& waveform, const host::Array& parameters,
                                          const host::Array& sigGen);

// The waveform as the variables samplePoints, sampleRate and wave (N x 2 I and Q). Throws
// host::Error.
void writeSpecialSave(const std::string& path, const host::Array& waveform, double sampleRate);
// The same, a failure shown in the "Error Saving <path>" box; returns whether it was written.
bool specialSave(const std::string& path, const host::Array& waveform, double sampleRate);

// The bits of `bytes`, most significant first within each byte, or least significant first
// when `bitorder` starts with "right"; at most `maxLengthInBits` of them, from the first
// ceil(maxLengthInBits / 8) bytes.
std::vector<double> userDataBits(std::span<const std::uint8_t> bytes, double maxLengthInBits, std::string_view bitorder);

struct UserData {
    double status = -1;  // 1 read, -1 cancelled or failed
    host::Array bits;    // a row of 0/1
};
// Lets the user pick a file (starting in the file dialogs' last folder, or parameters.LastPath
// while no file has been chosen this session) and reads its bits; a file
// that cannot be opened shows the "File Error" box. On success parameters.LastPath becomes
// the file's folder.
UserData loadUserDataFile(double maxLengthInBits = 0, std::string_view bitorder = "right-msb");

}  // namespace ui
