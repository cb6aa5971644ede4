#include "app/generate.h"

#include <filesystem>
#include <string>

#include "MexIO/download_play.h"
#include "MexIO/waveform_export.h"
#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "UI/parameter_file.h"
#include "UI/sig_gen_panel.h"
#include "UI/sigmf_export.h"
#include "host/error.h"
#include "host/mat_file.h"
#include "host/random.h"
#include "host/records.h"
#include "host/text.h"

namespace app {

namespace {

std::string fieldList(const host::Array& record, const std::string& prefix) {
    std::string list;
    for (const auto& name : record.fieldNames()) list += (list.empty() ? "" : ", ") + prefix + name;
    return list;
}

double overSamplingOf(const host::Array& parameters) {
    const host::Array* os = parameters.isStruct() ? parameters.findField("OverSampling") : nullptr;
    return os && os->numel() == 1 && os->isNumeric() ? os->realAt(0) : 0;
}

}  // namespace

namespace {

// NAME and VALUE of "NAME=VALUE"; `option` names the command-line option in messages.
std::pair<std::string, std::string> splitAssignment(std::string_view assignment, std::string_view option,
                                                     const char* example) {
    const std::string text(assignment);
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw host::Error(std::string(option) + " " + text + ": expected NAME=VALUE, for example " + example + ".");
    return {text.substr(0, eq), text.substr(eq + 1)};
}

// The new value of a field from its text: text for a text field, else numbers by the safe
// entry reader, one filling every element or one per element.
host::Array assignedValue(const host::Array& target, const std::string& name, const std::string& value, std::string_view option,
                          bool fixedShape = false) {
    const std::string where = std::string(option) + " " + name;
    if (target.isChar()) return host::Array::string(value);
    const std::vector<double> numbers = host::parseNumbers(value);
    if (numbers.empty()) throw host::Error(where + ": '" + value + "' is not a number.");
    host::Array replacement = host::Array::zeros(std::max<std::size_t>(target.rows(), 1), std::max<std::size_t>(target.cols(), 1));
    if (numbers.size() == 1) {
        for (std::size_t i = 0; i < replacement.numel(); ++i) replacement.setReal(i, numbers[0]);
    } else if (numbers.size() == target.numel()) {
        for (std::size_t i = 0; i < numbers.size(); ++i) replacement.setReal(i, numbers[i]);
    } else if (!fixedShape && (target.isEmpty() || target.isVector())) {
        replacement = host::Array::row(numbers);  // a bit row such as dataSourceBitstream
    } else {
        throw host::Error(where + ": give one number or " + std::to_string(target.numel()) + " numbers (" +
                          std::to_string(target.rows()) + " x " + std::to_string(target.cols()) + "), not " +
                          std::to_string(numbers.size()) + ".");
    }
    return replacement;
}

}  // namespace

std::vector<std::string> applySetting(host::Array& parameters, std::string_view assignment) {
    const auto [name, value] = splitAssignment(assignment, "--set", "OverSampling=8");
    host::Array* record = &parameters;
    std::string field = name;
    if (name.rfind("slot.", 0) == 0) {
        record = parameters.findField("slot");
        if (!record || !record->isStruct()) throw host::Error("--set " + name + ": the parameter set has no slot record.");
        field = name.substr(5);
    }
    host::Array* target = record->findField(field);
    if (!target || field == "slot")
        throw host::Error("--set " + name + ": no such parameter. Known: " + fieldList(parameters, "") + ", " +
                          fieldList(*parameters.findField("slot"), "slot.") + ".");
    // A slot field has a value for each of the 16 slots, whatever is given.
    host::Array replacement = assignedValue(*target, name, value, "--set", record != &parameters);
    if (record == &parameters && field == "OverSampling") {
        onex::setOverSampling(parameters, replacement.realAt(0));
        return {};
    }
    if (record == &parameters && onex::packetFieldEntry(field, 0)) {
        // The packet fields are taken as the window's entries take a number: rounded, limited.
        if (field == "DATApacketInterlaces" && host::parseNumbers(value).size() != 4)
            throw host::Error("--set " + name + ": give the 4 interlace flags as a row, for example \"1 0 1 1\", not '" + value + "'.");
        if (replacement.numel() != target->numel())
            throw host::Error("--set " + name + ": give one number, not '" + value + "'.");
        std::vector<std::string> notes;
        for (std::size_t i = 0; i < replacement.numel(); ++i) {
            const double typed = replacement.realAt(i);
            if (typed != typed) throw host::Error("--set " + name + ": '" + value + "' is not a number.");
            const double stored = *onex::packetFieldEntry(field, typed);
            if (stored != typed) notes.push_back(name + " " + host::num2str(typed) + " taken as " + host::num2str(stored) + ".");
            replacement.setReal(i, stored);
        }
        *target = std::move(replacement);
        onex::updateProjectedLength(parameters);
        return notes;
    }
    *target = std::move(replacement);
    return {};
}

std::vector<std::string> applySigGenSetting(host::Array& settings, std::string_view assignment) {
    const auto [name, value] = splitAssignment(assignment, "--settings", "Frequency=2.2e9");
    host::Array* target = settings.isStruct() ? settings.findField(name) : nullptr;
    if (!target) throw host::Error("--settings " + name + ": no such setting. Known: " + fieldList(settings, "") + ".");
    // The panel's rounding and limits, on this setting alone, as if typed into its box.
    host::Array one = host::Array::structure();
    one.setField(name, assignedValue(*target, name, value, "--settings"));
    std::vector<std::string> notes;
    try {
        notes = ui::panel::limitSettings(one, true);
    } catch (const host::Error&) {
        throw host::Error("--settings " + name + ": '" + value + "' is not a number.");
    }
    *target = one.field(name);
    return notes;
}

FrameSetup prepareFrame(const std::string& paramsFile, const std::vector<std::string>& sets,
                        const std::vector<std::string>& settings) {
    FrameSetup f{onex::defaultParameters(), {}};
    if (!paramsFile.empty()) {
        ui::ParameterFile file = ui::readParameterFile(paramsFile, onex::kParameterFileFormatId);
        f.parameters = std::move(file.parameters);
        if (file.sigGen.isStruct() && file.sigGen.fieldCount() > 0) f.sigGen = std::move(file.sigGen);
    }
    const double loadedOverSampling = overSamplingOf(f.parameters);
    if (!f.sigGen.isStruct()) f.sigGen = mexio::initialSigGenSettings(loadedOverSampling);
    for (std::string& note : ui::panel::limitSettings(f.sigGen, false)) f.notes.push_back(paramsFile + ": " + note);
    for (const auto& s : sets)
        for (std::string& note : applySetting(f.parameters, s)) f.notes.push_back(std::move(note));
    // As in the window: a new oversampling sets the instrument's sample clock to match.
    if (const double os = overSamplingOf(f.parameters); os != loadedOverSampling)
        f.sigGen.setField("SamplingRate", host::Array::scalar(onex::kChipRate * os));
    for (const auto& s : settings)
        for (std::string& note : applySigGenSetting(f.sigGen, s)) f.notes.push_back(std::move(note));
    return f;
}

void computeFrame(const FrameSetup& setup, std::optional<std::uint64_t> seed) {
    if (seed) host::seedRandom(*seed);
    host::record("parameters") = setup.parameters;
    host::record("SigGenSettings") = setup.sigGen;
    onex::Calculate();
}

namespace {

// The samples into the `waveform` record, as computeFrame makes them, and the chip frame
// they came from, whose markers a file writer holds out to the sample rate as it writes.
onex::ChipFrame computeWaveform(const FrameSetup& setup, std::optional<std::uint64_t> seed) {
    if (seed) host::seedRandom(*seed);
    host::record("parameters") = setup.parameters;  // the equaliser follows its filter choice
    host::record("SigGenSettings") = setup.sigGen;
    const onex::FrameInputs in = onex::frameInputsFromParameters(setup.parameters);
    onex::ChipFrame chips = onex::buildChipFrame(in);
    host::record("waveform") = onex::finishFrameArrays(chips, in, false).waveform;
    host::record("markers") = host::Array();
    return chips;
}

// The 2 x N marker rows of a MAT file (row 1 the first marker), each chip's value held for
// its `os` samples, as runs of equal columns: written compressed, they take a few hundred
// kilobytes where the plain rows of a long waveform take tens of megabytes.
host::MatColumnRuns markerRows(const onex::ChipFrame& chips, std::size_t os) {
    host::MatColumnRuns rows{2, {}};
    for (std::size_t c = 0; c < chips.marker1.size(); ++c) {
        const std::vector<double> column{static_cast<double>(chips.marker1[c]), static_cast<double>(chips.marker2[c])};
        if (!rows.runs.empty() && rows.runs.back().column == column)
            rows.runs.back().count += os;
        else
            rows.runs.push_back({column, os});
    }
    return rows;
}

}  // namespace

void checkWaveformFileName(const std::string& path, std::string_view option) {
    const std::string extension = host::lowerCase(std::filesystem::path(path).extension().string());
    if (extension != ".mat" && extension != ".bin" && !ui::isSigmfName(extension))
        throw host::Error(std::string(option) + path +
                          ": the file name must end in .mat (MAT file), .bin (binary I/Q export) or .sigmf-meta or "
                          ".sigmf-data (SigMF recording).");
}

std::string writeWaveformFile(const std::string& path, host::Array&& waveform, host::MatColumnRuns&& markers, double sampleRate,
                              const host::Array& parameters, const host::Array& sigGen) {
    checkWaveformFileName(path, "");
    const std::string extension = host::lowerCase(std::filesystem::path(path).extension().string());
    if (extension == ".mat") {
        host::MatVariables variables;
        variables.emplace_back("waveform", std::move(waveform));
        variables.emplace_back("markers", std::move(markers));
        variables.emplace_back("sampleRate", host::Array::scalar(sampleRate));
        host::saveMatFile(path, variables);
        return path;
    }
    if (extension == ".bin") {
        std::string why;
        if (!mexio::saveBrindleWaveform(waveform, path, 1.0, &why)) throw host::Error("cannot write " + path + (why.empty() ? "." : ": " + why));
        return path;
    }
    ui::writeSigmfRecording(path, waveform, parameters, sigGen);
    return ui::sigmfFiles(path).meta;  // what a signal tool opens
}

int runGenerate(const GenerateOptions& o, std::ostream& out, std::ostream& err) {
    try {
        checkWaveformFileName(o.out, "--out ");
        const FrameSetup setup = prepareFrame(o.params, o.sets, {});
        if (!o.quiet)
            for (const std::string& note : setup.notes) err << "onexfwd generate: " << note << "\n";
        if (o.progress) err << "Computing the frame...\n";
        const onex::ChipFrame chips = computeWaveform(setup, o.seed);
        const std::size_t samples = host::record("waveform").numel();
        const double overSampling = host::record("parameters").field("OverSampling").realAt(0);
        const double sampleRate = onex::kChipRate * overSampling;
        // The record is not needed after this: moved rather than copied.
        const std::string written = writeWaveformFile(o.out, std::move(host::record("waveform")),
                                                      markerRows(chips, static_cast<std::size_t>(overSampling)), sampleRate,
                                                      host::record("parameters"), host::record("SigGenSettings"));
        if (!o.quiet) out << "wrote " << written << ": " << samples << " samples at " << host::num2str(sampleRate) << " samples/s\n";
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd generate: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
