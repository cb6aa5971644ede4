#include "ext/io_config.h"

#include <cstdio>

#include "ext/hardware_io.h"

namespace vesk {

IOConfig::~IOConfig() = default;

std::string sessionKey(const IOConfig& config) {
    // The widest key: three 11-character numbers and the separators.
    char key[48];
    switch (config.kind()) {
        case IOConfig::kGPIB: {
            const auto& gpib = static_cast<const IOConfigGPIB&>(config);
            std::snprintf(key, sizeof key, "%d::%d::%d", static_cast<int>(gpib.board), static_cast<int>(gpib.primary),
                          static_cast<int>(gpib.secondary));
            return key;
        }
        case IOConfig::kRS232:
            return "ASRL" + std::to_string(static_cast<const IOConfigRS232&>(config).port);
        case IOConfig::kTCPIP: {
            const auto& tcpip = static_cast<const IOConfigTCPIP&>(config);
            return std::to_string(tcpip.board) + "@" + tcpip.address;
        }
        case IOConfig::kLAN: {
            const auto& lan = static_cast<const IOConfigLAN&>(config);
            return std::to_string(lan.port) + "@" + lan.address;
        }
        default: return {};
    }
}

std::unique_ptr<HardwareIO> createSession(const IOConfig& config) {
    switch (config.kind()) {
        case IOConfig::kGPIB: {
            const auto& gpib = static_cast<const IOConfigGPIB&>(config);
            return std::make_unique<GpibIO>(gpib.board, gpib.primary, gpib.secondary);
        }
        case IOConfig::kRS232:
            return std::make_unique<RS232IO>(static_cast<const IOConfigRS232&>(config).port);
        case IOConfig::kTCPIP: {
            const auto& tcpip = static_cast<const IOConfigTCPIP&>(config);
            return std::make_unique<TCPIPIO>(tcpip.board, tcpip.address);
        }
        case IOConfig::kLAN: {
            const auto& lan = static_cast<const IOConfigLAN&>(config);
            return std::make_unique<LanIO>(lan.address, lan.port);
        }
        default: return nullptr;
    }
}

}  // namespace vesk
