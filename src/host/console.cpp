#include "host/console.h"

#include <iostream>

namespace host {

namespace {
std::string& last() {
    static std::string text;
    return text;
}
}  // namespace

void warning(std::string_view message) {
    last() = std::string(message);
    std::cerr << "Warning: " << message << '\n';
}

std::string lastWarning() { return last(); }
void clearLastWarning() { last().clear(); }

}  // namespace host
