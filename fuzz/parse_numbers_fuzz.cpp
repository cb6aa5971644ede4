// Text typed into an entry box: the reader must return numbers or nothing, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "OneX/parameters.h"
#include "host/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)host::parseNumbers(text);
    // A number always lands in the range; no number keeps the previous value exactly.
    const double offset = onex::pilotOffsetIndexEntry(text, 7);
    if (!(offset >= 0 && offset <= 511)) __builtin_trap();
    const double gain = onex::idleSlotGainEntry(text, -12.5);
    if (!(gain >= -80 && gain <= 0)) __builtin_trap();
    if (!host::largestNumber(text) && (offset != 7 || gain != -12.5)) __builtin_trap();
    return 0;
}
