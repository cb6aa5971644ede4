#pragma once
// host::Error: the host error. Library code throws it; whoever started the action
// (a dispatcher, the command line, a C entry point) decides how to show its message.

#include <stdexcept>
#include <string>

namespace host {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, std::string identifier = {})
        : std::runtime_error(message), identifier_(std::move(identifier)) {}

    const std::string& identifier() const { return identifier_; }

private:
    std::string identifier_;
};

// The host's message for an index past the end of an array.
inline constexpr const char* kIndexExceeds = "Index exceeds matrix dimensions.";

}  // namespace host
