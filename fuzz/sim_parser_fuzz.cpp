// Bytes a client might send the simulated generator: the stream parser and the instrument
// behind it must neither crash nor hold more than their limits, however the stream is split.
#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/instrument.h"
#include "sim/scpi_stream.h"

namespace {
constexpr std::size_t maxLine = 4096;
constexpr std::size_t maxBlock = 64u << 10;
constexpr std::size_t maxStored = 256u << 10;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte picks the model, the second how the stream is cut into reads.
    sim::Instrument instrument(data[0] & 1 ? sim::Model::Pellar : sim::Model::Corvane, maxStored, {});
    if (data[0] & 2) {
        sim::Faults faults;
        faults.garbageReplies = (data[0] & 4) != 0;
        faults.idnOverride = (data[0] & 8) ? "x,yB" : "";
        instrument.setFaults(faults);
    }
    const std::size_t piece = 1 + data[1] % 61;
    std::span<const std::uint8_t> stream(data + 2, size - 2);

    sim::ScpiStreamParser parser({maxLine, maxBlock});
    const auto sink = [&](sim::ScpiMessage&& message) {
        std::size_t blockBytes = 0;
        for (const auto& block : message.blocks) blockBytes += block.size();
        if (blockBytes > maxBlock || message.text.size() > maxLine) __builtin_trap();
        const std::string reply = instrument.execute(message);
        // A line of queries stops once its reply outgrows the memory plus some slack; the
        // last query may add one more file or catalogue (4096 names of at most 256 bytes).
        if (reply.size() > 2 * maxStored + (1u << 20) + 4096 * 300) __builtin_trap();
    };
    while (!stream.empty()) {
        const std::size_t take = std::min(piece, stream.size());
        if (!parser.feed(stream.first(take), sink)) parser.reset();  // as a new connection would
        if (parser.bufferedBytes() > maxLine + maxBlock + 64) __builtin_trap();
        stream = stream.subspan(take);
    }
    if (instrument.storedBytes() > maxStored) __builtin_trap();
    return 0;
}
