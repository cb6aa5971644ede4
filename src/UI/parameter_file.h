#pragma once
// Parameter files: a saved waveform set-up, the variables `fileParameters` (the parameter
// set), `sigGenParameters` (the signal generator settings) and `filename` in a MAT file.

#include <string>

#include "host/array.h"

namespace ui {

inline constexpr const char* kLoadErrorTitle = "Error Loading File";

struct ParameterFile {
    host::Array parameters;  // fileParameters
    host::Array sigGen;      // sigGenParameters (empty when the file has none)
};

// Reads a parameter file and checks its layout: a file that cannot be read raises the
// reader's message; one without `fileParameters`, without its format text, or with a
// different format text raises "<file>\nhas an Invalid File Format." (Structure,
// Parameter ID). The set itself is not checked field by field here.
ParameterFile readParameterFile(const std::string& path, const std::string& expectedFormatId);

// Writes the three variables of a parameter file.
void writeParameterFile(const std::string& path, const host::Array& parameters, const host::Array& sigGen);

// The connection settings kept between runs, in the working folder.
inline constexpr const char* kConfigFileName = "rfIOConfig.mat";

// Writes the configuration record as `fileParameters`; a failure is ignored.
void saveConfig(const host::Array& configuration, const std::string& path = kConfigFileName);

// The saved configuration record with LastParameterFilename emptied, or [] when there is no
// readable file holding one.
host::Array loadConfig(const std::string& path = kConfigFileName);

}  // namespace ui
