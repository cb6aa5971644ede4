#pragma once
// An in-memory session: records every write in order and answers reads from scripted
// replies, so that the generator classes can be checked without a network.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ext/hardware_io.h"
#include "ext/io_manager.h"

namespace ext_test {

class FakeSession : public vesk::HardwareIO {
public:
    struct Write {
        bool text;  // writeText (commands) rather than writeBytes
        std::string bytes;
    };

    bool open() override { return true; }
    void close() override {}
    bool writeText(const std::string& text) override {
        if (failWritesAfter >= 0 && static_cast<int>(writes.size()) >= failWritesAfter) return failWrite();
        writes.push_back({true, text});
        if (!text.empty() && text.back() == '\n') answer(text.substr(0, text.size() - 1));
        return true;
    }
    bool writeBytes(const std::uint8_t* bytes, std::size_t count) override {
        if (failWritesAfter >= 0 && static_cast<int>(writes.size()) >= failWritesAfter) return failWrite();
        writes.push_back({false, std::string(reinterpret_cast<const char*>(bytes), count)});
        return true;
    }
    bool readText(std::string& reply, int) override {
        if (pendingReplies.empty()) {
            vesk::IOManager::instance().setStatusText("fake: no reply");
            return false;
        }
        reply = pendingReplies.front();
        pendingReplies.erase(pendingReplies.begin());
        return true;
    }
    bool readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) override {
        received = std::min(count, std::min(input.size() - inputPos, maxChunk));
        std::copy(input.begin() + static_cast<long>(inputPos), input.begin() + static_cast<long>(inputPos + received),
                  buffer);
        inputPos += received;
        return true;
    }
    bool setTimeout(int) override { return true; }
    void beforeBinaryData() override { writes.push_back({false, "<before>"}); }
    bool prepareRead() override {
        ++prepareReads;
        return true;
    }

    // Text of all writes joined, with text commands marked, for order checks.
    std::vector<std::string> commandLines() const {
        std::vector<std::string> lines;
        for (const Write& w : writes)
            if (w.text) lines.push_back(w.bytes);
        return lines;
    }

    std::map<std::string, std::string> replies;  // query (without LF) -> reply
    std::vector<std::string> pendingReplies;
    std::vector<Write> writes;
    std::string input;  // what readBytes hands out
    std::size_t inputPos = 0;
    std::size_t maxChunk = static_cast<std::size_t>(-1);
    int failWritesAfter = -1;
    int prepareReads = 0;

private:
    void answer(const std::string& command) {
        if (auto found = replies.find(command); found != replies.end()) pendingReplies.push_back(found->second);
    }
    bool failWrite() {
        vesk::IOManager::instance().setStatusText("fake: write failed");
        return false;
    }
};

}  // namespace ext_test
