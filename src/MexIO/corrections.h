#pragma once
// I/Q and RF-channel corrections of one signal generator: the instrument's correction file
// (named after its serial number and the carrier), its records, and the circular filters
// that pre-distort the looping waveform with them.

#include <string>
#include <string_view>
#include <vector>

#include "MexIO/instrument_wrappers.h"
#include "host/array.h"
#include "host/matrix.h"

namespace mexio {

// 1-based positions at which `pattern` starts in `text`; empty when it never does.
std::vector<std::size_t> strfindpt(std::string_view text, std::string_view pattern);

// The serial number in an *IDN? reply: from the first "US" up to the next comma; empty
// when the reply has no "US" or no comma after it.
std::string GetSerialNumber(std::string_view id);

// Carrier frequency as the correction files name it: whole GHz, ".", tenths rounded half
// away from zero, " GHz" (2.2e9 -> "2.2 GHz", 1.99e9 -> "1.10 GHz").
std::string FormatFreq(double freq);

// Folder of the correction files: BREVIA_CORRECTIONS_DIR, else
// $XDG_DATA_HOME/brevia/corrections, else ~/.local/share/brevia/corrections. A fixed,
// per-user place: a shared temporary folder would let anyone alter the waveform.
std::string correctionsDirectory();

// <folder>/<serial> <frequency>.mat
std::string CreateFileName(std::string_view id, double freq);

// The circular convolution of x with h, advanced by floor(length(h) / 2) samples so that an
// odd linear-phase filter adds no delay. x must hold at least length(h) - 1 samples.
host::ComplexVector circfilt(const host::ComplexVector& x, const host::RealVector& h);
host::ComplexVector circfilt(const host::ComplexVector& x, const host::ComplexVector& h);

inline constexpr const char* kCorrectionVariable = "OrvexIqCorrectionData";
inline constexpr const char* kFileEmptyOrNotFound = "File empty or not found.";
inline constexpr const char* kInvalidDataStructure = "Invalid data structure.";

struct CorrectionFile {
    host::Array x;       // the records (a struct array); meaningful only when status is empty
    std::string status;  // empty when the records can be used
};
// Reads a correction file and checks the fields its records must have for their revision.
// A file that does not exist or holds no variables gives "File empty or not found."; one
// that cannot be read gives the reader's message; a missing variable, an unknown revision
// or a missing field gives "Invalid data structure.".
CorrectionFile LoadOrvexIqCorrectionData(const std::string& fileName);

// The instrument's reply to a query, and to *IDN?.
Reply sgQuery(const host::Array& config, const std::string& query);
Reply sgGetID(const host::Array& config);

struct CorrectionLookup {
    host::Array status;  // empty: records usable; text: why not; a number: *IDN? went unanswered
    host::Array x;
    double noFlatness = 0;
    std::string message;  // status as text, for people (the instrument's message for a number)
    std::string fileName;  // the correction file looked for (empty when the instrument did not answer)
    bool available() const { return status.isEmpty(); }
};
// Asks the instrument behind `config` who it is and loads its correction file for `freq`.
CorrectionLookup GetCorrectionData(double freq, const host::Array& config);

struct Corrected {
    host::ComplexVector x;  // the corrected waveform, or the input when the correction failed
    std::string status;     // empty, or why the correction failed
};
// The inverse of the record's RF channel response (revisions 2 and 3), 31 taps, on the
// complex signal; a revision 1 record or a NaN response leaves the signal as it is.
Corrected ApplyRfChannelCorrection(const host::ComplexVector& s, const host::Array& c, double sampleRate);
// The real part of the inverse of the record's I/Q path response, on the Q branch only.
Corrected ApplyIqCorrection(const host::ComplexVector& s, const host::Array& c, double sampleRate);

// Whether a record's response field holds a response: numbers, none of them NaN.
bool hasResponse(const host::Array& c, std::size_t element, const char* field);

struct CorrectedWaveform {
    host::ComplexVector x;
    std::size_t rfApplied = 0, iqApplied = 0;
    std::vector<std::string> failures;  // a correction that failed left the waveform as it was
};
// What a download sends: every record's RF channel correction in order (unless
// noFlatness), then every record's I/Q correction, each feeding the next.
CorrectedWaveform applyCorrections(host::ComplexVector waveform, const host::Array& records, double sampleRate,
                                   bool noFlatness = false);

}  // namespace mexio
