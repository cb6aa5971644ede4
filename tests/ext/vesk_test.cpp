// The extension as the library calls it: by name through the host, with host arrays, against
// the simulated signal generator over a raw socket (LAN) and through the simulated VISA
// library (GPIB, RS-232).
#include <gtest/gtest.h>

#include "ext/simvisa_log.h"
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "error_message.h"
#include "ext/visa_api.h"
#include "host/array.h"
#include "host/error.h"
#include "host/extension.h"
#include "sim/simulated_generator.h"

namespace {

using namespace std::chrono_literals;
using host::Array;
using host::ClassId;

Array code(std::int32_t value) { return Array::int32Scalar(value); }

Array structOf(std::initializer_list<std::pair<const char*, Array>> fields) {
    Array s = Array::structure();
    for (const auto& [name, value] : fields) s.setField(name, value);
    return s;
}

Array lanConfig(std::uint16_t port, const char* type = "LAN") {
    return structOf({{"type", Array::string(type)},
                     {type, structOf({{"address", Array::string("127.0.0.1")}, {"port", code(port)}})}});
}

Array gpibConfig(std::int32_t primary = 19) {
    return structOf({{"type", Array::string("GPIB")},
                     {"GPIB", structOf({{"board", code(0)}, {"primary", code(primary)}, {"secondary", code(0)}})}});
}

Array serialConfig(std::int32_t baud, const char* handshake) {
    return structOf({{"type", Array::string("RS232")},
                     {"RS232", structOf({{"port", code(1)},
                                         {"baudrate", code(baud)},
                                         {"handshake", Array::string(handshake)}})}});
}

Array numericRow(ClassId cls, std::initializer_list<double> values) {
    Array a = Array::numeric(cls, 1, values.size());
    std::size_t k = 0;
    for (double v : values) a.setReal(k++, v);
    return a;
}

std::vector<Array> vesk(int nlhs, std::vector<Array> args) { return host::mexCallByName("vesk", nlhs, args); }

struct Outcome {
    double status;
    std::string message;
};

// Status and message of a command asked for two results.
Outcome run(std::vector<Array> args) {
    const std::vector<Array> out = vesk(2, std::move(args));
    return {out.at(0).realAt(0), out.at(1).text()};
}

// The instrument answers *OPC? only after it has taken in everything sent before it.
void waitUntilProcessed(const Array& config) {
    const Outcome done = run({code(3), config, Array::string("*OPC?")});
    ASSERT_EQ(done.message, "1");
}

std::string usageOf(std::vector<Array> args, int nlhs = 2) {
    return errorMessageOf([&] { vesk(nlhs, std::move(args)); });
}

// A port on 127.0.0.1 with nothing listening: taken from the system, then given back.
std::uint16_t closedPort() {
    sim::SimulatedGenerator probe;
    probe.start();
    const std::uint16_t port = probe.port();
    probe.stop();
    return port;
}

class VeskTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("BREVIA_EXTENSION_PATH", VESK_MODULE_DIR, 1);
        setenv("VESK_VISA_LIBRARY", SIMVISA_LIBRARY, 1);
        logPath_ = (std::filesystem::temp_directory_path() /
                    ("vesk_simvisa_" + std::to_string(::getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log"))
                       .string();
        std::filesystem::remove(logPath_);
        setenv("SIMVISA_LOG", logPath_.c_str(), 1);
        vesk(0, {code(999)});  // each test starts with an empty table and "IO Success"
    }

    void TearDown() override {
        vesk(0, {code(999)});
        for (auto& s : simulators_) s->stop();
        std::filesystem::remove(logPath_);
    }

    sim::SimulatedGenerator& startSimulator(sim::Model model = sim::Model::Corvane) {
        sim::Options options;
        options.model = model;
        options.idleTimeout = 60s;  // a hung test still lets the server end
        simulators_.push_back(std::make_unique<sim::SimulatedGenerator>(options));
        simulators_.back()->start();
        const std::string target = "127.0.0.1:" + std::to_string(simulators_.back()->port());
        setenv("SIMVISA_TARGET", target.c_str(), 1);  // VISA resources reach the latest one
        return *simulators_.back();
    }

    std::vector<std::vector<std::string>> logLines(const char* kind) const { return readSimvisaLog(logPath_, kind); }

    // Values set for one VISA attribute, in order.
    std::vector<std::string> attributeValues(unsigned attribute) const {
        std::vector<std::string> values;
        for (const auto& l : logLines("setattr"))
            if (l.size() >= 4 && std::stoul(l[2], nullptr, 16) == attribute) values.push_back(l[3]);
        return values;
    }

    std::vector<std::unique_ptr<sim::SimulatedGenerator>> simulators_;
    std::string logPath_;
};

// ---------------------------------------------------------------------------------------
// Usage errors: raised to the host, nothing returned.

TEST_F(VeskTest, EveryUsageErrorHasItsMessage) {
    const Array cfg = lanConfig(closedPort());
    const Array text = Array::string("x");
    const Array number = Array::scalar(1);
    const struct {
        std::vector<Array> args;
        const char* message;
    } cases[] = {
        {{}, "Usage: vesk( function, ... )"},
        {{Array::scalar(1), cfg}, "Usage: vesk( function, ... )"},
        {{numericRow(ClassId::Int8, {1}), cfg}, "Usage: vesk( function, ... )"},
        {{Array::numeric(ClassId::Int32, 0, 0), cfg}, "Usage: vesk( function, ... )"},
        {{code(1)}, "Usage: vesk( ping, config )"},
        {{code(1), cfg, text}, "Usage: vesk( ping, config )"},
        {{code(1), number}, "Usage: vesk( ping, config )"},
        {{code(2), cfg}, "Usage: vesk( send, config, command )"},
        {{code(2), cfg, number}, "Usage: vesk( send, config, command )"},
        {{code(2), text, text}, "Usage: vesk( send, config, command )"},
        {{code(3), cfg}, "Usage: response = vesk( query, config, command,buffersize )"},
        {{code(3), cfg, number}, "Usage: response = vesk( query, config, command,buffersize )"},
        {{code(4), cfg, number, number, text, number}, "Usage: response = vesk( download, config, w, markers, flag_norm, gain, filename )"},
        {{code(4), cfg, number, number, number, number, text}, "Usage: response = vesk( download, config, w, markers, flag_norm, gain, filename )"},
        {{code(4), cfg, number, number, text, number, number}, "Usage: response = vesk( download, config, w, markers, flag_norm, gain, filename )"},
        {{code(5), cfg, cfg}, "Usage: vesk( returnControl, config )"},
        {{code(5), Array::cell(1, 1)}, "Usage: vesk( returnControl, config )"},
        {{code(7), cfg, text}, "Usage: response = vesk( sendbinaryfile, config, filename,data )"},
        {{code(7), cfg, number, number}, "Usage: response = vesk( sendbinaryfile, config, filename,data )"},
        {{code(8), cfg, text, number, number}, "Usage: response = vesk( int32(8), config, filename, expected_data_type )"},
        {{code(8), cfg, numericRow(ClassId::Int8, {1}), number}, "Usage: response = vesk( int32(8), config, filename, expected_data_type )"},
        {{code(50), cfg, code(3000)}, "Usage: vesk( 50, config, timeout value (double) )"},
        {{code(50), cfg}, "Usage: vesk( 50, config, timeout value (double) )"},
    };
    for (const auto& c : cases) EXPECT_EQ(usageOf(c.args), c.message) << c.message << " with " << c.args.size();
}

TEST_F(VeskTest, DataClassChecksComeAfterTheModelIsSelectedAndLeaveTheSessionOpen) {
    auto& generator = startSimulator();
    const Array cfg = lanConfig(generator.port());
    EXPECT_EQ(usageOf({code(7), cfg, Array::string("x"), code(1)}),
              "Usage: only support input type : double[], int8[], uint8[] and char[]");
    EXPECT_EQ(usageOf({code(8), cfg, Array::string("x"), Array::logicalScalar(true)}),
              "Usage: only support data type : double[], int8[], uint8[] and char[]");
    // Both opened the session and asked for the identity before refusing.
    const auto commands = generator.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "*IDN?"), 2);
    EXPECT_EQ(run({code(1), cfg}).status, 0);
    EXPECT_EQ(generator.connectionsAccepted(), 1u);
}

// ---------------------------------------------------------------------------------------
// Connection structures

TEST_F(VeskTest, EveryParseErrorIsTheStatusMessage) {
    const auto typed = [](const char* type, Array parameters) {
        return structOf({{"type", Array::string(type)}, {type, std::move(parameters)}});
    };
    const Array i32 = code(1);
    const Array dbl = Array::scalar(1);
    const Array str = Array::string("127.0.0.1");
    const struct {
        Array config;
        std::string message;
    } cases[] = {
        {Array::structure(), "Invalid config structure. type has to be \"GPIB\",\"RS232\",or \"TCPIP\""},
        {Array::structure(0, 0), "Invalid config structure. type has to be \"GPIB\",\"RS232\",or \"TCPIP\""},
        {structOf({{"type", code(2)}}), "Invalid config structure. type parameter has to be a string type"},
        {structOf({{"type", Array::string("gpib")}, {"GPIB", structOf({})}}),
         "Invalid config structure. Can not find \"gpib\" field"},
        {typed("Serial", structOf({{"port", i32}})), "Invalid config structure. Unrecognized type \"Serial\""},
        {typed("LAN", structOf({{"address", str}})),
         "Invalid config structure. LAN connection needs both \"address\" and \"port\""},
        {typed("LAN", dbl), "Invalid config structure. LAN connection needs both \"address\" and \"port\""},
        {typed("LAN", structOf({{"address", str}, {"port", dbl}})),
         "Invalid config structure. LAN parameters have wrong types. address-string, port-int32"},
        {typed("LAN", structOf({{"address", i32}, {"port", i32}})),
         "Invalid config structure. LAN parameters have wrong types. address-string, port-int32"},
        {typed("GPIB", structOf({{"board", i32}, {"primary", i32}})),
         "Invalid config structure. GPIB connection needs \"board\", \"primary\", and \"secondary\""},
        // A missing field is reported before a field of the wrong class.
        {typed("GPIB", structOf({{"board", dbl}, {"primary", i32}})),
         "Invalid config structure. GPIB connection needs \"board\", \"primary\", and \"secondary\""},
        {typed("GPIB", structOf({{"board", i32}, {"primary", i32}, {"secondary", Array::numeric(ClassId::Int32, 0, 0)}})),
         "Invalid config structure. GPIB paramters have wrong types: board - int32, primary - int32 and secondary - int32."},
        {typed("RS232", structOf({{"port", i32}, {"baudrate", i32}})),
         "Invalid config structure, RS232 connection needs \"port\", \"baudrate\" and \"handshake\""},
        {typed("RS232", structOf({{"port", i32}, {"baudrate", dbl}, {"handshake", Array::string("None")}})),
         "Invalid config structure. RS232 paramters have wrong types port-int32, baudrate-int32 and handshake-string"},
        {typed("RS232", structOf({{"port", i32}, {"baudrate", i32}, {"handshake", i32}})),
         "Invalid config structure. RS232 paramters have wrong types port-int32, baudrate-int32 and handshake-string"},
        {typed("RS232", structOf({{"port", i32}, {"baudrate", i32}, {"handshake", Array::string("DTR/DSR")}})),
         "handshake has to be None, XOn/XOff or RTS/CTS"},
        {typed("TCPIP", structOf({{"board", i32}})),
         "Invalid config structure. TCPIP connection needs \"board\", \"address\""},
        {typed("TCPIP", structOf({{"board", dbl}, {"address", str}})),
         "Invalid config structure. TCPIP parameters have wrong types board-int32 address-string"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run({code(1), c.config});
        EXPECT_EQ(outcome.status, -1) << c.message;
        EXPECT_EQ(outcome.message, c.message);
    }
    // The same for every command that reads a structure.
    const Array bad = typed("Serial", structOf({}));
    const std::string unrecognized = "Invalid config structure. Unrecognized type \"Serial\"";
    EXPECT_EQ(run({code(2), bad, Array::string("*RST")}).message, unrecognized);
    EXPECT_EQ(run({code(3), bad, Array::string("*IDN?")}).message, unrecognized);
    EXPECT_EQ(run({code(5), bad}).message, unrecognized);
    EXPECT_EQ(run({code(50), bad, Array::scalar(3000)}).message, unrecognized);
}

TEST_F(VeskTest, GpibBoardOfClassDoubleOpensNoSession) {
    startSimulator();
    Array cfg = gpibConfig();
    cfg.field("GPIB").setField("board", Array::scalar(0));
    const Outcome outcome = run({code(1), cfg});
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(outcome.message,
              "Invalid config structure. GPIB paramters have wrong types: board - int32, primary - int32 and "
              "secondary - int32.");
    EXPECT_TRUE(logLines("open").empty());
    // The same structure with an int32 board reaches the instrument.
    EXPECT_EQ(run({code(1), gpibConfig()}).status, 0);
    EXPECT_EQ(logLines("open").size(), 1u);
}

TEST_F(VeskTest, TypeIsMatchedWithoutRegardToCaseAndOnlyTheFirstElementIsRead) {
    auto& generator = startSimulator();
    Array cfg = lanConfig(generator.port(), "lan");
    // A port vector: its first element is the port.
    Array ports = Array::numeric(ClassId::Int32, 1, 2);
    ports.setReal(0, generator.port());
    ports.setReal(1, 1);
    cfg.field("lan").setField("port", ports);
    EXPECT_EQ(run({code(1), cfg}).status, 0);
    EXPECT_EQ(generator.connectionsAccepted(), 1u);
}

// ---------------------------------------------------------------------------------------
// Results

TEST_F(VeskTest, PingSendAndQueryOverLan) {
    auto& generator = startSimulator(sim::Model::Pellar);
    const Array cfg = lanConfig(generator.port());
    const Outcome ping = run({code(1), cfg});
    EXPECT_EQ(ping.status, 0);
    EXPECT_EQ(ping.message, "Succeed");

    EXPECT_EQ(run({code(2), cfg, Array::string(":SOUR:FREQ 2200000000Hz")}).message, "Succeed");
    const Outcome reply = run({code(3), cfg, Array::string(":SOUR:FREQ?")});
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.message, "2200000000Hz");
    EXPECT_EQ(generator.settings().at("frequency"), "2200000000Hz");
    // One session served all three.
    EXPECT_EQ(generator.connectionsAccepted(), 1u);
}

TEST_F(VeskTest, SecondResultOnlyForTheStatedCountsOfResults) {
    auto& generator = startSimulator();
    const Array cfg = lanConfig(generator.port());
    // One requested result: the status alone.
    const auto one = vesk(1, {code(1), cfg});
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].classId(), ClassId::Double);
    EXPECT_EQ(one[0].realAt(0), 0);
    // Commands 1 to 5 and 50 give no second result for three requested results...
    const std::string unassigned = "One or more output arguments not assigned during call to \"vesk\".";
    EXPECT_EQ(usageOf({code(1), cfg}, 3), unassigned);
    EXPECT_EQ(usageOf({code(3), cfg, Array::string("*IDN?")}, 3), unassigned);
    EXPECT_EQ(usageOf({code(50), cfg, Array::scalar(3000)}, 3), unassigned);
    // ...upload does, with the data as a third.
    const auto eight = vesk(3, {code(8), cfg, Array::string(":MMEM:DATA? \"WFM1:None\""), Array::string("c")});
    ASSERT_EQ(eight.size(), 3u);
    EXPECT_EQ(eight[0].realAt(0), -1);
    EXPECT_EQ(eight[1].text(), "Error when uploading data. No data in the read buffer");
    EXPECT_EQ(eight[2], Array::scalar(0));
}

TEST_F(VeskTest, UnknownCodesAndReleaseAllSetNoResult) {
    const Array cfg = lanConfig(closedPort());
    for (std::int32_t unknown : {0, 6, 9, 100, -1, 998, 1000}) EXPECT_TRUE(vesk(0, {code(unknown), cfg}).empty()) << unknown;
    EXPECT_TRUE(vesk(0, {code(999)}).empty());
    EXPECT_EQ(usageOf({code(9), cfg}, 1), "One or more output arguments not assigned during call to \"vesk\".");
    EXPECT_EQ(usageOf({code(999)}, 1), "One or more output arguments not assigned during call to \"vesk\".");
}

TEST_F(VeskTest, RefusedConnectionSaysWhyAndReleaseAllStartsAfresh) {
    auto& generator = startSimulator();
    const std::uint16_t port = closedPort();
    const Array closed = lanConfig(port);
    const std::string refused = "Instrument at 127.0.0.1:" + std::to_string(port) + " cannot be reached: Connection refused";
    const auto first = run({code(1), closed});
    EXPECT_EQ(first.status, -1);
    EXPECT_EQ(first.message, refused);
    EXPECT_EQ(run({code(2), closed, Array::string("*CLS")}).message, refused);  // every time, not "Succeeded"
    // A failure asked for with one result leaves its text until the next failure replaces it.
    EXPECT_EQ(vesk(1, {code(1), structOf({})})[0].realAt(0), -1);
    EXPECT_EQ(run({code(1), closed}).message, refused);

    const Array cfg = lanConfig(generator.port());
    ASSERT_EQ(run({code(1), cfg}).status, 0);
    EXPECT_TRUE(vesk(0, {code(999)}).empty());
    // The session went with the table: the next command connects again.
    ASSERT_EQ(run({code(1), cfg}).status, 0);
    EXPECT_EQ(generator.connectionsAccepted(), 2u);
}

TEST_F(VeskTest, FailedCommandRemovesOnlyItsOwnSession) {
    auto& failing = startSimulator();
    auto& healthy = startSimulator();
    const Array a = lanConfig(failing.port());
    const Array b = lanConfig(healthy.port());
    ASSERT_EQ(run({code(1), a}).status, 0);
    ASSERT_EQ(run({code(1), b}).status, 0);
    EXPECT_EQ(run({code(50), a, Array::scalar(300.9)}).message, "Succeed");

    sim::Faults silent;
    silent.silent = true;
    failing.setFaults(silent);
    const Outcome timedOut = run({code(3), a, Array::string("*IDN?")});
    EXPECT_EQ(timedOut.status, -1);
    EXPECT_EQ(timedOut.message, "Instrument at 127.0.0.1:" + std::to_string(failing.port()) + " did not answer within 300 ms");

    failing.setFaults({});
    EXPECT_EQ(run({code(1), a}).status, 0);
    EXPECT_EQ(run({code(1), b}).status, 0);
    EXPECT_EQ(failing.connectionsAccepted(), 2u);
    EXPECT_EQ(healthy.connectionsAccepted(), 1u);
}

// ---------------------------------------------------------------------------------------
// VISA transports

TEST_F(VeskTest, BufferSizeLimitsAVisaReplyOnlyAsTheFourthArgument) {
    auto& generator = startSimulator();
    const std::string identity = "Maker, SG4431C, US" + std::string(120, '7') + ", 1.0";
    sim::Faults faults;
    faults.idnOverride = identity;
    generator.setFaults(faults);
    const Array cfg = gpibConfig();
    const Array idn = Array::string("*IDN?");

    const Outcome limited = run({code(3), cfg, idn, Array::scalar(100.7)});
    EXPECT_EQ(limited.status, 0);
    EXPECT_EQ(limited.message, identity.substr(0, 99));
    // A fifth argument turns the size off; without one the default applies.
    EXPECT_EQ(run({code(3), cfg, idn, Array::scalar(100), Array::scalar(5)}).message, identity);
    EXPECT_EQ(run({code(3), cfg, idn}).message, identity);
    EXPECT_EQ(run({code(3), cfg, idn, numericRow(ClassId::Int8, {30})}).message, identity.substr(0, 29));
    EXPECT_EQ(logLines("open").size(), 1u);
}

TEST_F(VeskTest, SerialSettingsFollowTheLatestStructureOnTheSameSession) {
    startSimulator();
    ASSERT_EQ(run({code(1), serialConfig(19200, "rts/cts")}).status, 0);
    ASSERT_EQ(run({code(1), serialConfig(4800, "XON/XOFF")}).status, 0);
    ASSERT_EQ(run({code(1), serialConfig(300, "None")}).status, 0);
    const auto opens = logLines("open");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0][1], "ASRL1::INSTR");
    // The open sets the defaults, 9600 and none; each command then sets the structure's.
    const std::vector<std::string> baud = attributeValues(VI_ATTR_ASRL_BAUD);
    const std::vector<std::string> flow = attributeValues(VI_ATTR_ASRL_FLOW_CNTRL);
    ASSERT_GE(baud.size(), 3u);
    ASSERT_GE(flow.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(baud.end() - 3, baud.end()), (std::vector<std::string>{"19200", "4800", "300"}));
    EXPECT_EQ(std::vector<std::string>(flow.end() - 3, flow.end()), (std::vector<std::string>{"2", "1", "0"}));
}

TEST_F(VeskTest, TimeoutIsTruncatedAndReturnControlGoesToLocal) {
    startSimulator();
    const Array cfg = gpibConfig();
    EXPECT_EQ(run({code(50), cfg, Array::scalar(1500)}).message, "Succeed");
    EXPECT_EQ(run({code(50), cfg, Array::scalar(2500.9)}).message, "Succeed");
    EXPECT_EQ(attributeValues(VI_ATTR_TMO_VALUE), std::vector<std::string>{"2500"});
    EXPECT_EQ(run({code(5), cfg}).message, "Succeed");
    const auto ren = logLines("ren");
    ASSERT_EQ(ren.size(), 1u);
    EXPECT_EQ(ren[0][2], std::to_string(VI_GPIB_REN_ADDRESS_GTL));
}

// ---------------------------------------------------------------------------------------
// Blocks

TEST_F(VeskTest, OddBinaryBufferIsRefused) {
    auto& generator = startSimulator();
    const Array cfg = lanConfig(generator.port());
    const Outcome odd = run({code(7), cfg, Array::string(":MMEM:DATA \"WFM1:Odd\""), numericRow(ClassId::Int8, {1, 2, 3})});
    EXPECT_EQ(odd.status, -1);
    EXPECT_EQ(odd.message, "Binary buffer size has to be even");
    EXPECT_EQ(generator.files().count("WFM1:Odd"), 0u);
    EXPECT_EQ(run({code(1), cfg}).status, 0);
    EXPECT_EQ(generator.connectionsAccepted(), 1u);
}

TEST_F(VeskTest, BlocksOfEveryClassGoOutAndComeBack) {
    auto& generator = startSimulator();
    const Array cfg = lanConfig(generator.port());
    const auto send = [&](const char* name, const Array& data) {
        return run({code(7), cfg, Array::string(std::string(":MMEM:DATA \"WFM1:") + name + "\""), data});
    };
    const Array doubles = numericRow(ClassId::Double, {1.5, -2});
    ASSERT_EQ(send("D", doubles).message, "Succeed");
    ASSERT_EQ(send("I", numericRow(ClassId::Int8, {-1, 2, -3, 4})).message, "Succeed");
    ASSERT_EQ(send("C", Array::string("abcdef")).message, "Succeed");
    waitUntilProcessed(cfg);

    // Doubles go out as IEEE little-endian, 8 bytes each.
    std::vector<std::uint8_t> expected(16);
    const double values[] = {1.5, -2};
    for (int k = 0; k < 2; ++k) {
        std::uint64_t bits;
        std::memcpy(&bits, &values[k], 8);
        for (int b = 0; b < 8; ++b) expected[8 * k + b] = static_cast<std::uint8_t>(bits >> (8 * b));
    }
    const auto files = generator.files();
    EXPECT_TRUE(files.at("WFM1:D") == expected);
    EXPECT_TRUE(files.at("WFM1:I") == (std::vector<std::uint8_t>{0xFF, 2, 0xFD, 4}));
    EXPECT_TRUE(files.at("WFM1:C") == (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 'e', 'f'}));

    const auto upload = [&](const char* name, const Array& like) {
        const auto out = vesk(3, {code(8), cfg, Array::string(std::string(":MMEM:DATA? \"WFM1:") + name + "\""), like});
        EXPECT_EQ(out.at(0).realAt(0), 0) << name << ": " << out.at(1).text();
        EXPECT_EQ(out.at(1).text(), "Succeed");
        return out.at(2);
    };
    EXPECT_EQ(upload("D", Array::scalar(0)), doubles);
    EXPECT_EQ(upload("I", Array::numeric(ClassId::Int8, 0, 0)), numericRow(ClassId::Int8, {-1, 2, -3, 4}));
    EXPECT_EQ(upload("I", numericRow(ClassId::Uint8, {7})), numericRow(ClassId::Uint8, {255, 2, 253, 4}));
    EXPECT_EQ(upload("C", Array::string("")), Array::string("abcdef"));
    // 16 bytes read as characters, 6 characters as doubles: not a whole number of them.
    EXPECT_EQ(upload("D", Array::string("x")).numel(), 16u);
    const auto misfit = vesk(3, {code(8), cfg, Array::string(":MMEM:DATA? \"WFM1:C\""), Array::scalar(0)});
    EXPECT_EQ(misfit[0].realAt(0), -1);
    EXPECT_EQ(misfit[1].text(), "The data file size does not fit the required data type");
    EXPECT_EQ(misfit[2], Array::scalar(0));
    // That failure took the session with it; the next command connects again and works.
    EXPECT_EQ(upload("C", Array::string("")), Array::string("abcdef"));
    EXPECT_EQ(generator.connectionsAccepted(), 2u);
}

TEST_F(VeskTest, DownloadWritesTheWaveformAndMarkers) {
    auto& generator = startSimulator();
    const Array cfg = lanConfig(generator.port());
    Array w = Array::numeric(ClassId::Double, 1, 16, true);
    for (std::size_t j = 0; j < 16; ++j) w.setComplex(j, {0.5, j % 2 ? -0.25 : 0.0});
    Array markers = Array::zeros(2, 16);
    for (std::size_t j = 0; j < 16; ++j) markers.setReal(2 * j + 1, j < 4 ? 1 : 0);  // row 2 on for 4 samples

    const Outcome normalized = run({code(4), cfg, w, markers, Array::string("norm"), Array::scalar(1), Array::string("N")});
    ASSERT_EQ(normalized.status, 0) << normalized.message;
    const Outcome raw = run({code(4), cfg, w, markers, Array::string("No_Norm"), numericRow(ClassId::Double, {0.5, 9}), Array::string("R")});
    ASSERT_EQ(raw.status, 0) << raw.message;
    waitUntilProcessed(cfg);
    const auto files = generator.files();
    const auto& n = files.at("WFM1:N");
    const auto& r = files.at("WFM1:R");
    ASSERT_EQ(n.size(), 64u);
    ASSERT_EQ(r.size(), 64u);
    const auto word = [](const std::vector<std::uint8_t>& f, std::size_t k) {
        return static_cast<std::int16_t>((f[2 * k] << 8) | f[2 * k + 1]);
    };
    EXPECT_EQ(word(n, 0), 32767);   // 0.5 is the peak
    EXPECT_EQ(word(n, 3), -16384);  // -0.25 / 0.5 * 32767, half away from zero
    EXPECT_EQ(word(r, 0), 8192);    // 0.5 * 0.5 * 32767 unnormalised
    EXPECT_EQ(word(r, 3), -4096);
    const auto& m = files.at("MKR1:N");
    EXPECT_TRUE(m == (std::vector<std::uint8_t>{2, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // A real waveform (no Q) and a failing one: 14 samples.
    EXPECT_EQ(run({code(4), cfg, Array::zeros(1, 16), Array::zeros(0, 16), Array::string("norm"), Array::scalar(1), Array::string("Z")}).status, 0);
    waitUntilProcessed(cfg);
    EXPECT_EQ(files.size() + 2, generator.files().size());
    const Outcome tooShort = run({code(4), cfg, Array::zeros(1, 14), Array::zeros(1, 14), Array::string("norm"), Array::scalar(1), Array::string("S")});
    EXPECT_EQ(tooShort.status, -1);
    EXPECT_EQ(tooShort.message, "Number of IQ samples are less than 16.");
    EXPECT_EQ(generator.connectionsAccepted(), 1u);
    EXPECT_EQ(run({code(1), cfg}).status, 0);
    EXPECT_EQ(generator.connectionsAccepted(), 2u);
}

// ---------------------------------------------------------------------------------------
// Bad input

// Arrays of every class, empty ones and long texts in every position of every command:
// each call ends in a usage error, a status, or nothing for codes outside the table.
TEST_F(VeskTest, AnyArrayInAnyPositionGivesAMessageOrAStatus) {
    const std::uint16_t port = closedPort();
    const std::string longText(100000, 'G');
    Array cell = Array::cell(1, 2);
    cell.cellAt(0) = Array::string("x");
    std::vector<Array> samples = {
        Array(),
        Array::scalar(2.5),
        Array::numeric(ClassId::Double, 3, 2, true),
        numericRow(ClassId::Int8, {1, 2, 3}),
        numericRow(ClassId::Uint8, {255}),
        Array::numeric(ClassId::Int32, 0, 5),
        numericRow(ClassId::Int32, {1, 2}),
        Array::string(""),
        Array::string(longText),
        Array::logicalScalar(true),
        Array::structure(0, 0),
        Array::structure(2, 2),
        structOf({{"type", Array::string(longText)}, {longText.c_str(), structOf({})}}),
        structOf({{"type", Array::string("LAN")}, {"LAN", Array::structure(1, 0)}}),
        structOf({{"type", Array::string("GPIB")}, {"GPIB", structOf({{"board", Array::numeric(ClassId::Int32, 1, 0)}, {"primary", code(1)}, {"secondary", code(1)}})}}),
        lanConfig(port),
        cell,
    };
    const Array good = lanConfig(port);
    for (std::int32_t c : {1, 2, 3, 4, 5, 7, 8, 50, 999, 6}) {
        const std::size_t arity = c == 4 ? 7 : c == 3 || c == 7 || c == 8 ? 4 : c == 2 || c == 50 ? 3 : 2;
        for (std::size_t position = 1; position < arity; ++position) {
            for (const Array& sample : samples) {
                std::vector<Array> args(arity, Array::string("x"));
                args[0] = code(c);
                args[1] = good;
                args[position] = sample;
                try {
                    const auto out = vesk(0, args);
                    if (c == 999 || c == 6) {
                        EXPECT_TRUE(out.empty());
                    } else {
                        ASSERT_EQ(out.size(), 1u) << c << " at " << position;
                        EXPECT_EQ(out[0].realAt(0), -1) << c << " at " << position;
                    }
                } catch (const host::Error& e) {
                    EXPECT_EQ(std::string(e.what()).rfind("Usage: ", 0), 0u) << e.what();
                }
            }
        }
    }
}

}  // namespace
