#pragma once
// A plain TCP client for talking to the simulated generator byte by byte, with a time-out on
// every read so that a silent or broken server fails a test instead of hanging it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/unique_fd.h"

class RawClient {
public:
    explicit RawClient(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("connect to 127.0.0.1:" + std::to_string(port) + " failed");
    }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // A reply up to LF, without it; nothing on time-out or a closed connection.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (const auto lf = buffer_.find('\n'); lf != std::string::npos) {
                std::string line = buffer_.substr(0, lf);
                buffer_.erase(0, lf + 1);
                return line;
            }
            if (!receive(deadline)) return std::nullopt;
        }
    }

    std::optional<std::string> readExact(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (buffer_.size() < count)
            if (!receive(deadline)) return std::nullopt;
        std::string out = buffer_.substr(0, count);
        buffer_.erase(0, count);
        return out;
    }

    // True when the server closes the connection within the time-out.
    bool closedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (receive(deadline)) buffer_.clear();
        return closed_;
    }

private:
    bool receive(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || closed_) return false;
        pollfd wait{socket_.get(), POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) != 1) return false;
        char chunk[4096];
        const ssize_t n = ::recv(socket_.get(), chunk, sizeof chunk, 0);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    sim::UniqueFd socket_;
    std::string buffer_;
    bool closed_ = false;
};
