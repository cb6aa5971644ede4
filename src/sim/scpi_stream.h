#pragma once
// Splits the byte stream an instrument receives into program messages: text up to LF, with
// IEEE 488.2 arbitrary blocks ("#" n digits, then the count in n digits, then the data; or
// "#0" data up to LF) embedded in it. Text and binary arrive in one stream, so the parser has
// to know where a block starts to avoid reading its bytes as command text; it is a byte-wise
// state machine so that data may arrive split at any point. Memory stays bounded whatever the
// input: a text line longer than the limit is dropped, a declared block over the limit makes
// the stream unusable (the caller closes the connection) instead of being buffered.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

struct ScpiMessage {
    // The text without its LF (and without a CR before it); each block appears in it as
    // the placeholder "<block N bytes>", so the text can be logged and parsed as a command.
    std::string text;
    std::vector<std::vector<std::uint8_t>> blocks;  // in the order they appeared
};

class ScpiStreamParser {
public:
    struct Limits {
        std::size_t maxLineBytes = 64u << 10;     // text of one message, placeholders included
        std::size_t maxBlockBytes = 256u << 20;   // all blocks of one message together
    };
    struct BlockProgress {
        std::size_t declared;  // 0 for an indefinite-length ("#0") block
        std::size_t received;
    };
    using Sink = std::function<void(ScpiMessage&&)>;

    explicit ScpiStreamParser(Limits limits);

    // Consumes all of `bytes`, handing each completed message to `sink` as soon as its LF is
    // seen. Returns false when the stream has become unusable (a declared block over the
    // limit); from then on input is ignored until reset().
    bool feed(std::span<const std::uint8_t> bytes, const Sink& sink);
    void reset();

    bool failed() const { return state_ == State::Failed; }
    // The definite-length block being received, if any.
    std::optional<BlockProgress> blockProgress() const;
    // Malformed input that was skipped: over-long lines and broken block headers.
    std::size_t recoveredErrors() const { return recoveredErrors_; }
    // Bytes held for the message in progress.
    std::size_t bufferedBytes() const;

private:
    enum class State { Text, Hash, Count, Data, Indefinite, DiscardLine, Failed };

    void text(std::uint8_t byte, const Sink& sink);
    bool appendText(char c);
    void appendPlaceholder();
    void finishBlock();
    void finishMessage(const Sink& sink);
    void startNewMessage();

    Limits limits_;
    State state_ = State::Text;
    ScpiMessage message_;
    std::size_t messageBlockBytes_ = 0;  // all blocks of message_ so far
    char quote_ = 0;                     // the quote character of an open string, or 0
    unsigned digitsLeft_ = 0;
    std::size_t declared_ = 0;
    std::string headerDigits_;
    std::vector<std::uint8_t> block_;
    std::size_t recoveredErrors_ = 0;
};

}  // namespace sim
