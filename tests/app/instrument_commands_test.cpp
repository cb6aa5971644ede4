#include "app/instrument_commands.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "MexIO/correction_file.h"
#include "MexIO/instrument_wrappers.h"
#include "UI/parameter_file.h"
#include "app/demo.h"
#include "brevia.h"
#include "error_message.h"
#include "host/exports.h"
#include "host/interrupt.h"
#include "sim/with_fields.h"
#include "host/records.h"
#include "sim/simulated_generator.h"

using host::Array;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string field(const Array& config, const char* record, const char* name) {
    const Array& f = config.field(record).field(name);
    return f.isChar() ? f.text() : std::to_string(static_cast<long long>(f.realAt(0)));
}

// Energy of the Q branch over that of the I branch in a stored I/Q file (big-endian int16 pairs).
double quadratureShare(const std::vector<std::uint8_t>& iq) {
    double i2 = 0, q2 = 0;
    for (std::size_t k = 0; k + 3 < iq.size(); k += 4) {
        const double i = static_cast<std::int16_t>((iq[k] << 8) | iq[k + 1]);
        const double q = static_cast<std::int16_t>((iq[k + 2] << 8) | iq[k + 3]);
        i2 += i * i;
        q2 += q * q;
    }
    return q2 / i2;
}

class InstrumentCommands : public ::testing::Test {
protected:
    std::unique_ptr<sim::SimulatedGenerator> simulator;
    std::string connect;
    fs::path dir;

    void SetUp() override {
        sim::Options o;
        o.idleTimeout = 60s;
        simulator = std::make_unique<sim::SimulatedGenerator>(o);
        simulator->start();
        connect = "lan:127.0.0.1:" + std::to_string(simulator->port());
        dir = fs::temp_directory_path() / ("onexfwd_instrument_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        setenv("BREVIA_CORRECTIONS_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        mexio::vesk(0, {Array::int32Scalar(999)});
        simulator->stop();
        unsetenv("BREVIA_CORRECTIONS_DIR");
        fs::remove_all(dir);
        host::clearRecords();
    }
    app::InstrumentOptions options() const {
        app::InstrumentOptions o;
        o.connect = connect;
        o.sets = {"OverSampling=2"};
        o.seed = 3;
        return o;
    }
    // A simulator of its own for a fault that must be there from the first command.
    void restart(sim::Options o) {
        mexio::vesk(0, {Array::int32Scalar(999)});
        simulator->stop();
        o.idleTimeout = 60s;
        simulator = std::make_unique<sim::SimulatedGenerator>(o);
        simulator->start();
        connect = "lan:127.0.0.1:" + std::to_string(simulator->port());
    }
    std::string instrument() const { return "Instrument at 127.0.0.1:" + std::to_string(simulator->port()) + " "; }
    // A round trip on the commands' own connection: everything sent before has been taken in.
    void settle() const { mexio::hwQuery(app::parseConnectSpec(connect), "*OPC?"); }
    int download(const app::InstrumentOptions& o, std::string& out, std::string& err) {
        std::ostringstream o1, e1;
        const int status = app::runDownload(o, o1, e1);
        out = o1.str();
        err = e1.str();
        return status;
    }
};

}  // namespace

TEST(ConnectSpec, EveryKindAndWhatIsWrong) {
    const Array lan = app::parseConnectSpec("lan:127.0.0.1:5025");
    EXPECT_EQ(lan.field("type").text(), "LAN");
    EXPECT_EQ(field(lan, "LAN", "address"), "127.0.0.1");
    EXPECT_EQ(lan.field("LAN").field("port").classId(), host::ClassId::Int32);
    EXPECT_EQ(app::describeConnection(lan), "lan 127.0.0.1:5025");

    const Array gpib = app::parseConnectSpec("GPIB:1:19:5");
    EXPECT_EQ(gpib.field("type").text(), "GPIB");
    EXPECT_EQ(field(gpib, "GPIB", "board") + field(gpib, "GPIB", "primary") + field(gpib, "GPIB", "secondary"), "1195");
    EXPECT_EQ(field(app::parseConnectSpec("gpib:0:7"), "GPIB", "secondary"), "-1");
    EXPECT_EQ(app::describeConnection(gpib), "GPIB1::19::5");

    const Array serial = app::parseConnectSpec("rs232:2:115200:RTS/CTS");
    EXPECT_EQ(serial.field("type").text(), "RS232");
    EXPECT_EQ(field(serial, "RS232", "port") + " " + field(serial, "RS232", "baudrate"), "2 115200");
    EXPECT_EQ(field(serial, "RS232", "handshake"), "RTS/CTS");
    EXPECT_EQ(field(app::parseConnectSpec("rs232:1:9600"), "RS232", "handshake"), "Xon/Xoff");

    const Array tcpip = app::parseConnectSpec("tcpip:192.168.1.20:1");
    EXPECT_EQ(field(tcpip, "TCPIP", "address") + " " + field(tcpip, "TCPIP", "board"), "192.168.1.20 1");
    EXPECT_EQ(field(app::parseConnectSpec("tcpip:sg.lab"), "TCPIP", "board"), "0");

    // The connection record the extension takes: every form is accepted by its parser.
    for (const char* spec : {"lan:127.0.0.1:5025", "gpib:0:19", "rs232:1:9600:none", "tcpip:10.0.0.1"})
        EXPECT_NE(mexio::formatconfig(app::parseConnectSpec(spec)).findField("type"), nullptr) << spec;

    EXPECT_EQ(errorMessageOf([] { app::parseConnectSpec("lan:127.0.0.1:70000"); }),
              "--connect lan:127.0.0.1:70000: the port must be a whole number from 1 to 65535, not '70000' (expected "
              "lan:HOST:PORT, for example lan:127.0.0.1:5025).");
    EXPECT_NE(errorMessageOf([] { app::parseConnectSpec("gpib:0:31"); }).find("the primary address must be a whole number from 0 to 30"),
              std::string::npos);
    EXPECT_NE(errorMessageOf([] { app::parseConnectSpec("rs232:1:fast"); }).find("the baud rate"), std::string::npos);
    EXPECT_NE(errorMessageOf([] { app::parseConnectSpec("rs232:1:9600:dtr"); }).find("none, xon/xoff or rts/cts"), std::string::npos);
    EXPECT_NE(errorMessageOf([] { app::parseConnectSpec("tcpip:"); }).find("give the instrument's address"), std::string::npos);
    EXPECT_NE(errorMessageOf([] { app::parseConnectSpec("usb:1"); }).find("the connection is lan:HOST:PORT"), std::string::npos);
}

TEST(ConnectSpec, SavedConfigurationInTheWorkingFolder) {
    const fs::path dir = fs::temp_directory_path() / ("onexfwd_config_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    // Nothing saved: the start-up defaults, GPIB board 0, address 19.
    EXPECT_EQ(app::describeConnection(app::connectionFor(std::nullopt)), "GPIB0::19");
    Array saved = mexio::initialConfiguration();
    saved.setField("Connection", Array::scalar(1));
    saved.setField("BaudRate", Array::scalar(19200));
    saved.setField("LastParameterFilename", Array::string("/old/setup.mat"));
    ui::saveConfig(saved);
    const Array loaded = ui::loadConfig();
    EXPECT_TRUE(loaded.field("LastParameterFilename").isEmpty());
    EXPECT_EQ(app::describeConnection(app::connectionFor(std::nullopt)), "ASRL1 at 19200 baud (Xon/Xoff)");
    EXPECT_EQ(app::describeConnection(app::connectionFor(std::string("gpib:0:3"))), "GPIB0::3");  // --connect wins
    fs::current_path(before);
    fs::remove_all(dir);
}

TEST_F(InstrumentCommands, DownloadAndPlayWithChangedSettings) {
    app::InstrumentOptions o = options();
    o.settings = {"Frequency=1.9e9", "Amplitude=-12.5", "Title=Mine"};
    o.play = true;
    std::string out, err;
    ASSERT_EQ(download(o, out, err), 0) << err;
    // As the panel takes them: the power to whole dBm, the title upper case; both said.
    EXPECT_NE(err.find("Amplitude -12.5 dBm rounded to -13 dBm"), std::string::npos) << err;
    EXPECT_NE(err.find("Title \"Mine\" cleaned to \"MINE\""), std::string::npos) << err;
    EXPECT_NE(out.find("corrections: none for 1900000000 Hz (File empty or not found. " + (dir / "US12345678 1.9 GHz.mat").string() + ")"), std::string::npos) << out;
    EXPECT_NE(out.find("downloaded \"MINE\": 65536 samples to lan 127.0.0.1:"), std::string::npos) << out;
    EXPECT_NE(out.find("Waveform has been successfully transferred to the instrument"), std::string::npos);
    settle();
    const auto files = simulator->files();
    ASSERT_TRUE(files.count("WFM1:MINE"));
    EXPECT_EQ(files.at("WFM1:MINE").size(), 4u * 65536);
    const auto settings = simulator->settings();
    EXPECT_EQ(settings.at("frequency"), "1900000000Hz");
    EXPECT_EQ(settings.at("power"), "-13dbm");
    EXPECT_EQ(settings.at("sampleClock"), "2457600Hz");  // follows --set OverSampling=2
    EXPECT_EQ(settings.at("waveform"), "WFM1:MINE");
    EXPECT_EQ(settings.at("arbState"), "1");

    // Play alone sends every setting, the defaults for those not given; --set makes the
    // sample clock follow the oversampling as for a download.
    app::InstrumentOptions p;
    p.connect = connect;
    p.sets = {"OverSampling=2"};
    p.settings = {"Frequency=2.1e9", "Title=MINE"};
    std::ostringstream pout, perr;
    ASSERT_EQ(app::runPlay(p, pout, perr), 0) << perr.str();
    settle();
    EXPECT_EQ(simulator->settings().at("frequency"), "2100000000Hz");
    EXPECT_EQ(simulator->settings().at("sampleClock"), "2457600Hz");
    EXPECT_EQ(simulator->settings().at("power"), "-30dbm");
    // A waveform the instrument does not hold: its error queue makes play a failure.
    p.settings = {"Title=NONE"};
    std::ostringstream nout, nerr;
    EXPECT_EQ(app::runPlay(p, nout, nerr), 1);
    EXPECT_NE(nerr.str().find("-256,\"File name not found\""), std::string::npos) << nerr.str();
}

TEST_F(InstrumentCommands, CorrectionsOfTheInstrumentAreAppliedToACopy) {
    std::string out, err;
    ASSERT_EQ(download(options(), out, err), 0) << err;
    settle();
    const double plain = quadratureShare(simulator->files().at("WFM1:OneX-Fwd"));
    const Array before = host::record("waveform");

    // The simulated instrument's serial number at the default carrier; I/Q path gain 2 across
    // the signal's band halves Q.
    writeCorrectionFile((dir / "US12345678 2.2 GHz.mat").string(), correctionRecords({3}, {2}, {std::nan("")}, 1e6));
    ASSERT_EQ(download(options(), out, err), 0) << err;
    settle();
    EXPECT_NE(out.find("corrections: 0 RF channel and 1 I/Q applied"), std::string::npos) << out;
    EXPECT_NEAR(quadratureShare(simulator->files().at("WFM1:OneX-Fwd")) / plain, 0.25, 0.0025);
    EXPECT_EQ(host::record("waveform"), before);  // the stored frame is left as computed

    // A file that is not a correction file: the waveform goes as computed, with the reason shown.
    host::saveMatFile((dir / "US12345678 2.2 GHz.mat").string(), {{"something", Array::scalar(1)}});
    ASSERT_EQ(download(options(), out, err), 0) << err;
    settle();
    EXPECT_NE(out.find("corrections: none for 2200000000 Hz (Invalid data structure. " + (dir / "US12345678 2.2 GHz.mat").string() + ")"), std::string::npos) << out;
    EXPECT_NEAR(quadratureShare(simulator->files().at("WFM1:OneX-Fwd")), plain, 1e-12);
}

TEST_F(InstrumentCommands, FailuresSayWhatWentWrong) {
    std::string out, err;
    app::InstrumentOptions o = options();
    o.settings = {"Frequenzy=1e9"};
    EXPECT_EQ(download(o, out, err), 1);
    EXPECT_NE(err.find("--settings Frequenzy: no such setting. Known: Title, Frequency"), std::string::npos) << err;

    const std::uint16_t port = simulator->port();
    simulator->stop();
    o = options();
    o.play = true;
    EXPECT_EQ(download(o, out, err), 1);
    EXPECT_EQ(err, "onexfwd download: Error Occured During Waveform Download: Instrument at 127.0.0.1:" + std::to_string(port) +
                       " cannot be reached: Connection refused (at opening the connection with a 10 s time-out)\n");

    std::ostringstream qout, qerr;
    EXPECT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Query, connect, "", false, qout, qerr), 1);
    EXPECT_EQ(qerr.str(), "onexfwd query: give the query to send, for example *IDN?.\n");
}

// Ctrl+C on a download or a play waiting on an instrument that never answers: the command
// ends within a second as cancelled (status 130), its terminal line having said the step;
// the program is not ended by that first Ctrl+C, and the next command reaches the instrument.
TEST_F(InstrumentCommands, CtrlCCancelsWorkOnASilentInstrument) {
    const struct {
        const char* name;
        std::function<int(const app::InstrumentOptions&, std::ostream&, std::ostream&)> run;
        std::string step, failure;
    } commands[] = {
        {"download", app::runDownload, "Asking the instrument what it is",
         "onexfwd download: Error Occured During Waveform Download: Download cancelled\n"},
        {"play", app::runPlay, "Setting up playback", "onexfwd play: Error Occured During Instrument Setup: Instrument setup cancelled\n"},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        simulator->setFaults(make<sim::Faults>([](auto& f) { f.silent = true; }));
        app::InstrumentOptions o = options();
        o.progress = true;
        std::ostringstream out, err;
        int status = -1;
        std::thread command([&] { status = c.run(o, out, err); });
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (host::progressState().step != c.step && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(300ms);  // the line shows every fifth of a second
        const auto pressed = std::chrono::steady_clock::now();
        ::kill(::getpid(), SIGINT);
        command.join();
        EXPECT_LT(std::chrono::steady_clock::now() - pressed, 1s);
        EXPECT_EQ(status, 130);
        const std::string said = err.str();
        EXPECT_NE(said.find("\r" + c.step), std::string::npos) << said;
        EXPECT_TRUE(said.ends_with(c.failure)) << said;
        EXPECT_EQ(out.str(), "");
        simulator->setFaults({});
        std::ostringstream pingOut, pingErr;
        EXPECT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Ping, connect, "", true, pingOut, pingErr), 0) << pingErr.str();
    }
}

TEST_F(InstrumentCommands, PingQueryAndSend) {
    std::ostringstream out, err;
    ASSERT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Ping, connect, "", false, out, err), 0) << err.str();
    EXPECT_NE(out.str().find(": Succeed"), std::string::npos) << out.str();
    ASSERT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Send, connect, ":OUTP:STAT ON", false, out, err), 0);
    std::ostringstream reply;
    ASSERT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Query, connect, ":OUTP:STAT?", false, reply, err), 0);
    EXPECT_EQ(reply.str(), "1\n");
    std::ostringstream idn;
    ASSERT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Query, connect, "*IDN?", false, idn, err), 0);
    EXPECT_EQ(idn.str(), "Brevia Simulation,CV4438C,US12345678,C.01.00\n");
    // Quiet: ping and send say nothing on success; a query still prints its reply.
    std::ostringstream quiet, quietReply;
    ASSERT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Ping, connect, "", true, quiet, err), 0);
    ASSERT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Send, connect, ":OUTP:STAT OFF", true, quiet, err), 0);
    EXPECT_EQ(quiet.str(), "");
    ASSERT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Query, connect, ":OUTP:STAT?", true, quietReply, err), 0);
    EXPECT_EQ(quietReply.str(), "0\n");
}

// The same failure through the three ways in: the command line, the library's C form of
// the download and the extension's own download command.
struct EntryResults {
    int exitStatus = 0;
    std::string commandLine;  // what onexfwd download --play printed on stderr
    double cStatus = 0, extensionStatus = 0;
    std::string cMessage, extensionMessage;
};

EntryResults downloadThroughEveryEntry(const app::InstrumentOptions& o, const std::function<void()>& arm) {
    EntryResults r;
    arm();
    std::ostringstream out, err;
    r.exitStatus = app::runDownload(o, out, err);
    r.commandLine = err.str();
    EXPECT_EQ(out.str().find(mexio::kDownloadCompleted), std::string::npos) << out.str();

    const Array config = app::parseConnectSpec(*o.connect);
    Array waveform = host::record("waveform"), markers = host::record("markers"), name = Array::string("CForm"),
          cConfig = config;
    arm();
    mxArray* description = nullptr;
    mxArray* status = mlfOrvexDownLoadWrap(&description, host::wrap(&waveform), host::wrap(&markers), host::wrap(&name),
                                           host::wrap(&cConfig), nullptr);
    EXPECT_NE(status, nullptr) << BreviaLastError();
    if (status && description) {
        r.cStatus = host::unwrap(status)->realAt(0);
        r.cMessage = host::unwrap(description)->text();
    }
    mxDestroyArray(status);
    mxDestroyArray(description);

    arm();
    const std::vector<Array> ext = mexio::vesk(2, {Array::int32Scalar(4), mexio::formatconfig(config), waveform, markers,
                                                   Array::string("norm"), Array::scalar(1), Array::string("Ext")});
    r.extensionStatus = ext.at(0).realAt(0);
    r.extensionMessage = ext.at(1).text();
    return r;
}

bool startsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }
bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(InstrumentCommands, LinkLostInTheMiddleOfABlockFailsTheDownload) {
    sim::Options pellar;
    pellar.model = sim::Model::Pellar;
    restart(pellar);
    app::InstrumentOptions o = options();  // 65536 samples: 131072 bytes per file
    o.play = true;
    const auto dropOnce = [&] {
        simulator->setFaults(make<sim::Faults>([](auto& f) { f.dropAfterBlockBytes = 100000; }));
    };
    const EntryResults r = downloadThroughEveryEntry(o, dropOnce);
    EXPECT_EQ(r.exitStatus, 1);
    const std::string failed = "onexfwd download: " + std::string(mexio::kDownloadFailedTitle) + ": " + instrument();
    EXPECT_TRUE(startsWith(r.commandLine, failed)) << r.commandLine;
    EXPECT_TRUE(endsWith(r.commandLine, " (at the transfer of \"OneX-Fwd\")\n")) << r.commandLine;
    EXPECT_EQ(r.cStatus, -1);
    EXPECT_TRUE(startsWith(r.cMessage, instrument()) && endsWith(r.cMessage, "(at the transfer of \"CForm\")")) << r.cMessage;
    EXPECT_EQ(r.extensionStatus, -1);
    EXPECT_TRUE(startsWith(r.extensionMessage, instrument())) << r.extensionMessage;

    // Nothing was stored or played; the link comes back for the next download, which is whole.
    settle();
    EXPECT_TRUE(simulator->files().empty());
    EXPECT_EQ(simulator->settings().count("frequency"), 0u);
    std::string out, err;
    ASSERT_EQ(download(o, out, err), 0) << err;
    settle();
    EXPECT_EQ(simulator->files().at("ARBI:OneX-Fwd").size(), 2u * 65536);
    EXPECT_EQ(simulator->settings().at("frequency"), "2200000000Hz");
}

TEST_F(InstrumentCommands, UnsupportedInstrumentNamesWhatItFound) {
    const struct {
        const char* idn;
        const char* found;
    } cases[] = {{"Maker, SG4431A, US1, 1.0", "names the model \"SG4431A\""}, {"garbage", "names no model"}};
    for (const auto& c : cases) {
        const EntryResults r = downloadThroughEveryEntry(options(), [&] {
            simulator->setFaults(make<sim::Faults>([&](auto& f) { f.idnOverride = c.idn; }));
        });
        const std::string message = "The instrument is not a supported signal generator: its identification \"" +
                                    std::string(c.idn) + "\" " + c.found +
                                    "; supported are the models whose name ends in C (Corvane) or B (Pellar).";
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.commandLine, "onexfwd download: " + std::string(mexio::kDownloadFailedTitle) + ": " + message +
                                     " (at the transfer of \"OneX-Fwd\")\n");
        EXPECT_EQ(r.cStatus, -1);
        EXPECT_EQ(r.cMessage, message + " (at the transfer of \"CForm\")");
        EXPECT_EQ(r.extensionStatus, -1);
        EXPECT_EQ(r.extensionMessage, message);
    }
    settle();
    EXPECT_TRUE(simulator->files().empty());
}

TEST_F(InstrumentCommands, EmptyInstrumentWithTooLittleMemoryRefusesTheBlock) {
    sim::Options pellar;
    pellar.model = sim::Model::Pellar;
    pellar.maxStoredBytes = 1000;  // the catalogue reads "0,1000": no files yet
    restart(pellar);
    const EntryResults r = downloadThroughEveryEntry(options(), [] {});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.commandLine, "onexfwd download: " + std::string(mexio::kDownloadFailedTitle) +
                                 ": Not enough memory in the instrument. (at the transfer of \"OneX-Fwd\")\n");
    EXPECT_EQ(r.cStatus, -1);
    EXPECT_EQ(r.cMessage, "Not enough memory in the instrument. (at the transfer of \"CForm\")");
    EXPECT_EQ(r.extensionStatus, -1);
    EXPECT_EQ(r.extensionMessage, "Not enough memory in the instrument.");
    settle();
    EXPECT_TRUE(simulator->files().empty());
    for (const std::string& command : simulator->commands()) EXPECT_EQ(command.find("<block"), std::string::npos) << command;
}

TEST(Demo, DownloadsAndReportsWhatTheInstrumentHolds) {
    for (const bool pellar : {false, true}) {
        app::DemoOptions o;
        o.sets = {"OverSampling=2"};
        o.pellar = pellar;
        o.quiet = true;
        std::ostringstream out, err;
        ASSERT_EQ(app::runDemo(o, out, err), 0) << err.str();
        const std::string text = out.str();
        EXPECT_NE(text.find(pellar ? "\"ARBI:OneX-Fwd\"" : "\"WFM1:OneX-Fwd\""), std::string::npos) << text;
        EXPECT_NE(text.find(pellar ? "65536 (131072 bytes)" : "65536 (262144 bytes)"), std::string::npos) << text;
        EXPECT_NE(text.find("frequency       2200000000Hz"), std::string::npos) << text;
        EXPECT_NE(text.find("sample clock    2457600Hz"), std::string::npos) << text;
        EXPECT_NE(text.find("ARB             on"), std::string::npos) << text;
        mexio::vesk(0, {Array::int32Scalar(999)});
        host::clearRecords();
    }
}

TEST(InstrumentCommandLine, NoVisaLibrarySaysWhatToDo) {
    for (const char* name : {"libaltvisa32.so", "libvisa32.so", "libvisa.so.7", "libvisa.so"})
        if (void* lib = dlopen(name, RTLD_LAZY)) {
            dlclose(lib);
            GTEST_SKIP() << "a VISA library is installed here: " << name;
        }
    setenv("VESK_VISA_LIBRARY", "/nonexistent/libvisa.so", 1);
    std::ostringstream out, err;
    EXPECT_EQ(app::runInstrumentCommand(app::InstrumentCommand::Ping, std::string("gpib:0:19"), "", false, out, err), 1);
    EXPECT_NE(err.str().find("fail loading both visa32.dll and altvisa32.dll"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("--connect lan:HOST:PORT"), std::string::npos) << err.str();
    unsetenv("VESK_VISA_LIBRARY");
    mexio::vesk(0, {Array::int32Scalar(999)});
}
