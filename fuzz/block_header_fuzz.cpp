// Replies from an instrument: the definite-length block reader, the catalogue reply of the
// memory check and the identity reply must refuse or accept anything without crashing or
// reading past what was received.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ext/hardware_io.h"
#include "ext/io_manager.h"
#include "ext/signal_generator.h"

namespace {

// Hands out the fuzz input as the instrument's reply, in pieces of varying size.
class ReplaySession : public vesk::HardwareIO {
public:
    ReplaySession(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool open() override { return true; }
    void close() override {}
    bool writeText(const std::string&) override { return true; }
    bool writeBytes(const std::uint8_t*, std::size_t) override { return true; }
    bool readText(std::string& reply, int) override {
        reply.assign(reinterpret_cast<const char*>(data_), size_);
        return true;
    }
    bool readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) override {
        const std::size_t piece = 1 + (pos_ < size_ ? data_[pos_] % 7 : 0);
        received = std::min({count, size_ - pos_, piece});
        std::copy(data_ + pos_, data_ + pos_ + received, buffer);
        pos_ += received;
        return true;
    }
    bool setTimeout(int) override { return true; }
    std::size_t remaining() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        ReplaySession session(data, size);
        vesk::Corvane generator(session);
        std::size_t count = 0;
        if (generator.readBlockHeader(":MMEM:DATA? \"WFM1:F\"", count)) {
            if (count > vesk::kMaxInstrumentBlockBytes) __builtin_trap();
            // Only blocks the input can fill are read: a short one must fail, not hang.
            const std::size_t available = session.remaining();
            if (count <= available + 16) {
                std::vector<std::uint8_t> block(count);
                if (generator.readBlockData(block.data(), count) != (count <= available)) __builtin_trap();
            }
        }
    }
    {
        ReplaySession session(data, size);
        vesk::Pellar generator(session);
        (void)generator.checkMemory("Wave", 4096);
        bool unanswered = true;
        if (!vesk::selectModel(session, &unanswered)) {
            // A refused identification is named in a bounded message of printable text.
            const std::string& message = vesk::IOManager::instance().statusText();
            if (unanswered || message.size() > 400) __builtin_trap();
            for (const char c : message)
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) __builtin_trap();
        }
    }
    vesk::IOManager::releaseAll();
    return 0;
}
