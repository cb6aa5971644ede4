// Arbitrary arrays into the extension's entry point, called by name as the library calls it:
// every class, empty arrays, structures with missing, misspelt or non-scalar fields and long
// texts. Each call must end in a usage error, a status or nothing, never a crash or a leak.
//
// Nothing leaves the machine: every address the input can give is 127.0.0.1, every TCP port
// a port with nothing listening, and the VISA resources go through the simulated VISA
// library to that same closed port, so each open fails at once.
#include <dlfcn.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/array.h"
#include "host/error.h"
#include "host/extension.h"

namespace {

using host::Array;
using host::ClassId;

std::uint16_t closedPort = 0;

// A port the system hands out and that is then given back: nothing listens there.
std::uint16_t findClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 9;  // discard: closed on any test machine
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

const char* const kNames[] = {"type", "LAN", "GPIB", "RS232", "TCPIP", "lan", "gpib", "Serial", "board",
                              "primary", "secondary", "port", "baudrate", "handshake", "address", ""};
const char* const kTexts[] = {"LAN", "GPIB", "RS232", "TCPIP", "tcpip", "Rs232", "Serial", "None", "xon/xoff",
                              "RTS/CTS", "no_norm", "*IDN?", ":MMEM:DATA? \"WFM1:x\"", "", "127.0.0.1"};

std::string text(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return in.PickValueInArray(kTexts);
        case 1: return std::string(in.ConsumeIntegralInRange<std::size_t>(0, 70000), in.ConsumeIntegral<char>());
        default: return in.ConsumeRandomLengthString(64);
    }
}

Array numeric(FuzzedDataProvider& in, ClassId cls) {
    const std::size_t rows = in.ConsumeIntegralInRange(0, 3);
    const std::size_t cols = in.ConsumeIntegralInRange(0, 40);
    const bool complex = cls == ClassId::Double && in.ConsumeBool();
    Array a = Array::numeric(cls, rows, cols, complex);
    for (std::size_t k = 0; k < a.numel() && in.remaining_bytes() > 0; ++k) {
        const double v = in.ConsumeBool() ? in.ConsumeFloatingPoint<double>() : in.ConsumeIntegralInRange(-3, 20);
        if (complex) a.setComplex(k, {v, in.ConsumeFloatingPoint<double>()});
        else a.setReal(k, v);
    }
    return a;
}

Array value(FuzzedDataProvider& in, int depth);

Array structure(FuzzedDataProvider& in, int depth) {
    const std::size_t rows = in.ConsumeIntegralInRange(0, 2);
    const std::size_t cols = in.ConsumeIntegralInRange(0, 2);
    Array s = Array::structure(rows, cols);
    const int fields = in.ConsumeIntegralInRange(0, 4);
    for (int f = 0; f < fields; ++f) {
        const std::string name = in.ConsumeBool() ? std::string(in.PickValueInArray(kNames)) : text(in);
        if (name.empty() || name.find('\0') != std::string::npos) continue;
        s.addField(name);
        for (std::size_t e = 0; e < s.numel(); ++e) {
            Array v = value(in, depth + 1);
            // The only addresses and ports that can reach the network are pinned to
            // 127.0.0.1 and a closed port.
            if (name == "address" && v.isChar()) v = Array::string("127.0.0.1");
            if (name == "port" && v.classId() == ClassId::Int32 && !v.isEmpty()) v.setReal(0, closedPort);
            s.setField(name, std::move(v), e);
        }
    }
    return s;
}

// A well-formed connection to nothing, so that argument handling past the parse is reached.
Array connection(FuzzedDataProvider& in) {
    Array parameters = Array::structure();
    const std::string type = in.PickValueInArray({"LAN", "GPIB", "RS232", "TCPIP"});
    parameters.setField("address", Array::string("127.0.0.1"));
    parameters.setField("port", Array::int32Scalar(type == "LAN" ? closedPort : in.ConsumeIntegralInRange(0, 9)));
    parameters.setField("board", Array::int32Scalar(in.ConsumeIntegralInRange(-1, 2)));
    parameters.setField("primary", Array::int32Scalar(in.ConsumeIntegralInRange(-1, 31)));
    parameters.setField("secondary", Array::int32Scalar(in.ConsumeIntegralInRange(-1, 31)));
    parameters.setField("baudrate", Array::int32Scalar(in.ConsumeIntegral<std::int32_t>()));
    parameters.setField("handshake", Array::string(in.PickValueInArray({"None", "XOn/XOff", "rts/cts", "odd"})));
    Array config = Array::structure();
    config.setField("type", Array::string(type));
    config.setField(type, std::move(parameters));
    return config;
}

Array value(FuzzedDataProvider& in, int depth) {
    switch (in.ConsumeIntegralInRange(0, 10)) {
        case 0: return numeric(in, ClassId::Double);
        case 1: return numeric(in, ClassId::Int8);
        case 2: return numeric(in, ClassId::Uint8);
        case 3: return numeric(in, ClassId::Int32);
        case 4: return Array::string(text(in));
        case 5: return Array::logicalScalar(in.ConsumeBool());
        case 6: return depth < 3 ? structure(in, depth) : Array();
        case 7: {
            Array c = Array::cell(1, in.ConsumeIntegralInRange(0, 2));
            for (std::size_t k = 0; k < c.numel() && depth < 3; ++k) c.cellAt(k) = value(in, depth + 1);
            return c;
        }
        case 8: return connection(in);
        case 9: return Array::int32Scalar(in.PickValueInArray({1, 2, 3, 4, 5, 7, 8, 50, 999, 9}));
        default: return Array();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    closedPort = findClosedPort();
    const std::string target = "127.0.0.1:" + std::to_string(closedPort);
    setenv("BREVIA_EXTENSION_PATH", VESK_MODULE_DIR, 1);
    setenv("VESK_VISA_LIBRARY", SIMVISA_LIBRARY, 1);
    setenv("SIMVISA_TARGET", target.c_str(), 1);
    unsetenv("SIMVISA_LOG");
    // The transports unload the VISA library with their last session; held here, it stays
    // mapped, so that its coverage counters never vanish under the fuzzer.
    dlopen(SIMVISA_LIBRARY, RTLD_NOW);
    // Opened now, so that the module's coverage is known before the first input.
    host::mexCallByName("vesk", 0, {Array::int32Scalar(999)});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int nlhs = in.ConsumeIntegralInRange(0, 3);
    std::vector<Array> args;
    const int nrhs = in.ConsumeIntegralInRange(0, 8);
    for (int k = 0; k < nrhs; ++k) {
        if (k == 0 && in.ConsumeProbability<float>() < 0.9f)
            args.push_back(Array::int32Scalar(in.PickValueInArray({1, 2, 3, 4, 5, 7, 8, 50, 999, 6, -1})));
        else if (k == 1 && in.ConsumeBool())
            args.push_back(connection(in));
        else
            args.push_back(value(in, 0));
    }
    try {
        host::mexCallByName("vesk", nlhs, args);
    } catch (const host::Error&) {
        // Usage errors and unassigned results are the host's to report.
    }
    return 0;
}
