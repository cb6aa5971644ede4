#pragma once
// The connection an extension command talks through, parsed from the caller's structure:
// one IOConfig per command, deleted when the command ends.

#include <cstdint>
#include <memory>
#include <string>

namespace vesk {

class HardwareIO;

class IOConfig {
public:
    // 1 RS-232, 2 GPIB, 3 TCPIP, 4 LAN.
    virtual int kind() const = 0;
    virtual ~IOConfig();

    static constexpr int kRS232 = 1;
    static constexpr int kGPIB = 2;
    static constexpr int kTCPIP = 3;
    static constexpr int kLAN = 4;

protected:
    IOConfig() = default;
    IOConfig(const IOConfig&) = default;
    IOConfig& operator=(const IOConfig&) = default;
};

class IOConfigGPIB : public IOConfig {
public:
    IOConfigGPIB(std::int32_t boardIndex, std::int32_t primaryAddress, std::int32_t secondaryAddress)
        : board(boardIndex), primary(primaryAddress), secondary(secondaryAddress) {}
    int kind() const override { return kGPIB; }

    std::int32_t board;
    std::int32_t primary;
    std::int32_t secondary;
};

// Flow control of a serial link, as the structure's handshake text selects it.
enum class FlowControl : std::int32_t { None = 0, XOnXOff = 1, RtsCts = 2 };

class IOConfigRS232 : public IOConfig {
public:
    IOConfigRS232(std::int32_t portNumber, std::int32_t baud, FlowControl flow)
        : port(portNumber), baudrate(baud), handshake(flow) {}
    int kind() const override { return kRS232; }

    std::int32_t port;
    std::int32_t baudrate;
    FlowControl handshake;
};

class IOConfigTCPIP : public IOConfig {
public:
    IOConfigTCPIP(std::int32_t visaBoard, std::string hostAddress)
        : board(visaBoard), address(std::move(hostAddress)) {}
    int kind() const override { return kTCPIP; }

    std::int32_t board;
    std::string address;
};

class IOConfigLAN : public IOConfig {
public:
    IOConfigLAN(std::string hostAddress, std::int32_t tcpPort) : address(std::move(hostAddress)), port(tcpPort) {}
    int kind() const override { return kLAN; }

    std::string address;
    std::int32_t port;
};

// The key a session is stored under: GPIB "board::primary::secondary", RS-232 "ASRL" and
// the port, TCPIP "board@address", LAN "port@address". Baud rate and flow control are not
// part of it, so a change of either reuses the open serial session.
std::string sessionKey(const IOConfig& config);

// A new, unopened session of the transport the configuration names.
std::unique_ptr<HardwareIO> createSession(const IOConfig& config);

}  // namespace vesk
