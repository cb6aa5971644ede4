#include "sim/simulated_generator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace sim {

namespace {

using namespace std::chrono_literals;

// More clients than an instrument test ever opens at once; further ones are closed at once,
// which together with the parser's limits bounds the memory a flood of clients can take.
constexpr std::size_t maxConnections = 8;
constexpr int pollIntervalMs = 50;  // how soon stop() and the idle time-out take effect
constexpr std::size_t receiveChunk = 64u << 10;
constexpr int receivesPerWakeup = 16;
constexpr int acceptsPerWakeup = 16;

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

struct SimulatedGenerator::Connection {
    Connection(UniqueFd fd, ScpiStreamParser::Limits limits) : socket(std::move(fd)), parser(limits) {}
    UniqueFd socket;
    ScpiStreamParser parser;
    std::string pending;  // replies not yet sent
    std::size_t sent = 0;
    bool closing = false;
    bool closeWhenSent = false;  // a block reply cut short by the drop fault
};

SimulatedGenerator::SimulatedGenerator(Options options)
    : options_(std::move(options)), instrument_(options_.model, options_.maxStoredBytes, options_.storeDir) {
    instrument_.setFaults(options_.faults);
}

SimulatedGenerator::~SimulatedGenerator() { stop(); }

void SimulatedGenerator::start() {
    if (thread_.joinable()) throw std::runtime_error("the simulated generator is already started");
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener.valid()) throw systemError("socket");
    const int yes = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw systemError("bind 127.0.0.1:" + std::to_string(options_.port));
    if (::listen(listener.get(), 64) != 0) throw systemError("listen");
    socklen_t length = sizeof address;
    if (::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw systemError("getsockname");
    port_ = ntohs(address.sin_port);
    listener_ = std::move(listener);
    wake_ = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_.valid()) throw systemError("eventfd");
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread(&SimulatedGenerator::serve, this);
}

void SimulatedGenerator::stop() {
    stopRequested_ = true;
    if (wake_.valid()) {
        const std::uint64_t one = 1;  // wakes the server's poll now rather than at its next interval
        [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    listener_.reset();
    running_ = false;
}

void SimulatedGenerator::setFaults(const Faults& f) {
    std::lock_guard lock(mutex_);
    instrument_.setFaults(f);
}

std::map<std::string, std::vector<std::uint8_t>> SimulatedGenerator::files() const {
    std::lock_guard lock(mutex_);
    return instrument_.files();
}

std::vector<std::string> SimulatedGenerator::commands() const {
    std::lock_guard lock(mutex_);
    return instrument_.commands();
}

std::map<std::string, std::string> SimulatedGenerator::settings() const {
    std::lock_guard lock(mutex_);
    return instrument_.settings();
}

std::size_t SimulatedGenerator::connectionsAccepted() const {
    std::lock_guard lock(mutex_);
    return connectionsAccepted_;
}

bool SimulatedGenerator::waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return instrument_.commandCount() >= count; });
}

void SimulatedGenerator::serve() {
    const ScpiStreamParser::Limits limits{64u << 10, options_.maxBlockBytes};
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<pollfd> polled;
    auto lastActivity = std::chrono::steady_clock::now();

    while (!stopRequested_) {
        polled.clear();
        polled.push_back({listener_.get(), POLLIN, 0});
        for (const auto& connection : connections) {
            const bool writing = connection->sent < connection->pending.size();
            polled.push_back({connection->socket.get(), static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0});
        }
        polled.push_back({wake_.get(), POLLIN, 0});  // last, so that connection i stays at i + 1
        const int ready = ::poll(polled.data(), polled.size(), pollIntervalMs);
        const auto now = std::chrono::steady_clock::now();
        if (ready < 0 && errno != EINTR) break;

        if (ready > 0) {
            const std::size_t known = connections.size();
            for (std::size_t i = 0; i < known; ++i) {
                Connection& connection = *connections[i];
                if ((polled[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && receive(connection))
                    lastActivity = now;
                while (!connection.closing && connection.sent < connection.pending.size()) {
                    const ssize_t n = ::send(connection.socket.get(), connection.pending.data() + connection.sent,
                                             connection.pending.size() - connection.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n > 0) {
                        connection.sent += static_cast<std::size_t>(n);
                    } else {
                        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) connection.closing = true;
                        break;
                    }
                }
                if (connection.sent == connection.pending.size()) {
                    connection.pending.clear();
                    connection.sent = 0;
                    if (connection.closeWhenSent) connection.closing = true;
                }
            }
            std::erase_if(connections, [](const auto& connection) { return connection->closing; });

            if ((polled[0].revents & POLLIN) != 0) {
                for (int k = 0; k < acceptsPerWakeup; ++k) {
                    UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
                    if (!accepted.valid()) break;
                    lastActivity = now;
                    {
                        std::lock_guard lock(mutex_);
                        ++connectionsAccepted_;
                    }
                    changed_.notify_all();
                    if (connections.size() < maxConnections)
                        connections.push_back(std::make_unique<Connection>(std::move(accepted), limits));
                }
            }
        }
        if (options_.idleTimeout > 0ms && now - lastActivity >= options_.idleTimeout) break;
    }
    connections.clear();
    // An idle stop must refuse new clients at once rather than leave them queued unanswered;
    // stop() touches the listener only after joining this thread.
    listener_.reset();
    running_ = false;
    changed_.notify_all();
}

// Reads what is waiting; false when nothing new arrived.
bool SimulatedGenerator::receive(Connection& connection) {
    std::uint8_t buffer[receiveChunk];
    bool received = false;
    for (int k = 0; k < receivesPerWakeup && !connection.closing; ++k) {
        const ssize_t n = ::recv(connection.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            received = true;
            if (!consume(connection, std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n))))
                connection.closing = true;
            if (static_cast<std::size_t>(n) < sizeof buffer) break;
        } else {
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) connection.closing = true;
            break;
        }
    }
    return received;
}

// Feeds received bytes to the parser; false when the connection must be closed.
bool SimulatedGenerator::consume(Connection& connection, std::span<const std::uint8_t> bytes) {
    const ScpiStreamParser::Sink sink = [&](ScpiMessage&& message) { deliver(connection, std::move(message)); };
    Faults faults;
    {
        std::lock_guard lock(mutex_);
        faults = instrument_.faults();
    }
    if (!faults.dropMidBlock && faults.dropAfterBlockBytes == 0) return connection.parser.feed(bytes, sink);

    // Byte by byte up to a block header, then exactly to the point of the drop, so that it
    // happens there however the client's writes were split. A block too short for the drop
    // passes whole.
    while (!bytes.empty()) {
        std::size_t take = 1;
        if (const auto progress = connection.parser.blockProgress()) {
            const std::size_t cut = faults.dropMidBlock ? progress->declared / 2 : faults.dropAfterBlockBytes;
            const bool drops = faults.dropMidBlock || cut < progress->declared;
            if (drops && progress->received >= cut) {
                std::lock_guard lock(mutex_);
                instrument_.clearDrop();
                return false;
            }
            take = std::clamp<std::size_t>((drops ? cut : progress->declared) - progress->received, 1, bytes.size());
        }
        if (!connection.parser.feed(bytes.first(take), sink)) return false;
        bytes = bytes.subspan(take);
    }
    return true;
}

void SimulatedGenerator::deliver(Connection& connection, ScpiMessage&& message) {
    // What a dropped connection still had on its way is lost with it.
    if (connection.closing) return;
    std::string reply;
    bool cut = false;
    {
        std::lock_guard lock(mutex_);
        reply = instrument_.execute(message);
        if (instrument_.countTowardsDrop()) {
            connection.closing = true;
            return;
        }
        // The drop fault also cuts a block the instrument sends: half of it, then the end.
        if (instrument_.faults().dropMidBlock && reply.size() > 4 && reply.front() == '#') {
            instrument_.clearDrop();
            reply.resize(reply.size() / 2);
            cut = true;
        }
    }
    changed_.notify_all();
    if (connection.closing || connection.closeWhenSent || reply.empty()) return;
    // A client that queries without ever reading is cut off rather than buffered for.
    if (connection.pending.size() + reply.size() > 2 * options_.maxStoredBytes + (4u << 20)) {
        connection.closing = true;
        return;
    }
    connection.pending += reply;
    connection.closeWhenSent = cut;
}

namespace {
volatile std::sig_atomic_t stopSignal = 0;
void onStopSignal(int) { stopSignal = 1; }
}  // namespace

int runSimulatorCommand(const Options& options, std::ostream& out, std::ostream& err, bool quiet) {
    SimulatedGenerator generator(options);
    try {
        generator.start();
    } catch (const std::exception& e) {
        err << "onexfwd sim: " << e.what() << std::endl;
        return 1;
    }
    out << "listening on 127.0.0.1:" << generator.port() << " (" << modelName(options.model) << ")" << std::endl;

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    stopSignal = 0;
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);
    while (stopSignal == 0 && generator.running()) std::this_thread::sleep_for(100ms);
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);

    const bool idle = !generator.running();
    generator.stop();
    if (!quiet) out << (idle ? "stopped after the idle time-out" : "stopped") << std::endl;
    return 0;
}

}  // namespace sim
