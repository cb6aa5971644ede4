#pragma once
// Instrument sessions: the abstract HardwareIO and its transports, GPIB, serial and TCPIP
// through VISA, and a plain TCP socket. Every failure sets the IOManager's status text and
// returns false; nothing throws out of these classes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "ext/visa_impl.h"

namespace vesk {

class HardwareIO {
public:
    HardwareIO() = default;
    virtual ~HardwareIO();

    HardwareIO(const HardwareIO&) = delete;
    HardwareIO& operator=(const HardwareIO&) = delete;

    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool writeText(const std::string& text) = 0;
    virtual bool writeBytes(const std::uint8_t* bytes, std::size_t count) = 0;
    // Reads one reply without its line end; `limit` bounds the reply of a VISA read.
    virtual bool readText(std::string& reply, int limit) = 0;
    virtual bool readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) = 0;
    virtual bool setTimeout(int milliseconds) = 0;
    // which: 0 baud rate, 1 flow control, 2 time-out.
    virtual void setSerialParameter(int which, int value);
    // Called between a block header and the block's data.
    virtual void beforeBinaryData();
    virtual bool goToLocal();
    // Drops input still waiting from an earlier exchange, so a reply starts clean.
    virtual bool prepareRead();
    // Whether everything written so far has reached the instrument. A VISA write returns
    // once the bus or the instrument has taken the bytes, so the base has nothing to check.
    virtual bool confirmWrites();

    // The text followed by LF.
    bool sendCommand(const std::string& text);
    bool queryText(std::string& reply, const std::string& command, int limit);
    static void pause(int milliseconds);

    const std::string& sessionKey() const { return sessionKey_; }
    void setSessionKey(std::string key) { sessionKey_ = std::move(key); }

private:
    std::string sessionKey_;
};

// An instrument's reply fit for a message: control and non-ASCII bytes shown as '?', cut
// to `shown` characters with "..." after.
std::string printableReply(const std::string& reply, std::size_t shown = 80);

// VISA resource names of the transports.
std::string gpibResourceName(int board, int primary, int secondary);
std::string serialResourceName(int port);
std::string tcpipResourceName(int board, const std::string& address);

// Piece size of a serial block write: slow links are flushed in small pieces.
long serialPieceSize(int baudRate);

class GpibIO : public HardwareIO, public VISAImpl {
public:
    GpibIO(int board, int primary, int secondary) : board_(board), primary_(primary), secondary_(secondary) {}
    ~GpibIO() override;

    bool open() override;
    void close() override;
    bool writeText(const std::string& text) override { return visaWriteText(text); }
    bool writeBytes(const std::uint8_t* bytes, std::size_t count) override { return visaWriteBytes(bytes, count, -1); }
    bool readText(std::string& reply, int limit) override { return visaReadText(reply, limit); }
    bool readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) override {
        return visaReadBytes(buffer, count, received);
    }
    bool setTimeout(int milliseconds) override { return visaSetTimeout(milliseconds); }
    bool goToLocal() override;
    bool prepareRead() override { return visaPrepareRead(); }

private:
    std::int32_t board_;
    std::int32_t primary_;
    std::int32_t secondary_;
};

class RS232IO : public HardwareIO, public VISAImpl {
public:
    explicit RS232IO(int port) : port_(port) {}
    ~RS232IO() override;

    bool open() override;
    void close() override;
    bool writeText(const std::string& text) override { return visaWriteText(text); }
    bool writeBytes(const std::uint8_t* bytes, std::size_t count) override;
    bool readText(std::string& reply, int limit) override { return visaReadText(reply, limit); }
    bool readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) override {
        return visaReadBytes(buffer, count, received);
    }
    bool setTimeout(int milliseconds) override { return visaSetTimeout(milliseconds); }
    void setSerialParameter(int which, int value) override;
    void beforeBinaryData() override;
    bool prepareRead() override { return visaPrepareRead(); }

    int baudRate() const { return baudRate_; }
    int flowControl() const { return flowControl_; }
    int timeout() const { return timeout_; }

private:
    bool applyFlowControl();

    int port_;
    int baudRate_ = 9600;
    int flowControl_ = 0;
    int timeout_ = 2000;
};

// Result of the echo check before a TCPIP open.
enum class EchoResult { Reachable = 0, Skipped = 1, Unreachable = -1 };

// Sends up to `attempts` ICMP echo requests to the address and waits `timeoutMs` for each
// reply. Without permission for an unprivileged ICMP socket the check is skipped; an
// address that does not resolve or never answers is unreachable, with a message.
EchoResult icmpEchoCheck(const std::string& address, int attempts = 3, int timeoutMs = 4000);
// Whether `size` bytes received on a ping socket are the echo reply to request `sequence`.
bool isEchoReplyTo(const std::uint8_t* bytes, std::size_t size, std::uint16_t sequence);

class TCPIPIO : public HardwareIO, public VISAImpl {
public:
    TCPIPIO(int board, std::string address) : board_(board), address_(std::move(address)) {}
    ~TCPIPIO() override;

    bool open() override;
    void close() override;
    bool writeText(const std::string& text) override { return visaWriteText(text); }
    bool writeBytes(const std::uint8_t* bytes, std::size_t count) override {
        return visaWriteBytes(bytes, count, kPieceSize);
    }
    bool readText(std::string& reply, int limit) override { return visaReadText(reply, limit); }
    bool readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) override {
        return visaReadBytes(buffer, count, received);
    }
    bool setTimeout(int milliseconds) override { return visaSetTimeout(milliseconds); }
    bool prepareRead() override { return visaPrepareRead(); }

    static constexpr long kPieceSize = 1024;

private:
    int board_;
    std::string address_;
};

// SCPI over a plain TCP connection. Replies are read up to their LF (dropped) and blocks
// to their full length, and every wait is bounded by the session's time-out.
class LanIO : public HardwareIO {
public:
    LanIO(std::string address, int port) : address_(std::move(address)), port_(port) {}
    ~LanIO() override;

    bool open() override;
    void close() override;
    bool writeText(const std::string& text) override;
    bool writeBytes(const std::uint8_t* bytes, std::size_t count) override;
    bool readText(std::string& reply, int limit) override;
    bool readBytes(std::uint8_t* buffer, std::size_t count, std::size_t& received) override;
    // Any positive number of milliseconds; it bounds each wait for progress.
    bool setTimeout(int milliseconds) override;
    bool prepareRead() override;
    // A socket write only hands the bytes to the local system: a link lost in the middle of
    // a block goes unnoticed until the instrument is asked to answer after it.
    bool confirmWrites() override;

    int timeout() const { return timeoutMs_; }
    bool isOpen() const { return socket_ >= 0; }

    static constexpr int kDefaultTimeoutMs = 10000;
    // A text reply longer than this without a line end is not a reply.
    static constexpr std::size_t kMaxReplyBytes = 65535;

private:
    enum class Wait { Ready, TimedOut, Failed, Interrupted };
    // Writes this long report their progress as they go (a waveform's blocks, not commands).
    static constexpr std::size_t kProgressBytes = std::size_t{1} << 16;
    Wait waitFor(short events);
    bool fail(const std::string& what);
    // After a receive that got nothing: waits for more input (true) or reports why none
    // will come (false, with the message set).
    bool awaitInput(ssize_t received, int error);
    // True, with the message set, when the instrument has closed or reset the connection.
    bool peerHasClosed();
    // Moves received bytes into pending_; false with a message on time-out or a closed link.
    bool receiveMore();

    std::string address_;
    int port_;
    int socket_ = -1;
    int timeoutMs_ = kDefaultTimeoutMs;
    std::string pending_;  // received but not yet consumed
    std::size_t pendingStart_ = 0;
};

}  // namespace vesk
