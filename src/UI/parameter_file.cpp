#include "UI/parameter_file.h"

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
    if (const host::Array* sigGen = contents.findField("sigGenParameters")) file.sigGen = *sigGen;
    return file;
}

void writeParameterFile(const std::string& path, const host::Array& parameters, const host::Array& sigGen) {
    host::saveMatFile(path, {{"fileParameters", parameters}, {"filename", host::Array::string(path)}, {"sigGenParameters", sigGen}});
}

}  // namespace ui
