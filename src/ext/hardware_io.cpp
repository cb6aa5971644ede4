#include "ext/hardware_io.h"

#include "ext/host_hooks.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "ext/io_manager.h"

namespace vesk {

namespace {

void setStatus(const std::string& text) { IOManager::instance().setStatusText(text); }

// A dotted address as it is, else the first IPv4 address the name resolves to.
bool resolveIPv4(const std::string& address, in_addr& out) {
    if (inet_pton(AF_INET, address.c_str(), &out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    out = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// poll() on one descriptor until an event or the deadline, riding out signals.
int pollUntil(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, remainingMs(deadline));
        if (ready >= 0) return ready;
        if (errno != EINTR) return -1;
    }
}

// pollUntil in slices of a tenth of a second, between which a stop request ends the wait
// (kInterrupted): a Cancel is answered within that, whatever the time-out.
constexpr int kInterrupted = -2;
int pollUntilStopped(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        if (interruptPending()) return kInterrupted;
        const auto slice = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
        const int ready = pollUntil(fd, events, slice);
        if (ready != 0 || Clock::now() >= deadline) return ready;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// HardwareIO

HardwareIO::~HardwareIO() = default;

void HardwareIO::setSerialParameter(int, int) {}

void HardwareIO::beforeBinaryData() {}

bool HardwareIO::goToLocal() { return true; }

bool HardwareIO::prepareRead() { return true; }

bool HardwareIO::confirmWrites() { return true; }

bool HardwareIO::sendCommand(const std::string& text) { return writeText(text + '\n'); }

bool HardwareIO::queryText(std::string& reply, const std::string& command, int limit) {
    if (!prepareRead()) return false;
    if (!writeText(command + '\n')) return false;
    return readText(reply, limit);
}

void HardwareIO::pause(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string printableReply(const std::string& reply, std::size_t shown) {
    std::string out;
    for (const char c : reply.substr(0, shown))
        out += static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F ? '?' : c;
    return reply.size() > shown ? out + "..." : out;
}

// ---------------------------------------------------------------------------------------
// Resource names and piece sizes

std::string gpibResourceName(int board, int primary, int secondary) {
    char name[64];
    if (secondary > 0)
        std::snprintf(name, sizeof name, "GPIB%d::%d::%d::INSTR", board, primary, secondary);
    else
        std::snprintf(name, sizeof name, "GPIB%d::%d::INSTR", board, primary);
    return name;
}

std::string serialResourceName(int port) { return "ASRL" + std::to_string(port) + "::INSTR"; }

std::string tcpipResourceName(int board, const std::string& address) {
    return "TCPIP" + std::to_string(board) + "::" + address + "::INSTR";
}

long serialPieceSize(int baudRate) {
    switch (baudRate) {
        case 300: return 32;
        case 1200: return 128;
        case 2400: return 256;
        case 4800: return 512;
        case 9600: return 1024;
        default: return 2048;
    }
}

// ---------------------------------------------------------------------------------------
// GpibIO

GpibIO::~GpibIO() { closeResource(); }

bool GpibIO::open() { return openResource(gpibResourceName(board_, primary_, secondary_)); }

void GpibIO::close() {
    // The instrument's front panel is handed back before the session goes.
    if (session_) goToLocal();
    closeResource();
}

bool GpibIO::goToLocal() {
    visaGoToLocal();
    return true;
}

// ---------------------------------------------------------------------------------------
// RS232IO

RS232IO::~RS232IO() { closeResource(); }

bool RS232IO::open() {
    if (!openResource(serialResourceName(port_))) return false;
    visaSetAttributeQuietly(VI_ATTR_ASRL_BAUD, 9600);
    visaSetAttributeQuietly(VI_ATTR_ASRL_FLOW_CNTRL, VI_ASRL_FLOW_NONE);
    visaSetAttributeQuietly(VI_ATTR_ASRL_DATA_BITS, 8);
    visaSetAttributeQuietly(VI_ATTR_ASRL_PARITY, VI_ASRL_PAR_NONE);
    visaSetAttributeQuietly(VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_ONE);
    visaSetAttributeQuietly(VI_ATTR_TMO_VALUE, 2000);
    return visaSetAttribute(VI_ATTR_TMO_VALUE, static_cast<ViAttrState>(timeout_)) && applyFlowControl() &&
           visaSetAttribute(VI_ATTR_ASRL_BAUD, static_cast<ViAttrState>(baudRate_));
}

void RS232IO::close() { closeResource(); }

bool RS232IO::applyFlowControl() {
    const ViAttrState mode = flowControl_ == 1   ? VI_ASRL_FLOW_XON_XOFF
                             : flowControl_ == 2 ? VI_ASRL_FLOW_RTS_CTS
                                                 : VI_ASRL_FLOW_NONE;
    return visaSetAttribute(VI_ATTR_ASRL_FLOW_CNTRL, mode);
}

void RS232IO::setSerialParameter(int which, int value) {
    // Stored even while closed, so that the next open applies the latest settings.
    switch (which) {
        case 0:
            baudRate_ = value;
            if (session_) visaSetAttribute(VI_ATTR_ASRL_BAUD, static_cast<ViAttrState>(value));
            break;
        case 1:
            flowControl_ = value;
            if (session_) applyFlowControl();
            break;
        case 2:
            timeout_ = value;
            if (session_) visaSetAttribute(VI_ATTR_TMO_VALUE, static_cast<ViAttrState>(value));
            break;
        default: break;
    }
}

bool RS232IO::writeBytes(const std::uint8_t* bytes, std::size_t count) {
    if (visaWriteBytes(bytes, count, serialPieceSize(baudRate_))) return true;
    IOManager& manager = IOManager::instance();
    manager.setStatusText(manager.statusText() +
                          "Current serial port setting is not stable. Reset RS-232 on the instrument and try a lower "
                          "rate or another handshake protocal.");
    return false;
}

void RS232IO::beforeBinaryData() {
    // Gives a slow serial instrument time to get ready for the block after its header.
    pause(500);
}

// ---------------------------------------------------------------------------------------
// TCPIPIO and the echo check

bool isEchoReplyTo(const std::uint8_t* bytes, std::size_t size, std::uint16_t sequence) {
    icmphdr reply{};
    if (size < sizeof reply) return false;
    std::memcpy(&reply, bytes, sizeof reply);
    return reply.type == ICMP_ECHOREPLY && ntohs(reply.un.echo.sequence) == sequence;
}

EchoResult icmpEchoCheck(const std::string& address, int attempts, int timeoutMs) {
    // An unprivileged ICMP socket; where the system does not allow one, the check is
    // skipped and the open goes on.
    FileDescriptor icmp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (icmp.get() < 0) return EchoResult::Skipped;

    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (!resolveIPv4(address, target.sin_addr)) {
        setStatus(address + " not found");
        return EchoResult::Unreachable;
    }
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        icmphdr request{};
        request.type = ICMP_ECHO;
        request.un.echo.sequence = htons(static_cast<std::uint16_t>(attempt));
        // The kernel fills in the identifier and the checksum of a ping socket.
        if (::sendto(icmp.get(), &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&target),
                     sizeof target) < 0)
            continue;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        // Stray replies to earlier attempts are skipped until this attempt's time is up.
        while (pollUntil(icmp.get(), POLLIN, deadline) > 0) {
            std::uint8_t reply[64];
            const ssize_t got = ::recv(icmp.get(), reply, sizeof reply, MSG_DONTWAIT);
            if (got > 0 && isEchoReplyTo(reply, static_cast<std::size_t>(got), static_cast<std::uint16_t>(attempt)))
                return EchoResult::Reachable;
            if (got < 0 && errno != EAGAIN && errno != EINTR) break;
        }
    }
    setStatus("Instrument " + address + " has no response");
    return EchoResult::Unreachable;
}

TCPIPIO::~TCPIPIO() { closeResource(); }

bool TCPIPIO::open() {
    if (icmpEchoCheck(address_) == EchoResult::Unreachable) return false;
    return openResource(tcpipResourceName(board_, address_));
}

void TCPIPIO::close() { closeResource(); }

// ---------------------------------------------------------------------------------------
// LanIO

LanIO::~LanIO() { close(); }

bool LanIO::open() {
    close();
    // A port outside the TCP range would otherwise be cut to 16 bits and reach some other
    // service on the host.
    if (port_ < 1 || port_ > 65535) return fail("cannot be reached: the port must be 1 to 65535");
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port_));
    // Every failure says why: the status text would otherwise still hold the last success.
    if (!resolveIPv4(address_, target.sin_addr)) return fail("cannot be reached: the address does not resolve");
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return fail(std::string("cannot be reached: ") + std::strerror(errno));
    // Headers and commands are small writes; Nagle's delay would stall each one.
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        if (errno != EINPROGRESS) return fail(std::string("cannot be reached: ") + std::strerror(errno));
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
        const int ready = pollUntilStopped(fd.get(), POLLOUT, deadline);
        if (ready == kInterrupted) return fail(std::string("was left: ") + kCancelledText);
        if (ready <= 0) return fail("did not accept a connection within " + std::to_string(timeoutMs_) + " ms");
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error != 0) return fail(std::string("cannot be reached: ") + std::strerror(error));
    }
    socket_ = fd.release();
    pending_.clear();
    pendingStart_ = 0;
    return true;
}

void LanIO::close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    pending_.clear();
    pendingStart_ = 0;
}

bool LanIO::setTimeout(int milliseconds) {
    if (milliseconds > 0) timeoutMs_ = milliseconds;
    return true;
}

bool LanIO::fail(const std::string& what) {
    setStatus("Instrument at " + address_ + ":" + std::to_string(port_) + " " + what);
    return false;
}

LanIO::Wait LanIO::waitFor(short events) {
    const int ready = pollUntilStopped(socket_, events, Clock::now() + std::chrono::milliseconds(timeoutMs_));
    return ready > 0 ? Wait::Ready : ready == 0 ? Wait::TimedOut : ready == kInterrupted ? Wait::Interrupted : Wait::Failed;
}

bool LanIO::writeText(const std::string& text) {
    return writeBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool LanIO::peerHasClosed() {
    pollfd entry{socket_, POLLRDHUP, 0};
    if (::poll(&entry, 1, 0) <= 0) return false;
    if ((entry.revents & POLLERR) != 0) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error == 0) error = ECONNRESET;
        fail(std::string("could not be written to: ") + std::strerror(error));
        return true;
    }
    if ((entry.revents & (POLLRDHUP | POLLHUP)) == 0) return false;
    fail("closed the connection");
    return true;
}

bool LanIO::writeBytes(const std::uint8_t* bytes, std::size_t count) {
    if (socket_ < 0) return fail("is not connected");
    if (interruptPending()) return fail(std::string("was left: ") + kCancelledText);
    // The first write after the instrument has closed its end would still be taken by the
    // local system and then lost.
    if (peerHasClosed()) return false;
    std::size_t sent = 0;
    // Each pass either moves bytes or waits at most one time-out, which ends the loop.
    while (sent < count) {
        const ssize_t n = ::send(socket_, bytes + sent, count - sent, MSG_NOSIGNAL);
        const int error = errno;
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            if (count >= kProgressBytes) reportProgress(sent, count);
            continue;
        }
        if (n < 0 && error == EINTR) continue;
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            const Wait wait = waitFor(POLLOUT);
            if (wait == Wait::Interrupted) return fail(std::string("was left: ") + kCancelledText);
            if (wait == Wait::TimedOut)
                return fail("did not take data for " + std::to_string(timeoutMs_) + " ms");
            if (wait == Wait::Failed) return fail(std::string("could not be written to: ") + std::strerror(errno));
            continue;
        }
        return fail(std::string("could not be written to: ") + std::strerror(n < 0 ? error : EPIPE));
    }
    return true;
}

bool LanIO::receiveMore() {
    if (socket_ < 0) return fail("is not connected");
    // Consumed bytes are dropped before the buffer grows.
    if (pendingStart_ > 0) {
        pending_.erase(0, pendingStart_);
        pendingStart_ = 0;
    }
    constexpr std::size_t kChunk = 65536;
    for (;;) {
        const std::size_t old = pending_.size();
        pending_.resize(old + kChunk);
        const ssize_t n = ::recv(socket_, pending_.data() + old, kChunk, 0);
        const int error = errno;
        pending_.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n > 0) return true;
        if (!awaitInput(n, error)) return false;
    }
}

bool LanIO::awaitInput(ssize_t received, int error) {
    if (received == 0) return fail("closed the connection");
    if (error == EINTR) return true;
    if (error != EAGAIN && error != EWOULDBLOCK) return fail(std::string("could not be read from: ") + std::strerror(error));
    const Wait wait = waitFor(POLLIN);
    if (wait == Wait::Interrupted) return fail(std::string("was left: ") + kCancelledText);
    if (wait == Wait::TimedOut) return fail("did not answer within " + std::to_string(timeoutMs_) + " ms");
    if (wait == Wait::Failed) return fail(std::string("could not be read from: ") + std::strerror(errno));
    return true;
}

bool LanIO::readText(std::string& reply, int) {
    reply.clear();
    std::size_t searched = pendingStart_;
    for (;;) {
        const std::size_t end = pending_.find('\n', searched);
        if (end != std::string::npos) {
            reply.assign(pending_, pendingStart_, end - pendingStart_);
            pendingStart_ = end + 1;
            return true;
        }
        if (pending_.size() - pendingStart_ > kMaxReplyBytes)
            return fail("sent a reply of more than " + std::to_string(kMaxReplyBytes) + " bytes without a line end");
        const std::size_t scannedFromStart = pending_.size() - pendingStart_;
        if (!receiveMore()) return false;
        searched = pendingStart_ + scannedFromStart;
    }
}

bool LanIO::readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) {
    received = 0;
    const std::size_t buffered = std::min(count, pending_.size() - pendingStart_);
    std::memcpy(buffer, pending_.data() + pendingStart_, buffered);
    pendingStart_ += buffered;
    received = buffered;
    if (received == count) return true;
    if (socket_ < 0) return fail("is not connected");
    // The rest goes straight into the caller's buffer; blocks can be large.
    while (received < count) {
        const ssize_t n = ::recv(socket_, buffer + received, count - received, 0);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            continue;
        }
        if (!awaitInput(n, errno)) return false;
    }
    return true;
}

bool LanIO::confirmWrites() {
    // Every instrument answers *OPC? once it has carried out what came before it.
    std::string reply;
    if (!queryText(reply, "*OPC?", kMaxReplyBytes)) return false;
    if (reply == "1" || reply == "+1") return true;
    return fail("did not confirm what it was sent: it answered \"" + printableReply(reply, 40) + "\" to *OPC?");
}

bool LanIO::prepareRead() {
    pending_.clear();
    pendingStart_ = 0;
    if (socket_ < 0) return true;
    // Whatever already waits is left over from an earlier exchange. Bounded, so that an
    // instrument that never stops talking cannot hold the caller here.
    std::uint8_t scratch[4096];
    for (int pass = 0; pass < 4096; ++pass) {
        const ssize_t n = ::recv(socket_, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n <= 0) break;
    }
    return true;
}

}  // namespace vesk
