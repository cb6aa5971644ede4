// libsimvisa: a VISA library of our own with the thirteen entry points the instrument
// transports load. Every GPIB, serial (ASRL) and TCPIP resource is routed over TCP to the
// simulated signal generator, so the VISA transports can be tested and demonstrated without
// hardware or a vendor library.
//
// Environment:
//   SIMVISA_TARGET  "127.x.y.z:PORT" of the simulator; any other address is refused, so a
//                   test library can never reach beyond the machine. Read at each viOpen.
//   SIMVISA_LOG     when it names a file, one line is appended per call of interest, so that
//                   tests can check what a transport did. Fields are separated by one space;
//                   <session> and <mask> and <value> are decimal, <attr> is "0x" and eight
//                   upper-case hex digits:
//                     open <resource>              viOpen, before the name is checked
//                     close <session>              viClose
//                     setattr <session> <attr> <value>   viSetAttribute, accepted or not
//                     flush <session> <mask>       viFlush
//                     setbuf <session> <mask> <size>     viSetBuf
//                     write <session> <count>      bytes of one viBufWrite or viPrintf
//                     ren <session> <mode>         viGpibControlREN
//
// Resources (case-insensitive, "::INSTR" may be left out):
//   GPIB[board]::primary[::secondary][::INSTR]   primary and secondary 0 to 30
//   ASRL<port>[::INSTR]                          the serial settings are only recorded
//   TCPIP[board]::host[::device][::INSTR], TCPIP[board]::host::port::SOCKET
// A malformed name gives VI_ERROR_INV_RSRC_NAME; a well-formed one with no simulator to
// reach gives VI_ERROR_RSRC_NFOUND.
//
// Formatted I/O supports what the transports use: viPrintf with literal text and %s, %d,
// %i, %u, %c, %ld, %lu, %%; viScanf with %Nt (up to and including LF, at most N characters),
// %Ns (a word) and %d. Widths are required for %t and %s, as the library cannot know the
// size of the caller's buffer otherwise. Writes go out at once, so flushing the write buffer
// has nothing left to do; flushing the read buffer drops what has been received and not read.
//
// Reads honour VI_ATTR_TMO_VALUE (default 2000 ms); VI_TMO_INFINITE is capped at 60 s so that
// no test can hang. One global lock serialises calls: enough for one client thread.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ext/visa_api.h"
#include "sim/unique_fd.h"

#define SIMVISA_EXPORT extern "C" __attribute__((visibility("default")))

SIMVISA_EXPORT ViStatus viOpenDefaultRM(ViPSession vi);
SIMVISA_EXPORT ViStatus viOpen(ViSession sesn, ViRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi);
SIMVISA_EXPORT ViStatus viClose(ViObject vi);
SIMVISA_EXPORT ViStatus viPrintf(ViSession vi, ViString writeFmt, ...);
SIMVISA_EXPORT ViStatus viScanf(ViSession vi, ViString readFmt, ...);
SIMVISA_EXPORT ViStatus viBufWrite(ViSession vi, ViBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
SIMVISA_EXPORT ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
SIMVISA_EXPORT ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
SIMVISA_EXPORT ViStatus viFlush(ViSession vi, ViUInt16 mask);
SIMVISA_EXPORT ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
SIMVISA_EXPORT ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);
SIMVISA_EXPORT ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);
SIMVISA_EXPORT ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode);

// The loader resolves these by name and calls them through the types below: they must agree.
static_assert(std::is_same_v<decltype(&viOpenDefaultRM), ViOpenDefaultRMFn>);
static_assert(std::is_same_v<decltype(&viOpen), ViOpenFn>);
static_assert(std::is_same_v<decltype(&viClose), ViCloseFn>);
static_assert(std::is_same_v<decltype(&viPrintf), ViPrintfFn>);
static_assert(std::is_same_v<decltype(&viScanf), ViScanfFn>);
static_assert(std::is_same_v<decltype(&viBufWrite), ViBufWriteFn>);
static_assert(std::is_same_v<decltype(&viBufRead), ViBufReadFn>);
static_assert(std::is_same_v<decltype(&viSetBuf), ViSetBufFn>);
static_assert(std::is_same_v<decltype(&viFlush), ViFlushFn>);
static_assert(std::is_same_v<decltype(&viSetAttribute), ViSetAttributeFn>);
static_assert(std::is_same_v<decltype(&viGetAttribute), ViGetAttributeFn>);
static_assert(std::is_same_v<decltype(&viStatusDesc), ViStatusDescFn>);
static_assert(std::is_same_v<decltype(&viGpibControlREN), ViGpibControlRENFn>);

namespace {

using Clock = std::chrono::steady_clock;
using sim::UniqueFd;

// VISA's code for a format string it cannot carry out (not among the shared constants).
constexpr ViStatus statusInvalidFormat = static_cast<ViStatus>(0xBFFF003Fu);

constexpr ViUInt32 defaultTimeoutMs = 2000;
constexpr auto longestWait = std::chrono::seconds(60);
constexpr int connectTimeoutMs = 2000;
constexpr std::size_t receiveChunk = 64u << 10;
constexpr int maxDrainReceives = 64;

enum class Kind { ResourceManager, Gpib, Serial, Tcpip };

struct Session {
    Kind kind = Kind::ResourceManager;
    ViSession manager = VI_NULL;  // the resource manager that opened an instrument session
    UniqueFd socket;
    std::string input;  // received and not yet read; at most one chunk beyond what was asked
    ViUInt32 timeoutMs = defaultTimeoutMs;
    ViBoolean sendEnd = VI_TRUE;
    ViByte termChar = '\n';
    ViBoolean termCharEnabled = VI_FALSE;
    ViUInt32 baud = 9600;
    ViUInt16 dataBits = 8;
    ViUInt16 parity = VI_ASRL_PAR_NONE;
    ViUInt16 stopBits = VI_ASRL_STOP_ONE;
    ViUInt16 flowControl = VI_ASRL_FLOW_NONE;
    ViUInt16 endIn = VI_ASRL_END_TERMCHAR;
    ViUInt16 endOut = VI_ASRL_END_NONE;
};

struct Registry {
    std::mutex mutex;
    std::map<ViSession, std::unique_ptr<Session>> sessions;
    ViSession nextHandle = 1;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

Session* findSession(Registry& r, ViObject vi) {
    const auto it = r.sessions.find(vi);
    return it == r.sessions.end() ? nullptr : it->second.get();
}

Session* findInstrument(Registry& r, ViObject vi) {
    Session* session = findSession(r, vi);
    return session && session->kind != Kind::ResourceManager ? session : nullptr;
}

__attribute__((format(printf, 1, 2))) void logLine(const char* format, ...) {
    const char* path = std::getenv("SIMVISA_LOG");
    if (!path || !*path) return;
    std::FILE* file = std::fopen(path, "a");
    if (!file) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file, format, arguments);
    va_end(arguments);
    std::fputc('\n', file);
    std::fclose(file);
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::optional<unsigned> smallNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// The interface kind of a well-formed resource name.
std::optional<Kind> parseResource(std::string_view name) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t separator = name.find("::");
        parts.push_back(upper(name.substr(0, separator)));
        if (separator == std::string_view::npos) break;
        name.remove_prefix(separator + 2);
    }
    const auto boardOf = [](std::string_view head, std::string_view type) -> bool {
        if (!head.starts_with(type)) return false;
        head.remove_prefix(type.size());
        return head.empty() || smallNumber(head).has_value();
    };
    if (parts.front().starts_with("TCPIP") && parts.size() == 4 && parts.back() == "SOCKET") {
        if (!boardOf(parts[0], "TCPIP") || parts[1].empty() || !smallNumber(parts[2])) return std::nullopt;
        return Kind::Tcpip;
    }
    if (parts.size() > 1 && parts.back() == "INSTR") parts.pop_back();
    for (const std::string& part : parts)
        if (part.empty() || part.find_first_of(" \t\r\n") != std::string::npos) return std::nullopt;

    if (parts[0].starts_with("GPIB")) {
        if (!boardOf(parts[0], "GPIB") || parts.size() < 2 || parts.size() > 3) return std::nullopt;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            const auto address = smallNumber(parts[i]);
            if (!address || *address > 30) return std::nullopt;
        }
        return Kind::Gpib;
    }
    if (parts[0].starts_with("ASRL")) {
        if (parts.size() != 1 || !smallNumber(std::string_view(parts[0]).substr(4))) return std::nullopt;
        return Kind::Serial;
    }
    if (parts[0].starts_with("TCPIP")) {
        if (!boardOf(parts[0], "TCPIP") || parts.size() < 2 || parts.size() > 3) return std::nullopt;
        return Kind::Tcpip;
    }
    return std::nullopt;
}

// The simulator's address from SIMVISA_TARGET, loopback only.
std::optional<sockaddr_in> targetAddress() {
    const char* target = std::getenv("SIMVISA_TARGET");
    if (!target) return std::nullopt;
    const std::string_view text(target);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto port = smallNumber(text.substr(colon + 1));
    if (!port || *port == 0 || *port > 65535) return std::nullopt;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(*port));
    const std::string host(text.substr(0, colon));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return std::nullopt;
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127) return std::nullopt;
    return address;
}

UniqueFd connectTo(const sockaddr_in& address) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return {};
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return {};
        pollfd wait{socket.get(), POLLOUT, 0};
        if (::poll(&wait, 1, connectTimeoutMs) != 1) return {};
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return {};
    }
    return socket;
}

Clock::time_point deadlineOf(const Session& session) {
    if (session.timeoutMs == VI_TMO_INFINITE) return Clock::now() + longestWait;
    return Clock::now() + std::min<Clock::duration>(std::chrono::milliseconds(session.timeoutMs), longestWait);
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

ViStatus statusOfErrno() {
    return errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
}

// Waits for more input until the deadline and appends it to session.input.
ViStatus receiveMore(Session& session, Clock::time_point deadline) {
    std::array<char, receiveChunk> buffer;
    do {
        pollfd wait{session.socket.get(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno != EINTR) return VI_ERROR_IO;
        if (ready <= 0) continue;
        const ssize_t n = ::recv(session.socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0) {
            session.input.append(buffer.data(), static_cast<std::size_t>(n));
            return VI_SUCCESS;
        }
        if (n == 0) return VI_ERROR_CONN_LOST;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return statusOfErrno();
    } while (Clock::now() < deadline);
    return VI_ERROR_TMO;
}

ViStatus sendAll(Session& session, const void* data, std::size_t size, std::size_t& sent) {
    sent = 0;
    const auto deadline = deadlineOf(session);
    const auto* bytes = static_cast<const char*>(data);
    while (sent < size) {
        const ssize_t n = ::send(session.socket.get(), bytes + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return statusOfErrno();
        if (Clock::now() >= deadline) return VI_ERROR_TMO;
        pollfd wait{session.socket.get(), POLLOUT, 0};
        ::poll(&wait, 1, millisecondsUntil(deadline));
    }
    return VI_SUCCESS;
}

// Drops what was received and not read, including what is already waiting in the socket
// (such as the LF after a block), without waiting for more.
void discardInput(Session& session) {
    session.input.clear();
    std::array<char, receiveChunk> buffer;
    for (int k = 0; k < maxDrainReceives; ++k)
        if (::recv(session.socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT) <= 0) break;
}

// Reads a width from a format, after the '%'.
std::optional<std::size_t> formatWidth(const char*& format) {
    if (*format < '1' || *format > '9') return std::nullopt;
    std::size_t width = 0;
    while (*format >= '0' && *format <= '9') {
        if (width > 100'000'000) return std::nullopt;
        width = width * 10 + static_cast<std::size_t>(*format++ - '0');
    }
    return width;
}

// Takes up to `width` characters of the input into `out`, ending after the first character
// for which `stop` is true (that character included when `keepStop`).
template <class Stop>
ViStatus takeText(Session& session, Clock::time_point deadline, std::size_t width, Stop stop, bool keepStop,
                  std::string& out) {
    for (;;) {
        const std::size_t look = std::min(width - out.size(), session.input.size());
        const auto end = session.input.begin() + static_cast<std::ptrdiff_t>(look);
        const auto found = std::find_if(session.input.begin(), end, stop);
        if (found != end) {
            const std::size_t take = static_cast<std::size_t>(found - session.input.begin()) + (keepStop ? 1 : 0);
            out.append(session.input, 0, take);
            session.input.erase(0, take);
            return VI_SUCCESS;
        }
        out.append(session.input, 0, look);
        session.input.erase(0, look);
        if (out.size() == width) return VI_SUCCESS;
        if (const ViStatus status = receiveMore(session, deadline); status != VI_SUCCESS) return status;
    }
}

const char* describe(ViStatus status) {
    switch (status) {
    case VI_SUCCESS: return "The operation completed successfully.";
    case VI_SUCCESS_TERM_CHAR: return "The read ended at the termination character.";
    case VI_SUCCESS_MAX_CNT: return "The read ended after the requested number of bytes.";
    case VI_ERROR_SYSTEM_ERROR: return "A system error occurred in the simulated VISA library.";
    case VI_ERROR_INV_OBJECT: return "The session or object handle is not valid.";
    case VI_ERROR_RSRC_NFOUND: return "The resource is not present: no simulated instrument answers at SIMVISA_TARGET.";
    case VI_ERROR_INV_RSRC_NAME: return "The resource name is not valid.";
    case VI_ERROR_TMO: return "The time-out expired before the operation completed.";
    case VI_ERROR_NSUP_ATTR: return "The attribute is not supported by this session.";
    case VI_ERROR_NSUP_ATTR_STATE: return "The attribute value is not supported by this session.";
    case VI_ERROR_INV_SETUP: return "The operation cannot start because of an invalid setup.";
    case VI_ERROR_IO: return "An input/output error occurred.";
    case VI_ERROR_CONN_LOST: return "The connection to the instrument was lost.";
    case statusInvalidFormat: return "The format string holds a specifier this library does not support.";
    default: return nullptr;
    }
}

}  // namespace

ViStatus viOpenDefaultRM(ViPSession vi) {
    if (!vi) return VI_ERROR_INV_SETUP;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const ViSession handle = r.nextHandle++;
    r.sessions.emplace(handle, std::make_unique<Session>());
    *vi = handle;
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession sesn, ViRsrc name, ViAccessMode, ViUInt32, ViPSession vi) {
    logLine("open %s", name ? name : "");
    if (vi) *vi = VI_NULL;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const Session* manager = findSession(r, sesn);
    if (!manager || manager->kind != Kind::ResourceManager) return VI_ERROR_INV_OBJECT;
    if (!vi) return VI_ERROR_INV_SETUP;
    const auto kind = name ? parseResource(name) : std::nullopt;
    if (!kind) return VI_ERROR_INV_RSRC_NAME;
    const auto address = targetAddress();
    if (!address) return VI_ERROR_RSRC_NFOUND;
    UniqueFd socket = connectTo(*address);
    if (!socket.valid()) return VI_ERROR_RSRC_NFOUND;

    auto session = std::make_unique<Session>();
    session->kind = *kind;
    session->manager = sesn;
    session->socket = std::move(socket);
    const ViSession handle = r.nextHandle++;
    r.sessions.emplace(handle, std::move(session));
    *vi = handle;
    return VI_SUCCESS;
}

ViStatus viClose(ViObject vi) {
    logLine("close %u", static_cast<unsigned>(vi));
    if (vi == VI_NULL) return VI_SUCCESS;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const Session* session = findSession(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    if (session->kind == Kind::ResourceManager)
        std::erase_if(r.sessions, [vi](const auto& entry) { return entry.second->manager == vi; });
    r.sessions.erase(vi);
    return VI_SUCCESS;
}

ViStatus viPrintf(ViSession vi, ViString writeFmt, ...) {
    if (!writeFmt) return statusInvalidFormat;
    std::string text;
    va_list arguments;
    va_start(arguments, writeFmt);
    bool valid = true;
    for (const char* f = writeFmt; *f && valid; ++f) {
        if (*f != '%') {
            text.push_back(*f);
            continue;
        }
        ++f;
        const bool isLong = *f == 'l';
        if (isLong) ++f;
        switch (*f) {
        case '%': text.push_back('%'); break;
        case 's': {
            const char* s = isLong ? nullptr : va_arg(arguments, const char*);
            if (!s) valid = false;
            else text += s;
            break;
        }
        case 'c': text.push_back(static_cast<char>(va_arg(arguments, int))); break;
        case 'd':
        case 'i': text += isLong ? std::to_string(va_arg(arguments, long)) : std::to_string(va_arg(arguments, int)); break;
        case 'u':
            text += isLong ? std::to_string(va_arg(arguments, unsigned long)) : std::to_string(va_arg(arguments, unsigned));
            break;
        default: valid = false;
        }
    }
    va_end(arguments);

    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Session* session = findInstrument(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    if (!valid) return statusInvalidFormat;
    logLine("write %u %zu", static_cast<unsigned>(vi), text.size());
    std::size_t sent = 0;
    return sendAll(*session, text.data(), text.size(), sent);
}

ViStatus viScanf(ViSession vi, ViString readFmt, ...) {
    if (!readFmt) return statusInvalidFormat;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Session* session = findInstrument(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    const auto deadline = deadlineOf(*session);

    va_list arguments;
    va_start(arguments, readFmt);
    ViStatus status = VI_SUCCESS;
    for (const char* f = readFmt; *f && status == VI_SUCCESS; ++f) {
        if (std::isspace(static_cast<unsigned char>(*f))) continue;
        if (*f != '%') {
            status = statusInvalidFormat;
            break;
        }
        ++f;
        const auto width = formatWidth(f);
        const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
        std::string text;
        if (*f == 't' || *f == 's') {
            char* out = va_arg(arguments, char*);
            if (!width || !out) {
                status = statusInvalidFormat;
                break;
            }
            if (*f == 't') {
                status = takeText(*session, deadline, *width, [](char c) { return c == '\n'; }, true, text);
            } else {
                // Leading white space is skipped, one character at a time as it arrives.
                while (status == VI_SUCCESS) {
                    if (session->input.empty()) status = receiveMore(*session, deadline);
                    else if (!isSpace(session->input.front())) break;
                    else session->input.erase(0, 1);
                }
                if (status == VI_SUCCESS) status = takeText(*session, deadline, *width, isSpace, false, text);
            }
            std::memcpy(out, text.data(), text.size());
            out[text.size()] = '\0';
        } else if (*f == 'd') {
            int* out = va_arg(arguments, int*);
            if (!out) {
                status = statusInvalidFormat;
                break;
            }
            status = takeText(*session, deadline, width.value_or(11), [](char c) { return c == '\n'; }, true, text);
            *out = std::atoi(text.c_str());
        } else {
            status = statusInvalidFormat;
        }
    }
    va_end(arguments);
    return status;
}

ViStatus viBufWrite(ViSession vi, ViBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt) *retCnt = 0;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Session* session = findInstrument(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    logLine("write %u %u", static_cast<unsigned>(vi), static_cast<unsigned>(cnt));
    if (cnt > 0 && !buf) return VI_ERROR_INV_SETUP;
    std::size_t sent = 0;
    const ViStatus status = sendAll(*session, buf, cnt, sent);
    if (retCnt) *retCnt = static_cast<ViUInt32>(sent);
    return status;
}

ViStatus viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt) *retCnt = 0;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Session* session = findInstrument(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    if (cnt > 0 && !buf) return VI_ERROR_INV_SETUP;
    const auto deadline = deadlineOf(*session);
    std::size_t got = 0;
    ViStatus status = VI_SUCCESS;
    for (;;) {
        std::size_t take = std::min<std::size_t>(cnt - got, session->input.size());
        bool atTermChar = false;
        if (session->termCharEnabled) {
            const std::size_t at = session->input.find(static_cast<char>(session->termChar));
            if (at < take) {
                take = at + 1;
                atTermChar = true;
            }
        }
        if (take > 0) std::memcpy(buf + got, session->input.data(), take);
        session->input.erase(0, take);
        got += take;
        if (atTermChar) {
            status = VI_SUCCESS_TERM_CHAR;
            break;
        }
        if (got == cnt) {
            status = VI_SUCCESS_MAX_CNT;
            break;
        }
        status = receiveMore(*session, deadline);
        if (status != VI_SUCCESS) break;
    }
    if (retCnt) *retCnt = static_cast<ViUInt32>(got);
    return status;
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
    logLine("setbuf %u %u %u", static_cast<unsigned>(vi), static_cast<unsigned>(mask), static_cast<unsigned>(size));
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return findInstrument(r, vi) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
    logLine("flush %u %u", static_cast<unsigned>(vi), static_cast<unsigned>(mask));
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Session* session = findInstrument(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    if ((mask & (VI_READ_BUF | VI_READ_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_IN_BUF_DISCARD)) != 0) discardInput(*session);
    return VI_SUCCESS;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    logLine("setattr %u 0x%08X %llu", static_cast<unsigned>(vi), static_cast<unsigned>(attrName),
            static_cast<unsigned long long>(attrValue));
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Session* session = findSession(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    if (session->kind == Kind::ResourceManager) return VI_ERROR_NSUP_ATTR;
    const bool serial = session->kind == Kind::Serial;
    const auto flag = [&](ViBoolean& field) {
        if (attrValue > 1) return VI_ERROR_NSUP_ATTR_STATE;
        field = static_cast<ViBoolean>(attrValue);
        return VI_SUCCESS;
    };
    const auto small = [&](ViUInt16& field, bool allowed) {
        if (!serial) return VI_ERROR_NSUP_ATTR;
        if (!allowed) return VI_ERROR_NSUP_ATTR_STATE;
        field = static_cast<ViUInt16>(attrValue);
        return VI_SUCCESS;
    };
    switch (attrName) {
    case VI_ATTR_TMO_VALUE:
        if (attrValue > 0xFFFFFFFFu) return VI_ERROR_NSUP_ATTR_STATE;
        session->timeoutMs = static_cast<ViUInt32>(attrValue);
        return VI_SUCCESS;
    case VI_ATTR_SEND_END_EN: return flag(session->sendEnd);
    case VI_ATTR_TERMCHAR_EN: return flag(session->termCharEnabled);
    case VI_ATTR_TERMCHAR:
        if (attrValue > 0xFF) return VI_ERROR_NSUP_ATTR_STATE;
        session->termChar = static_cast<ViByte>(attrValue);
        return VI_SUCCESS;
    case VI_ATTR_ASRL_BAUD:
        if (!serial) return VI_ERROR_NSUP_ATTR;
        if (attrValue == 0 || attrValue > 0xFFFFFFFFu) return VI_ERROR_NSUP_ATTR_STATE;
        session->baud = static_cast<ViUInt32>(attrValue);
        return VI_SUCCESS;
    case VI_ATTR_ASRL_DATA_BITS: return small(session->dataBits, attrValue >= 5 && attrValue <= 8);
    case VI_ATTR_ASRL_PARITY: return small(session->parity, attrValue <= VI_ASRL_PAR_SPACE);
    case VI_ATTR_ASRL_STOP_BITS:
        return small(session->stopBits, attrValue == VI_ASRL_STOP_ONE || attrValue == VI_ASRL_STOP_ONE5 ||
                                             attrValue == VI_ASRL_STOP_TWO);
    case VI_ATTR_ASRL_FLOW_CNTRL:
        return small(session->flowControl,
                     (attrValue & ~ViAttrState{VI_ASRL_FLOW_XON_XOFF | VI_ASRL_FLOW_RTS_CTS | VI_ASRL_FLOW_DTR_DSR}) == 0);
    case VI_ATTR_ASRL_END_IN: return small(session->endIn, attrValue <= VI_ASRL_END_BREAK);
    case VI_ATTR_ASRL_END_OUT: return small(session->endOut, attrValue <= VI_ASRL_END_BREAK);
    default: return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const Session* session = findSession(r, vi);
    if (!session) return VI_ERROR_INV_OBJECT;
    if (session->kind == Kind::ResourceManager) return VI_ERROR_NSUP_ATTR;
    if (!attrValue) return VI_ERROR_INV_SETUP;
    const bool serial = session->kind == Kind::Serial;
    // Each attribute has VISA's own type; the caller's variable is of that size.
    const auto put = [attrValue](auto value) {
        std::memcpy(attrValue, &value, sizeof value);
        return VI_SUCCESS;
    };
    switch (attrName) {
    case VI_ATTR_TMO_VALUE: return put(session->timeoutMs);
    case VI_ATTR_SEND_END_EN: return put(session->sendEnd);
    case VI_ATTR_TERMCHAR_EN: return put(session->termCharEnabled);
    case VI_ATTR_TERMCHAR: return put(session->termChar);
    default: break;
    }
    if (!serial) return VI_ERROR_NSUP_ATTR;
    switch (attrName) {
    case VI_ATTR_ASRL_BAUD: return put(session->baud);
    case VI_ATTR_ASRL_DATA_BITS: return put(session->dataBits);
    case VI_ATTR_ASRL_PARITY: return put(session->parity);
    case VI_ATTR_ASRL_STOP_BITS: return put(session->stopBits);
    case VI_ATTR_ASRL_FLOW_CNTRL: return put(session->flowControl);
    case VI_ATTR_ASRL_END_IN: return put(session->endIn);
    case VI_ATTR_ASRL_END_OUT: return put(session->endOut);
    default: return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[]) {
    if (!desc) return VI_ERROR_INV_SETUP;
    // VISA callers provide at least 256 characters.
    constexpr std::size_t capacity = 256;
    if (const char* text = describe(status)) {
        std::snprintf(desc, capacity, "%s", text);
    } else {
        std::snprintf(desc, capacity, "Unknown status code 0x%08X.", static_cast<unsigned>(status));
    }
    return VI_SUCCESS;
}

ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode) {
    logLine("ren %u %u", static_cast<unsigned>(vi), static_cast<unsigned>(mode));
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!findInstrument(r, vi)) return VI_ERROR_INV_OBJECT;
    return mode <= VI_GPIB_REN_ADDRESS_GTL ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
}
