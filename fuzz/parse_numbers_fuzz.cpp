// Text typed into an entry box: the reader must return numbers or nothing, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "OneX/parameters.h"
#include "host/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)host::parseNumbers(text);
    const double offset = onex::pilotOffsetIndexEntry(text);
    if (!(offset >= 0 && offset <= 511)) __builtin_trap();
    const double gain = onex::idleSlotGainEntry(text);
    if (!(gain >= -80 && gain <= 0)) __builtin_trap();
    return 0;
}
