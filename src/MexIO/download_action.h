#pragma once
// The Download action as the window's button and the command line carry it out: the
// instrument's own corrections for the carrier (when it has a correction file), the
// download of the corrected copy under the settings' title, then the play settings.

#include "MexIO/corrections.h"
#include "MexIO/download_play.h"
#include "host/array.h"

namespace mexio {

inline constexpr const char* kDownloadFailedTitle = "Error Occured During Waveform Download";
inline constexpr const char* kSetupFailedTitle = "Error Occured During Instrument Setup";
inline constexpr const char* kDownloadCompleted = "Waveform has been successfully transferred to the instrument";

struct DownloadOutcome {
    CorrectionLookup corrections;  // what the instrument's correction file gave
    std::size_t rfApplied = 0, iqApplied = 0;
    std::vector<std::string> correctionFailures;  // corrections skipped, with why
    Reply download;
    bool played = false;  // play was asked for and the download succeeded
    Reply play;
    bool ok() const { return download.status == 0 && (!played || play.status == 0); }
    // The failure as the window titles it ("<title>: <message>"), or empty on success.
    std::string failure() const;
};

// `settings` is the SigGenSettings record (Title, Frequency, SamplingRate, ...). The stored
// waveform is never changed: corrections work on a copy.
DownloadOutcome downloadWaveform(const host::Array& waveform, const host::Array& markers, const host::Array& settings,
                                 const host::Array& config, bool play);

}  // namespace mexio
