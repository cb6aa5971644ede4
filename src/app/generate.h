#pragma once
// onexfwd generate: one frame from the default or a saved parameter set, with settings
// changed on the command line, written as a MAT file, in the instrument's binary format or
// as a SigMF recording.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/array.h"
#include "host/mat_file.h"

namespace app {

struct GenerateOptions {
    std::string params;             // parameter file; empty for the defaults
    std::vector<std::string> sets;  // NAME=VALUE, applied in order
    std::optional<std::uint64_t> seed;
    std::string out;  // .mat, .bin, or .sigmf-meta / .sigmf-data (the pair is written)
    bool quiet = false;     // only errors and the data asked for
    bool progress = false;  // what it is doing, on a terminal
};

// Changes one field of a parameter set: "OverSampling=8", "slot.DATAslotMod=3" (a single
// number fills every slot), "slot.RAslotGain=-3 -4 ..." (one number per element),
// "LastPath=/tmp" for a text field. Numbers are read by the safe entry reader.
// The packet fields (FrameCount, DATApacket...) are rounded and limited as the window's
// entries are; what that changed is returned, a line each. Throws host::Error naming the
// setting when the name or value does not fit.
std::vector<std::string> applySetting(host::Array& parameters, std::string_view assignment);

// --settings NAME=VALUE: one field of the signal generator settings (Frequency=2.2e9,
// Title=MyWave), rounded and limited as the window's panel takes an entry; returns what that
// changed, a line each. Throws host::Error naming the setting when it does not fit or is not
// a number.
std::vector<std::string> applySigGenSetting(host::Array& settings, std::string_view assignment);

// The parameter set and signal generator settings a command works with: the defaults or a
// parameter file's, then the --set and --settings changes in order. A new oversampling sets
// the sample clock to match, as the window does. The settings are limited as the panel
// limits them (a file's as read, --settings as typed); `notes` says what that changed.
struct FrameSetup {
    host::Array parameters;
    host::Array sigGen;
    std::vector<std::string> notes;  // settings limited, rounded or cleaned, a line each
};
FrameSetup prepareFrame(const std::string& paramsFile, const std::vector<std::string>& sets,
                        const std::vector<std::string>& settings);

// Makes the set-up the application's records and computes the frame into the `waveform`
// and `markers` records.
void computeFrame(const FrameSetup& setup, std::optional<std::uint64_t> seed);

// Refuses a waveform file name of no known type, naming `option` ("--out ") and the types.
void checkWaveformFileName(const std::string& path, std::string_view option);

// Writes a waveform by the ending of `path`: .mat (variables waveform, markers as 2 x N rows,
// sampleRate), .bin (the instrument's binary I/Q), .sigmf-meta or .sigmf-data (the SigMF pair,
// described by `parameters` and `sigGen`). Returns the file written (a recording's
// .sigmf-meta). Every file whole or not at all; throws host::Error naming the file.
std::string writeWaveformFile(const std::string& path, host::Array&& waveform, host::MatColumnRuns&& markers, double sampleRate,
                              const host::Array& parameters, const host::Array& sigGen);

// Computes the frame and writes it; returns the exit status (0 success) after printing
// a summary on `out` or the failure on `err`.
int runGenerate(const GenerateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
