#pragma once
// A connection record for the simulated generator's raw socket.

#include <cstdint>

#include "host/array.h"

inline host::Array lanConfig(std::uint16_t port) {
    host::Array lan = host::Array::structure();
    lan.setField("address", host::Array::string("127.0.0.1"));
    lan.setField("port", host::Array::int32Scalar(port));  // formatconfig leaves LAN alone: the extension wants int32
    host::Array c = host::Array::structure();
    c.setField("type", host::Array::string("LAN"));
    c.setField("LAN", lan);
    return c;
}
