#include "MexIO/download_action.h"

#include "host/convert.h"
#include "host/error.h"
#include "host/interrupt.h"

namespace mexio {

namespace {

const host::Array& setting(const host::Array& settings, const char* name) {
    const host::Array* f = settings.isStruct() ? settings.findField(name) : nullptr;
    if (!f) throw host::Error(std::string("The signal generator settings have no field '") + name + "'.");
    return *f;
}

std::string text(const host::Array& a) { return a.isChar() ? a.text() : std::string(); }

}  // namespace

std::string DownloadOutcome::failure() const {
    if (download.status != 0) return std::string(kDownloadFailedTitle) + ": " + text(download.response);
    if (played && play.status != 0) return std::string(kSetupFailedTitle) + ": " + text(play.response);
    return {};
}

DownloadOutcome downloadWaveform(const host::Array& waveform, const host::Array& markers, const host::Array& settings,
                                 const host::Array& config, bool play) {
    const host::Array& title = setting(settings, "Title");
    if (!title.isChar() || title.isEmpty()) throw host::Error("The signal generator settings' Title must be a waveform name.");
    const double frequency = host::realScalar(setting(settings, "Frequency"), {"Download", "Frequency"});
    const double sampleRate = host::realScalar(setting(settings, "SamplingRate"), {"Download", "SamplingRate"});

    DownloadOutcome out;
    host::setProgressStep("Asking the instrument what it is");
    out.corrections = GetCorrectionData(frequency, config);
    if (host::interruptRequested()) {
        out.download = {-1, host::Array::string(kDownloadCancelled)};
        return out;
    }
    if (out.corrections.available()) {
        CorrectedWaveform corrected = applyCorrections(host::complexVector(waveform, {"Download", "waveform"}),
                                                       out.corrections.x, sampleRate, out.corrections.noFlatness != 0);
        out.rfApplied = corrected.rfApplied;
        out.iqApplied = corrected.iqApplied;
        out.correctionFailures = std::move(corrected.failures);
        host::Array x = host::toRow(corrected.x);
        x.makeComplex();
        x.reshape(waveform.rows(), waveform.cols());
        out.download = OrvexDownLoadWrap(x, markers, title.text(), config);
    } else {
        out.download = OrvexDownLoadWrap(waveform, markers, title.text(), config);
    }
    if (play && out.download.status == 0) {
        out.played = true;
        out.play = OrvexPlay(title.text(), settings, config);
    }
    return out;
}

}  // namespace mexio
