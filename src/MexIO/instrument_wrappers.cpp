#include "MexIO/instrument_wrappers.h"

#include "host/error.h"
#include "host/extension.h"
#include "host/function_table.h"

namespace mexio {

namespace {

host::Array int32Copy(const host::Array& a) {
    if (!a.isNumeric() && !a.isLogical()) return a;  // the extension names a mistyped field itself
    host::Array out = host::Array::numeric(host::ClassId::Int32, a.rows(), a.cols());
    for (std::size_t i = 0; i < a.numel(); ++i) out.setReal(i, a.realAt(i));  // rounds half away, saturates
    return out;
}

void convertFields(host::Array& config, const char* record, std::initializer_list<const char*> fields) {
    host::Array* sub = config.findField(record);
    if (!sub || !sub->isStruct()) return;
    for (std::size_t e = 0; e < sub->numel(); ++e)
        for (const char* f : fields)
            if (host::Array* value = sub->findField(f, e)) *value = int32Copy(*value);
}

Reply toReply(std::vector<host::Array> out) {
    Reply r;
    if (!out.empty() && out[0].numel() == 1 && (out[0].isNumeric() || out[0].isLogical())) r.status = out[0].realAt(0);
    if (out.size() > 1) r.response = std::move(out[1]);
    return r;
}

// [status, response] of one extension command with the formatted connection structure.
Reply command(int code, const host::Array& config, std::vector<host::Array> rest) {
    std::vector<host::Array> args{host::Array::int32Scalar(code), formatconfig(config)};
    for (auto& a : rest) args.push_back(std::move(a));
    return toReply(vesk(2, std::move(args)));
}

host::Array number(double v) { return host::Array::scalar(v); }

}  // namespace

host::Array initialConfiguration() {
    host::Array c = host::Array::structure();
    c.setField("Connection", number(2));
    c.setField("GPIBboard", number(0));
    c.setField("Primary", number(19));
    c.setField("Secondary", number(-1));
    c.setField("RS232Port", number(1));
    c.setField("BaudRate", number(9600));
    c.setField("HandShake", number(1));
    c.setField("LastParameterFilename", host::Array());
    return c;
}

host::Array reStructureConfig(const host::Array& initial, const std::optional<std::string>& handshakeText) {
    if (!initial.isStruct() || !initial.hasField("Connection")) return initial;
    auto value = [&](const char* name) {
        const host::Array* f = initial.findField(name);
        return f ? *f : host::Array();
    };
    host::Array c = initial;
    const host::Array connection = value("Connection");
    const bool serial = connection.numel() >= 1 && !connection.isStruct() && !connection.isCell() && connection.realAt(0) == 1;
    c.setField("type", host::Array::string(serial ? "RS232" : "GPIB"));
    host::Array gpib = host::Array::structure();
    gpib.setField("board", value("GPIBboard"));
    gpib.setField("primary", value("Primary"));
    gpib.setField("secondary", value("Secondary"));
    c.setField("GPIB", std::move(gpib));
    host::Array rs232 = host::Array::structure();
    rs232.setField("port", value("RS232Port"));
    rs232.setField("baudrate", value("BaudRate"));
    rs232.setField("handshake", host::Array::string(handshakeText.value_or("Xon/Xoff")));
    c.setField("RS232", std::move(rs232));
    host::Array tcpip = host::Array::structure();
    tcpip.setField("address", host::Array::string("0.0.0.0"));
    tcpip.setField("board", number(0));
    c.setField("TCPIP", std::move(tcpip));
    for (const char* gone : {"Connection", "GPIBboard", "Primary", "Secondary", "RS232Port", "BaudRate", "HandShake"})
        c.removeField(gone);
    return c;
}

host::Array structuredConfiguration(const host::Array& config) {
    std::optional<std::string> handshake;
    if (const host::Array* index = config.isStruct() ? config.findField("HandShake") : nullptr;
        index && index->isNumeric() && index->numel() == 1) {
        const double i = index->realAt(0);
        if (i == 0 || i == 1 || i == 2) handshake = kHandShakeNames[static_cast<int>(i)];
    }
    return reStructureConfig(config, handshake);
}

host::Array formatconfig(const host::Array& configIn) {
    host::Array out = configIn;
    if (!out.isStruct()) return out;
    convertFields(out, "GPIB", {"board", "primary", "secondary"});
    convertFields(out, "RS232", {"port", "baudrate"});
    convertFields(out, "TCPIP", {"board"});
    convertFields(out, "LAN", {"port"});  // the extension takes the socket's port as int32
    return out;
}

std::vector<host::Array> vesk(int nargout, const std::vector<host::Array>& args) {
    return host::mexCallByName(kExtensionName, nargout, args);
}

std::vector<host::Array> vesk(int nargout, std::vector<host::Array>&& args) {
    return host::mexCallByName(kExtensionName, nargout, std::move(args));
}

Reply hwPing(const host::Array& config) { return command(1, config, {}); }
Reply hwSend(const host::Array& config, const std::string& cmd) { return command(2, config, {host::Array::string(cmd)}); }
Reply hwQuery(const host::Array& config, const std::string& query) { return command(3, config, {host::Array::string(query)}); }
Reply hwSetTimeout(const host::Array& config, double ms) { return command(50, config, {number(ms)}); }
Reply hwReturnLocal(const host::Array& config) { return command(5, config, {}); }

Reply hwDownload(const host::Array& config, const host::Array& data, const host::Array& markers, const std::string& filename) {
    // The frame and its markers are read in place: copies would add 32 MB at oversampling 30.
    const host::Array code = host::Array::int32Scalar(4), formatted = formatconfig(config), norm = host::Array::string("norm"),
                      gain = number(1), name = host::Array::string(filename);
    const host::Array* args[] = {&code, &formatted, &data, &markers, &norm, &gain, &name};
    return toReply(host::mexCallByNameReadOnly(kExtensionName, 2, args));
}

}  // namespace mexio

// ---- host forms ------------------------------------------------------------------------

namespace brevia::bind {

using host::Arguments;
using host::Array;

namespace {

std::vector<Array> copies(Arguments args) {
    std::vector<Array> v;
    v.reserve(args.size());
    for (const Array* a : args) v.push_back(*a);
    return v;
}

// The wrappers pass on what they were given; the extension judges the count and classes.
std::vector<Array> run(int code, Arguments args, std::size_t take) {
    std::vector<Array> a{Array::int32Scalar(code)};
    if (!args.empty()) a.push_back(mexio::formatconfig(*args[0]));
    for (std::size_t i = 1; i < args.size() && i < take; ++i) a.push_back(*args[i]);
    std::vector<Array> out = mexio::vesk(2, std::move(a));
    out.resize(2);
    return out;
}

}  // namespace

std::vector<Array> vesk(int nargout, Arguments args) { return mexio::vesk(nargout, copies(args)); }

std::vector<Array> formatconfig(int, Arguments args) {
    return {mexio::formatconfig(*args[0])};
}

std::vector<Array> hwPing(int, Arguments args) { return run(1, args, 1); }
std::vector<Array> hwSend(int, Arguments args) { return run(2, args, 2); }
std::vector<Array> hwQuery(int, Arguments args) { return run(3, args, 2); }
std::vector<Array> hwSetTimeout(int, Arguments args) { return run(50, args, 2); }
std::vector<Array> hwReturnLocal(int, Arguments args) { return run(5, args, 1); }

std::vector<Array> hwDownload(int, Arguments args) {
    // Inputs 4 and 5 are accepted and not used: the download always normalises, at gain 1.
    const Array code = Array::int32Scalar(4), norm = Array::string("norm"), gain = Array::scalar(1);
    const Array formatted = args.empty() ? Array() : mexio::formatconfig(*args[0]);
    std::vector<const Array*> a{&code};
    if (!args.empty()) a.push_back(&formatted);
    if (args.size() > 1) a.push_back(args[1]);
    if (args.size() > 2) {
        a.push_back(args[2]);
        a.push_back(&norm);
        a.push_back(&gain);
    }
    if (args.size() > 5) a.push_back(args[5]);
    std::vector<Array> out = host::mexCallByNameReadOnly(mexio::kExtensionName, 2, a);
    out.resize(2);
    return out;
}

std::vector<Array> VerifyComm(int nargout, Arguments args) { return hwPing(nargout, args); }

}  // namespace brevia::bind
