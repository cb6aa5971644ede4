#include "ext/parse_config.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "ext/io_manager.h"
#include "ext/mx_values.h"
#include "ext/text.h"

namespace vesk {

namespace {

std::unique_ptr<IOConfig> fail(const std::string& message) {
    IOManager::instance().setStatusText(message);
    return nullptr;
}

bool isInt32(const mxArray* field) { return field && mxIsInt32(field); }

// Only the first element of a parameter is used; an empty int32 has none and counts as a
// parameter of the wrong type.
bool int32Value(const mxArray* field, std::int32_t& value) {
    if (!isInt32(field) || mxIsEmpty(field)) return false;
    double first = 0;
    if (!elementAsDouble(field, 0, first)) return false;
    value = static_cast<std::int32_t>(first);
    return true;
}

bool allPresent(std::initializer_list<const mxArray*> fields) {
    return std::all_of(fields.begin(), fields.end(), [](const mxArray* f) { return f != nullptr; });
}

std::unique_ptr<IOConfig> parseLan(const mxArray* parameters) {
    const mxArray* address = mxGetField(parameters, 0, "address");
    const mxArray* port = mxGetField(parameters, 0, "port");
    if (!allPresent({address, port}))
        return fail("Invalid config structure. LAN connection needs both \"address\" and \"port\"");
    std::string text;
    std::int32_t number = 0;
    if (!charText(address, text) || !int32Value(port, number))
        return fail("Invalid config structure. LAN parameters have wrong types. address-string, port-int32");
    return std::make_unique<IOConfigLAN>(std::move(text), number);
}

std::unique_ptr<IOConfig> parseGpib(const mxArray* parameters) {
    const mxArray* board = mxGetField(parameters, 0, "board");
    const mxArray* primary = mxGetField(parameters, 0, "primary");
    const mxArray* secondary = mxGetField(parameters, 0, "secondary");
    if (!allPresent({board, primary, secondary}))
        return fail("Invalid config structure. GPIB connection needs \"board\", \"primary\", and \"secondary\"");
    std::int32_t b = 0, p = 0, s = 0;
    if (!int32Value(board, b) || !int32Value(primary, p) || !int32Value(secondary, s))
        return fail(
            "Invalid config structure. GPIB paramters have wrong types: board - int32, primary - int32 and "
            "secondary - int32.");
    return std::make_unique<IOConfigGPIB>(b, p, s);
}

std::unique_ptr<IOConfig> parseRs232(const mxArray* parameters) {
    const mxArray* port = mxGetField(parameters, 0, "port");
    const mxArray* baudrate = mxGetField(parameters, 0, "baudrate");
    const mxArray* handshake = mxGetField(parameters, 0, "handshake");
    if (!allPresent({port, baudrate, handshake}))
        return fail(
            "Invalid config structure, RS232 connection needs \"port\", \"baudrate\" and \"handshake\"");
    std::int32_t p = 0, baud = 0;
    std::string flow;
    if (!int32Value(port, p) || !int32Value(baudrate, baud) || !charText(handshake, flow))
        return fail(
            "Invalid config structure. RS232 paramters have wrong types port-int32, baudrate-int32 and "
            "handshake-string");
    FlowControl control;
    if (equalsIgnoringCase(flow, "None"))
        control = FlowControl::None;
    else if (equalsIgnoringCase(flow, "XOn/XOff"))
        control = FlowControl::XOnXOff;
    else if (equalsIgnoringCase(flow, "RTS/CTS"))
        control = FlowControl::RtsCts;
    else
        return fail("handshake has to be None, XOn/XOff or RTS/CTS");
    return std::make_unique<IOConfigRS232>(p, baud, control);
}

std::unique_ptr<IOConfig> parseTcpip(const mxArray* parameters) {
    const mxArray* board = mxGetField(parameters, 0, "board");
    const mxArray* address = mxGetField(parameters, 0, "address");
    if (!allPresent({board, address}))
        return fail("Invalid config structure. TCPIP connection needs \"board\", \"address\"");
    std::int32_t b = 0;
    std::string text;
    if (!int32Value(board, b) || !charText(address, text))
        return fail("Invalid config structure. TCPIP parameters have wrong types board-int32 address-string");
    return std::make_unique<IOConfigTCPIP>(b, std::move(text));
}

}  // namespace

std::unique_ptr<IOConfig> parseConfig(const mxArray* structure) {
    const mxArray* type = mxGetField(structure, 0, "type");
    if (!type) return fail("Invalid config structure. type has to be \"GPIB\",\"RS232\",or \"TCPIP\"");
    std::string typeText;
    if (!charText(type, typeText)) return fail("Invalid config structure. type parameter has to be a string type");

    // The parameters sit under a field spelled exactly as the type, whatever its case. A
    // name with a NUL in it cannot be a field name.
    const mxArray* parameters =
        typeText.find('\0') == std::string::npos ? mxGetField(structure, 0, typeText.c_str()) : nullptr;
    if (!parameters) return fail("Invalid config structure. Can not find \"" + typeText + "\" field");

    if (equalsIgnoringCase(typeText, "LAN")) return parseLan(parameters);
    if (equalsIgnoringCase(typeText, "GPIB")) return parseGpib(parameters);
    if (equalsIgnoringCase(typeText, "RS232")) return parseRs232(parameters);
    if (equalsIgnoringCase(typeText, "TCPIP")) return parseTcpip(parameters);
    return fail("Invalid config structure. Unrecognized type \"" + typeText + "\"");
}

}  // namespace vesk
