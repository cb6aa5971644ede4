#pragma once
// The waveform as a SigMF recording: NAME.sigmf-data holds the samples as little-endian
// float32 I and Q, NAME.sigmf-meta the JSON that says what they are (sample rate, centre
// frequency, the settings) and marks every slot with what it carries, so that a general
// signal tool can show a frame without knowing this program.

#include <string>
#include <string_view>

#include "host/array.h"

namespace ui {

inline constexpr std::string_view kSigmfMetaExtension = ".sigmf-meta";
inline constexpr std::string_view kSigmfDataExtension = ".sigmf-data";

// The two files of a recording. `path` may name either (its ending in any case); the other
// gets the usual lower-case ending. Any other name is the recording's base name, both
// endings appended. Throws host::Error when there is no file name.
struct SigmfFiles {
    std::string data, meta;
};
SigmfFiles sigmfFiles(const std::string& path);
// Whether `path` ends in .sigmf-meta or .sigmf-data, in any case.
bool isSigmfName(std::string_view path);

// The recording's metadata as JSON text. Every check of the three records is made here,
// before any file is touched; throws host::Error naming what does not fit.
std::string sigmfMetadata(const host::Array& waveform, const host::Array& parameters, const host::Array& sigGen);

// File > Export Waveform... and `generate --out NAME.sigmf-meta`: writes the `waveform`
// record (1 x N complex double, as Calculate leaves it), described by the `parameters` and
// `SigGenSettings` records it was made from, as the pair of files of sigmfFiles(path).
// Whole or not at all: both go to temporary files beside their targets first; a failure
// before the data file is put in place leaves both earlier files as they were. Throws
// host::Error naming the file and the reason.
void writeSigmfRecording(const std::string& path, const host::Array& waveform, const host::Array& parameters,
                         const host::Array& sigGen);

// `text` as a JSON string, quotes included: control characters escaped and any byte that
// is not part of valid UTF-8 replaced by U+FFFD, so that every reader accepts the file.
std::string jsonQuoted(std::string_view text);

}  // namespace ui
