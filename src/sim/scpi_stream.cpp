#include "sim/scpi_stream.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
// Blocks grow as their bytes arrive; reserving the whole declared size up front would let a
// header alone claim the limit.
constexpr std::size_t initialBlockReserve = 1u << 20;
}  // namespace

ScpiStreamParser::ScpiStreamParser(Limits limits) : limits_(limits) {}

void ScpiStreamParser::reset() {
    startNewMessage();
    block_ = {};
    headerDigits_.clear();
    declared_ = 0;
    digitsLeft_ = 0;
}

std::optional<ScpiStreamParser::BlockProgress> ScpiStreamParser::blockProgress() const {
    if (state_ == State::Data) return BlockProgress{declared_, block_.size()};
    if (state_ == State::Indefinite) return BlockProgress{0, block_.size()};
    return std::nullopt;
}

std::size_t ScpiStreamParser::bufferedBytes() const {
    return message_.text.size() + messageBlockBytes_ + block_.size();
}

bool ScpiStreamParser::feed(std::span<const std::uint8_t> bytes, const Sink& sink) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t* here = bytes.data() + i;
        const std::size_t available = bytes.size() - i;
        switch (state_) {
        case State::Failed:
            return false;
        case State::Data: {
            const std::size_t take = std::min(declared_ - block_.size(), available);
            block_.insert(block_.end(), here, here + take);
            i += take;
            if (block_.size() == declared_) finishBlock();
            break;
        }
        case State::Indefinite: {
            const auto* lf = static_cast<const std::uint8_t*>(std::memchr(here, '\n', available));
            const std::size_t take = lf ? static_cast<std::size_t>(lf - here) : available;
            if (take > limits_.maxBlockBytes - messageBlockBytes_ - block_.size()) {
                state_ = State::Failed;
                return false;
            }
            block_.insert(block_.end(), here, here + take);
            i += take;
            if (lf) {
                ++i;
                finishBlock();
                if (state_ == State::Text) finishMessage(sink);
                else startNewMessage();  // the placeholder overflowed the line: message dropped
            }
            break;
        }
        case State::DiscardLine: {
            const auto* lf = static_cast<const std::uint8_t*>(std::memchr(here, '\n', available));
            if (!lf) return true;
            i += static_cast<std::size_t>(lf - here) + 1;
            startNewMessage();
            break;
        }
        default:
            text(*here, sink);
            ++i;
            if (state_ == State::Failed) return false;
        }
    }
    return state_ != State::Failed;
}

void ScpiStreamParser::text(std::uint8_t byte, const Sink& sink) {
    const char c = static_cast<char>(byte);
    switch (state_) {
    case State::Text:
        // LF ends a message even inside an unterminated string, so garbage cannot swallow
        // the commands after it.
        if (c == '\n') {
            finishMessage(sink);
        } else if (quote_ != 0) {
            if (c == quote_) quote_ = 0;  // a doubled quote reopens at once: still correct
            appendText(c);
        } else if (c == '"' || c == '\'') {
            quote_ = c;
            appendText(c);
        } else if (c == '#') {
            state_ = State::Hash;
        } else {
            appendText(c);
        }
        return;
    case State::Hash:
        if (c >= '1' && c <= '9') {
            digitsLeft_ = static_cast<unsigned>(c - '0');
            headerDigits_.assign(1, c);
            state_ = State::Count;
        } else if (c == '0') {
            block_.clear();
            state_ = State::Indefinite;
        } else {
            // Not a block: "#H1F" and the like are numbers in other bases.
            state_ = State::Text;
            if (appendText('#')) text(byte, sink);
        }
        return;
    case State::Count:
        if (c >= '0' && c <= '9') {
            headerDigits_.push_back(c);
            if (--digitsLeft_ > 0) return;
            // At most nine digits: the count fits without overflow.
            std::size_t count = 0;
            for (std::size_t k = 1; k < headerDigits_.size(); ++k)
                count = count * 10 + static_cast<std::size_t>(headerDigits_[k] - '0');
            if (count > limits_.maxBlockBytes - messageBlockBytes_) {
                state_ = State::Failed;
                return;
            }
            declared_ = count;
            block_.clear();
            block_.reserve(std::min(count, initialBlockReserve));
            state_ = State::Data;
            if (count == 0) finishBlock();
            return;
        }
        // A broken header is kept as text, so that the log shows what came, and reading
        // goes on with this byte.
        ++recoveredErrors_;
        state_ = State::Text;
        if (!appendText('#')) return;
        for (char digit : headerDigits_)
            if (!appendText(digit)) return;
        text(byte, sink);
        return;
    default:
        return;
    }
}

bool ScpiStreamParser::appendText(char c) {
    if (message_.text.size() >= limits_.maxLineBytes) {
        ++recoveredErrors_;
        message_ = {};
        messageBlockBytes_ = 0;
        state_ = State::DiscardLine;
        return false;
    }
    message_.text.push_back(c);
    return true;
}

void ScpiStreamParser::appendPlaceholder() {
    const std::string placeholder = "<block " + std::to_string(message_.blocks.back().size()) + " bytes>";
    for (char c : placeholder)
        if (!appendText(c)) return;
}

void ScpiStreamParser::finishBlock() {
    messageBlockBytes_ += block_.size();
    message_.blocks.push_back(std::move(block_));
    block_ = {};
    state_ = State::Text;
    appendPlaceholder();
}

void ScpiStreamParser::finishMessage(const Sink& sink) {
    if (!message_.text.empty() && message_.text.back() == '\r') message_.text.pop_back();
    ScpiMessage done = std::move(message_);
    startNewMessage();
    sink(std::move(done));
}

void ScpiStreamParser::startNewMessage() {
    message_ = {};
    messageBlockBytes_ = 0;
    quote_ = 0;
    state_ = State::Text;
}

}  // namespace sim
