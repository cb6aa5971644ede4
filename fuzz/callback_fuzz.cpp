// Callback texts come from layout files: any text must be read or refused with a host error,
// never crash, hang or run anything.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/error.h"
#include "windows/gui/callback.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const windows::gui::ParsedCallback call = windows::gui::parseCallback(text);
        // What was read is a plain name and plain values: a name never starts with a digit.
        if (call.function.empty() || (call.function[0] >= '0' && call.function[0] <= '9')) __builtin_trap();
    } catch (const host::Error&) {
    }
    return 0;
}
