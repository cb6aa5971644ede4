#pragma once
// A one-shot TCP server on 127.0.0.1 for transport tests: each accepted connection is
// handed to a script, and the server gives up by itself after its deadline.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace ext_test {

class LoopbackServer {
public:
    using Script = std::function<void(int fd)>;

    explicit LoopbackServer(Script script, int connections = 1,
                            std::chrono::milliseconds deadline = std::chrono::seconds(10))
        : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, connections, deadline] {
            const auto end = std::chrono::steady_clock::now() + deadline;
            for (int served = 0; served < connections && !stop_; ++served) {
                int fd = -1;
                while (fd < 0 && !stop_ && std::chrono::steady_clock::now() < end) {
                    pollfd entry{listener_, POLLIN, 0};
                    if (::poll(&entry, 1, 50) > 0) fd = ::accept(listener_, nullptr, nullptr);
                }
                if (fd < 0) return;
                script_(fd);
                ::close(fd);
            }
        });
    }

    ~LoopbackServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }

    std::uint16_t port() const { return port_; }

    // Reads up to and including the next LF, giving up after `timeout`.
    static std::string readLine(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + timeout;
        char c = 0;
        while (std::chrono::steady_clock::now() < end) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0) continue;
            if (::recv(fd, &c, 1, 0) != 1) break;
            line += c;
            if (c == '\n') break;
        }
        return line;
    }

    static std::string readExactly(int fd, std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::string data(count, '\0');
        std::size_t got = 0;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (got < count && std::chrono::steady_clock::now() < end) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0) continue;
            const ssize_t n = ::recv(fd, data.data() + got, count - got, 0);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        data.resize(got);
        return data;
    }

    static void sendAll(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }

private:
    Script script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace ext_test
