#pragma once
// A zlib stream (a deflate block of the fixed codes, then the Adler-32 check) for data made
// of literal bytes and repeats of the bytes just before: quick to make, and small where the
// data is long runs, as the marker rows of a long waveform are. Any zlib reader inflates it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

class RunDeflater {
public:
    RunDeflater();
    void literals(const std::uint8_t* bytes, std::size_t n);
    // `copies` more copies of the last `period` bytes (1 ... 64, and that many already given).
    void repeat(std::size_t period, std::size_t copies);
    // The whole stream; the deflater is spent.
    std::vector<std::uint8_t> finish();
    std::uint64_t inflatedBytes() const { return total_; }

private:
    void bits(std::uint32_t value, unsigned count);  // the low `count` bits, first bit first
    void huffman(std::uint32_t code, unsigned length);  // a code, highest bit first
    void literal(std::uint8_t byte);
    void match(std::size_t length, std::size_t distance);

    std::vector<std::uint8_t> out_;
    std::uint64_t pending_ = 0;
    unsigned pendingBits_ = 0;
    std::uint32_t a_ = 1, b_ = 0;  // Adler-32 sums
    std::uint64_t total_ = 0;
    std::uint8_t recent_[64] = {};  // the last bytes given, for repeats, newest at the end
};

}  // namespace host
