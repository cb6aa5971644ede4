#pragma once
// The host's console: warnings are printed on standard error as "Warning: <text>" and the
// last one is remembered, as the host's lastwarn does.

#include <string>
#include <string_view>

namespace host {

void warning(std::string_view message);
std::string lastWarning();
void clearLastWarning();

}  // namespace host
