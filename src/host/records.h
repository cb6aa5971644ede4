#pragma once
// The application records of process lifetime (parameters, waveform, markers, appInfo,
// configuration, ...), reached by name. Only the user-interface thread touches them.

#include <string_view>

#include "host/array.h"

namespace host {

// The record of that name, created empty ([]) on first use.
Array& record(std::string_view name);
bool hasRecord(std::string_view name);
void clearRecords();

}  // namespace host
