#include "UI/parameter_file.h"

#include <exception>

#include "OneX/parameters.h"
#include "host/error.h"
#include "host/mat_file.h"

namespace ui {

ParameterFile readParameterFile(const std::string& path, const std::string& expectedFormatId) {
    const host::Array contents = host::loadMatFile(path);
    const host::Array* parameters = contents.findField("fileParameters");
    if (!parameters || !parameters->isStruct() || parameters->numel() != 1)
        throw host::Error(path + "\nhas an Invalid File Format.");
    const host::Array* id = parameters->findField("ParameterFileFormat_ID");
    if (!id) throw host::Error(path + "\nhas an Invalid File Structure.");
    if (!id->isChar() || id->text() != expectedFormatId) throw host::Error(path + "\nhas an Invalid File Parameter ID.");
    ParameterFile file{*parameters, {}};
    onex::addMissingFields(file.parameters);  // a file of an older version loads with the defaults
    if (const host::Array* sigGen = contents.findField("sigGenParameters")) file.sigGen = *sigGen;
    return file;
}

void writeParameterFile(const std::string& path, const host::Array& parameters, const host::Array& sigGen) {
    host::saveMatFile(path, {{"fileParameters", parameters}, {"filename", host::Array::string(path)}, {"sigGenParameters", sigGen}});
}

void saveConfig(const host::Array& configuration, const std::string& path) {
    try {
        host::saveMatFile(path, {{"fileParameters", configuration}});
    } catch (const std::exception&) {
        // A connection that cannot be remembered is not worth an error at shutdown.
    }
}

host::Array loadConfig(const std::string& path) {
    try {
        host::Array contents = host::loadMatFile(path);
        host::Array* saved = contents.findField("fileParameters");
        if (!saved || !saved->isStruct() || saved->numel() != 1) return {};
        saved->setField("LastParameterFilename", host::Array());
        return std::move(*saved);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace ui
