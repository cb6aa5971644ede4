#include "app/generate.h"

#include <filesystem>
#include <string>

#include "MexIO/waveform_export.h"
#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "UI/parameter_file.h"
#include "host/error.h"
#include "host/mat_file.h"
#include "host/random.h"
#include "host/records.h"
#include "host/text.h"

namespace app {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string fieldList(const host::Array& record, const std::string& prefix) {
    std::string list;
    for (const auto& name : record.fieldNames()) list += (list.empty() ? "" : ", ") + prefix + name;
    return list;
}

}  // namespace

void applySetting(host::Array& parameters, std::string_view assignment) {
    const std::string text(assignment);
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw host::Error("--set " + text + ": expected NAME=VALUE, for example OverSampling=8.");
    const std::string name = text.substr(0, eq), value = text.substr(eq + 1);

    host::Array* record = &parameters;
    std::string field = name, prefix;
    if (name.rfind("slot.", 0) == 0) {
        record = parameters.findField("slot");
        if (!record || !record->isStruct()) throw host::Error("--set " + name + ": the parameter set has no slot record.");
        field = name.substr(5);
        prefix = "slot.";
    }
    host::Array* target = record->findField(field);
    if (!target || field == "slot")
        throw host::Error("--set " + name + ": no such parameter. Known: " + fieldList(parameters, "") + ", " +
                          fieldList(*parameters.findField("slot"), "slot.") + ".");
    if (target->isChar()) {
        *target = host::Array::string(value);
        return;
    }
    const std::vector<double> numbers = host::parseNumbers(value);
    if (numbers.empty()) throw host::Error("--set " + name + ": '" + value + "' is not a number.");
    host::Array replacement = host::Array::zeros(std::max<std::size_t>(target->rows(), 1), std::max<std::size_t>(target->cols(), 1));
    if (numbers.size() == 1) {
        for (std::size_t i = 0; i < replacement.numel(); ++i) replacement.setReal(i, numbers[0]);
    } else if (numbers.size() == target->numel()) {
        for (std::size_t i = 0; i < numbers.size(); ++i) replacement.setReal(i, numbers[i]);
    } else if (target->isEmpty() || target->isVector()) {
        replacement = host::Array::row(numbers);  // a bit row such as dataSourceBitstream
    } else {
        throw host::Error("--set " + name + ": give one number or " + std::to_string(target->numel()) + " numbers (" +
                          std::to_string(target->rows()) + " x " + std::to_string(target->cols()) + "), not " +
                          std::to_string(numbers.size()) + ".");
    }
    if (prefix.empty() && field == "OverSampling")
        onex::setOverSampling(parameters, replacement.realAt(0));
    else
        *target = std::move(replacement);
}

int runGenerate(const GenerateOptions& o, std::ostream& out, std::ostream& err) {
    try {
        const std::string extension = lower(std::filesystem::path(o.out).extension().string());
        if (extension != ".mat" && extension != ".bin")
            throw host::Error("--out " + o.out + ": the file name must end in .mat (MAT file) or .bin (binary I/Q export).");
        host::Array parameters = onex::defaultParameters();
        if (!o.params.empty()) parameters = ui::readParameterFile(o.params, onex::kParameterFileFormatId).parameters;
        for (const auto& s : o.sets) applySetting(parameters, s);
        if (o.seed) host::seedRandom(*o.seed);
        host::record("parameters") = parameters;

        if (!o.quiet) err << "Computing the frame...\n";
        onex::Calculate();
        const host::Array& waveform = host::record("waveform");
        const std::size_t samples = waveform.numel();
        const double sampleRate = onex::kChipRate * host::record("parameters").field("OverSampling").realAt(0);
        if (extension == ".mat") {
            // The records are not needed after this: move them rather than copy two frames.
            host::MatVariables variables;
            variables.emplace_back("waveform", std::move(host::record("waveform")));
            variables.emplace_back("markers", std::move(host::record("markers")));
            variables.emplace_back("sampleRate", host::Array::scalar(sampleRate));
            host::saveMatFile(o.out, variables);
        } else {
            host::ComplexVector iq(samples);
            for (std::size_t i = 0; i < samples; ++i) iq[i] = waveform.complexAt(i);
            std::string why;
            if (!mexio::saveBrindleWaveform(iq, o.out, 1.0, &why))
                throw host::Error("cannot write " + o.out + (why.empty() ? "." : ": " + why));
        }
        out << "wrote " << o.out << ": " << samples << " samples at " << host::num2str(sampleRate) << " samples/s\n";
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd generate: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
