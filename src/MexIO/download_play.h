#pragma once
// Downloading a waveform into the signal generator and starting its playback, the
// signal generator settings record, and quantising a waveform to a DAC's resolution.

#include <string>

#include "MexIO/instrument_wrappers.h"
#include "host/array.h"
#include "host/matrix.h"

namespace mexio {

// The results of a sequence stopped on request (host::requestInterrupt: the window's Cancel,
// the command line's Ctrl+C); the steps after the stop fail at once.
inline constexpr const char* kDownloadCancelled = "Download cancelled";
inline constexpr const char* kSetupCancelled = "Instrument setup cancelled";

// The settings record with its defaults; the sample clock follows the oversampling.
host::Array initialSigGenSettings(double overSampling);

// Sets a 10 s time-out, asks before a long RS-232 transfer ("Download cancelled" when the
// answer is not OK), then: ARB state query, ARB off, the download, a lone LF, ARB on again
// when it was on, modulation on. Every step runs whatever the earlier ones gave. The
// result is the first step that failed, named in its message ("... (at the transfer of
// "OneX-Fwd")"), else that of the last step.
Reply OrvexDownLoadWrap(const host::Array& iqData, const host::Array& markers, const std::string& filename,
                        const host::Array& config, double segments = 1);

// The playback commands of each instrument platform, sent in order whatever each gives,
// then go-to-local. The result is the first failure, naming its command, else that of the
// last step.
Reply OrvexPlay(const std::string& fileName, const host::Array& setting, const host::Array& config);
Reply OrvexPlay_c(const std::string& fileName, const host::Array& setting, const host::Array& config);

// The waveform rounded to a numBits converter's steps (2 bits or fewer: unchanged; at most
// 32); an all-zero waveform comes back unchanged.
host::ComplexVector applyDacRes(const host::ComplexVector& wave, double numBits);

}  // namespace mexio
