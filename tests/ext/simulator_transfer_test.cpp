// Downloads, read-back and faults over the real transports against the simulated signal
// generator: the raw socket directly, GPIB, serial and TCPIP through the simulated VISA
// library. Expected files are computed here from the instrument's file formats.
#include <gtest/gtest.h>

#include "instrument_words.h"
#include "ext/simvisa_log.h"
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "ext/hardware_io.h"
#include "ext/io_manager.h"
#include "ext/signal_generator.h"
#include "sim/simulated_generator.h"

namespace {

using namespace std::chrono_literals;
using vesk::HardwareIO;
using vesk::IOManager;

struct Waveform {
    std::vector<double> i, q, markers;  // markers: rows x count, column-major
    std::size_t rows = 0;
    std::size_t count() const { return i.size(); }
};

Waveform randomWaveform(std::size_t count, std::size_t rows, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-2, 2);
    std::bernoulli_distribution on(0.4);
    Waveform w;
    w.rows = rows;
    for (std::size_t j = 0; j < count; ++j) {
        w.i.push_back(value(random));
        w.q.push_back(value(random));
    }
    for (std::size_t k = 0; k < count * rows; ++k) w.markers.push_back(on(random) ? 1.0 : 0.0);
    return w;
}

std::vector<std::uint8_t> expectedCorvaneIQ(const Waveform& w, double gain) { return reference::corvaneIq(w.i, w.q, gain); }

std::vector<std::uint8_t> expectedCorvaneMarkers(const Waveform& w) {
    std::vector<std::uint8_t> out(w.count(), 0);
    for (std::size_t j = 0; j < w.count(); ++j)
        for (std::size_t r = 0; r < std::min<std::size_t>(w.rows, 8); ++r)
            if (w.markers[j * w.rows + r] > 0) out[j] = static_cast<std::uint8_t>(out[j] | (1u << r));
    return out;
}

std::vector<std::uint8_t> expectedPellar(const Waveform& w, bool iFile, double gain) {
    std::vector<int> high;
    if (iFile)
        for (std::size_t j = 0; j < w.count(); ++j)
            high.push_back((w.rows >= 1 && w.markers[j * w.rows] > 0 ? 1 : 0) | (w.rows >= 2 && w.markers[j * w.rows + 1] > 0 ? 2 : 0));
    return reference::pellarPart(iFile ? w.i : w.q, gain, reference::peakOf(w.i, w.q), high);
}

class SimulatorTest : public ::testing::Test {
protected:
    void startSimulator(sim::Model model) {
        sim::Options options;
        options.model = model;
        options.idleTimeout = 60s;  // a test that hangs still lets the server end
        simulator_ = std::make_unique<sim::SimulatedGenerator>(options);
        simulator_->start();
        // The simulated VISA library reads these when it is loaded.
        const std::string target = "127.0.0.1:" + std::to_string(simulator_->port());
        setenv("SIMVISA_TARGET", target.c_str(), 1);
        setenv("SIMVISA_LOG", logPath_.c_str(), 1);
        setenv("VESK_VISA_LIBRARY", SIMVISA_LIBRARY, 1);
    }

    void SetUp() override {
        IOManager::releaseAll();
        logPath_ = (std::filesystem::temp_directory_path() /
                    ("ext_simvisa_" + std::to_string(::getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log"))
                       .string();
        std::filesystem::remove(logPath_);
    }

    void TearDown() override {
        IOManager::releaseAll();
        if (simulator_) simulator_->stop();
        std::filesystem::remove(logPath_);
    }

    std::vector<std::vector<std::string>> logLines() const { return readSimvisaLog(logPath_); }

    // The extension's download command: a session from the table, the model from the
    // identity, the transfer, and the session dropped when the transfer fails.
    bool downloadCommand(const std::string& key, const std::function<std::unique_ptr<HardwareIO>()>& make,
                         const Waveform& w, const std::string& name, double gain = 1.0) {
        HardwareIO* session = IOManager::instance().openSession(key, make);
        if (!session) return false;
        auto generator = vesk::selectModel(*session);
        if (!generator) return false;
        generator->setGain(gain);
        const bool ok =
            generator->download(w.count(), w.i.data(), w.q.data(), w.rows, w.count(), w.markers.data(), name);
        if (!ok) {
            IOManager::instance().removeSession(session);
            return false;
        }
        // The instrument answers only after it has taken in everything sent before.
        std::string reply;
        return session->queryText(reply, "*OPC?", 65535) && reply == "1";
    }

    std::unique_ptr<sim::SimulatedGenerator> simulator_;
    std::string logPath_;
};

std::function<std::unique_ptr<HardwareIO>()> lanSession(std::uint16_t port, int timeoutMs = 5000) {
    return [port, timeoutMs] {
        auto lan = std::make_unique<vesk::LanIO>("127.0.0.1", port);
        lan->setTimeout(timeoutMs);
        return lan;
    };
}

TEST_F(SimulatorTest, LanDownloadToCorvaneStoresTheExpectedFiles) {
    startSimulator(sim::Model::Corvane);
    const Waveform w = randomWaveform(4096, 9, 3);
    ASSERT_TRUE(downloadCommand(std::to_string(simulator_->port()) + "@127.0.0.1", lanSession(simulator_->port()), w,
                                "Tone", 0.8))
        << IOManager::instance().statusText();
    const auto files = simulator_->files();
    ASSERT_TRUE(files.count("WFM1:Tone"));
    ASSERT_TRUE(files.count("MKR1:Tone"));
    EXPECT_TRUE(files.at("WFM1:Tone") == expectedCorvaneIQ(w, 0.8));
    EXPECT_TRUE(files.at("MKR1:Tone") == expectedCorvaneMarkers(w));
    const auto commands = simulator_->commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "*IDN?"), commands.end());
}

TEST_F(SimulatorTest, LanDownloadToPellarStoresTheExpectedFilesAndReplacesAPlayingOne) {
    startSimulator(sim::Model::Pellar);
    const std::string key = std::to_string(simulator_->port()) + "@127.0.0.1";
    const Waveform first = randomWaveform(1024, 2, 4);
    ASSERT_TRUE(downloadCommand(key, lanSession(simulator_->port()), first, "Wave"))
        << IOManager::instance().statusText();
    HardwareIO* session = IOManager::instance().findSession(key);
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(session->sendCommand(":RAD:ARB:WAV \"arbi:Wave\""));
    ASSERT_TRUE(session->sendCommand(":RAD:ARB ON"));

    const Waveform second = randomWaveform(2048, 1, 5);
    ASSERT_TRUE(downloadCommand(key, lanSession(simulator_->port()), second, "Wave"))
        << IOManager::instance().statusText();
    const auto files = simulator_->files();
    EXPECT_TRUE(files.at("ARBI:Wave") == expectedPellar(second, true, 1.0));
    EXPECT_TRUE(files.at("ARBQ:Wave") == expectedPellar(second, false, 1.0));
    EXPECT_EQ(simulator_->settings().at("arbState"), "1");
    const auto commands = simulator_->commands();
    const auto off = std::find(commands.begin(), commands.end(), "rad:arb 0");
    ASSERT_NE(off, commands.end());
    EXPECT_NE(std::find(off, commands.end(), "rad:arb 1"), commands.end());
    EXPECT_EQ(simulator_->connectionsAccepted(), 1u);
}

TEST_F(SimulatorTest, PellarWithTooLittleMemoryRefusesTheDownload) {
    sim::Options options;
    options.model = sim::Model::Pellar;
    options.maxStoredBytes = 1000;
    options.idleTimeout = 60s;
    simulator_ = std::make_unique<sim::SimulatedGenerator>(options);
    simulator_->start();
    // An empty instrument answers "used,free" alone; that is checked too.
    ASSERT_TRUE(downloadCommand("k", lanSession(simulator_->port()), randomWaveform(16, 1, 5), "Small"));
    const Waveform w = randomWaveform(1024, 1, 6);
    EXPECT_FALSE(downloadCommand("k", lanSession(simulator_->port()), w, "Big"));
    EXPECT_EQ(IOManager::instance().statusText(), "Not enough memory in the instrument.");
    EXPECT_EQ(simulator_->files().count("ARBI:Big"), 0u);
}

// A waveform larger than the memory is refused before any of it is sent, on both models,
// also where the I file alone would fit.
TEST_F(SimulatorTest, AWaveformLargerThanTheMemoryIsNotSentInPart) {
    for (const sim::Model model : {sim::Model::Corvane, sim::Model::Pellar}) {
        sim::Options options;
        options.model = model;
        options.maxStoredBytes = 3000;  // 1024 samples: Corvane 5120 bytes, Pellar 2048 + 2048
        options.idleTimeout = 60s;
        simulator_ = std::make_unique<sim::SimulatedGenerator>(options);
        simulator_->start();
        const std::string session = sim::modelName(model);  // a session of its own to each simulator
        EXPECT_FALSE(downloadCommand(session, lanSession(simulator_->port()), randomWaveform(1024, 1, 6), "Big")) << sim::modelName(model);
        EXPECT_EQ(IOManager::instance().statusText(), "Not enough memory in the instrument.") << sim::modelName(model);
        EXPECT_TRUE(simulator_->files().empty()) << sim::modelName(model);
        ASSERT_TRUE(downloadCommand(session, lanSession(simulator_->port()), randomWaveform(256, 1, 5), "Small")) << sim::modelName(model);
        simulator_.reset();
    }
}

TEST_F(SimulatorTest, ModelFieldEndingInAFailsNamingTheModelFound) {
    startSimulator(sim::Model::Corvane);
    sim::Faults faults;
    faults.idnOverride = "Maker, SG4431A, US1, 1.0";
    simulator_->setFaults(faults);
    IOManager::instance().setStatusText("left from before");
    EXPECT_FALSE(downloadCommand("k", lanSession(simulator_->port()), randomWaveform(16, 0, 1), "x"));
    EXPECT_EQ(IOManager::instance().statusText(),
              "The instrument is not a supported signal generator: its identification \"Maker, SG4431A, US1, 1.0\" names "
              "the model \"SG4431A\"; supported are the models whose name ends in C (Corvane) or B (Pellar).");
}

TEST_F(SimulatorTest, UploadReadsBackWhatWasDownloaded) {
    startSimulator(sim::Model::Corvane);
    const Waveform w = randomWaveform(512, 1, 8);
    ASSERT_TRUE(downloadCommand("k", lanSession(simulator_->port()), w, "Back"));
    HardwareIO* session = IOManager::instance().findSession("k");
    ASSERT_NE(session, nullptr);
    vesk::Corvane generator(*session);
    for (int round = 0; round < 2; ++round) {  // the second read starts clean after the first
        std::size_t count = 0;
        ASSERT_TRUE(generator.readBlockHeader(":MMEM:DATA? \"WFM1:Back\"", count)) << IOManager::instance().statusText();
        ASSERT_EQ(count, 4u * 512);
        std::vector<std::uint8_t> data(count);
        ASSERT_TRUE(generator.readBlockData(data.data(), count));
        EXPECT_TRUE(data == expectedCorvaneIQ(w, 1.0));
    }
    std::string reply;
    ASSERT_TRUE(session->queryText(reply, "*OPC?", 65535));
    EXPECT_EQ(reply, "1");
}

TEST_F(SimulatorTest, SilentInstrumentTimesOutInsteadOfHanging) {
    startSimulator(sim::Model::Corvane);
    sim::Faults faults;
    faults.silent = true;
    simulator_->setFaults(faults);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(downloadCommand("k", lanSession(simulator_->port(), 300), randomWaveform(16, 0, 1), "x"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(IOManager::instance().statusText(),
              "Instrument at 127.0.0.1:" + std::to_string(simulator_->port()) + " did not answer within 300 ms");
}

TEST_F(SimulatorTest, ConnectionDroppedMidBlockFailsRemovesTheSessionAndReconnects) {
    startSimulator(sim::Model::Corvane);
    const std::string key = "drop";
    ASSERT_NE(IOManager::instance().openSession(key, lanSession(simulator_->port(), 2000)), nullptr);
    sim::Faults faults;
    faults.dropMidBlock = true;
    simulator_->setFaults(faults);
    const Waveform big = randomWaveform(1u << 20, 1, 9);  // 4 MiB: more than the socket buffers hold
    EXPECT_FALSE(downloadCommand(key, lanSession(simulator_->port(), 2000), big, "Cut"));
    EXPECT_NE(IOManager::instance().statusText().find("Instrument at 127.0.0.1"), std::string::npos)
        << IOManager::instance().statusText();
    EXPECT_EQ(IOManager::instance().findSession(key), nullptr);
    EXPECT_EQ(simulator_->files().count("WFM1:Cut"), 0u);

    const Waveform small = randomWaveform(64, 1, 10);
    ASSERT_TRUE(downloadCommand(key, lanSession(simulator_->port(), 2000), small, "Cut"))
        << IOManager::instance().statusText();
    EXPECT_EQ(simulator_->connectionsAccepted(), 2u);
    EXPECT_TRUE(simulator_->files().at("WFM1:Cut") == expectedCorvaneIQ(small, 1.0));
}

TEST_F(SimulatorTest, UnreachableAddressFailsTheOpen) {
    startSimulator(sim::Model::Corvane);
    const std::uint16_t port = simulator_->port();
    simulator_->stop();
    IOManager::instance().setStatusText("before");
    EXPECT_EQ(IOManager::instance().openSession("k", lanSession(port)), nullptr);
    EXPECT_EQ(IOManager::instance().sessionCount(), 0u);
    // Through VISA the failure carries the library's description of it.
    EXPECT_EQ(IOManager::instance().openSession("t", [] { return std::make_unique<vesk::TCPIPIO>(0, "127.0.0.1"); }),
              nullptr);
    EXPECT_NE(IOManager::instance().statusText(), "before");
    EXPECT_FALSE(IOManager::instance().statusText().empty());
}

// ---------------------------------------------------------------------------------------
// VISA transports

TEST_F(SimulatorTest, EachVisaTransportDownloadsByteForByte) {
    startSimulator(sim::Model::Corvane);
    const Waveform w = randomWaveform(2048, 3, 12);
    const struct {
        const char* key;
        std::function<std::unique_ptr<HardwareIO>()> make;
    } transports[] = {
        {"0::19::0", [] { return std::make_unique<vesk::GpibIO>(0, 19, 0); }},
        {"ASRL1", [] { return std::make_unique<vesk::RS232IO>(1); }},
        {"0@127.0.0.1", [] { return std::make_unique<vesk::TCPIPIO>(0, "127.0.0.1"); }},
    };
    for (const auto& t : transports) {
        const std::string name = std::string("V") + t.key[0];
        ASSERT_TRUE(downloadCommand(t.key, t.make, w, name)) << t.key << ": " << IOManager::instance().statusText();
        const auto files = simulator_->files();
        EXPECT_TRUE(files.at("WFM1:" + name) == expectedCorvaneIQ(w, 1.0)) << t.key;
        EXPECT_TRUE(files.at("MKR1:" + name) == expectedCorvaneMarkers(w)) << t.key;
    }
    EXPECT_EQ(vesk::VISAImpl::objectCount(), 3);
    IOManager::releaseAll();
    // The last VISA session took the library with it.
    EXPECT_EQ(vesk::VISAImpl::objectCount(), 0);
    EXPECT_FALSE(vesk::VISAImpl::libraryLoaded());
}

TEST_F(SimulatorTest, VisaSessionsUseTheStatedResourcesTimeOutsAndPieces) {
    startSimulator(sim::Model::Corvane);
    std::string reply;
    {
        vesk::GpibIO gpib(0, 19, -1);
        ASSERT_TRUE(gpib.open()) << IOManager::instance().statusText();
        EXPECT_TRUE(gpib.setTimeout(1500));
        EXPECT_TRUE(gpib.setTimeout(2000));
        ASSERT_TRUE(gpib.queryText(reply, "*OPC?", 65535));
        EXPECT_EQ(reply, "1");  // the reply's LF is dropped
        gpib.close();
    }
    const std::vector<std::uint8_t> block(5000, 0x5A);
    {
        vesk::TCPIPIO tcpip(0, "127.0.0.1");
        ASSERT_TRUE(tcpip.open()) << IOManager::instance().statusText();
        ASSERT_TRUE(tcpip.sendCommand(":MMEM:DATA \"WFM1:P\", #45000"));
        ASSERT_TRUE(tcpip.writeBytes(block.data(), block.size()));
        tcpip.close();
    }
    {
        vesk::RS232IO serial(3);
        serial.setSerialParameter(0, 19200);
        ASSERT_TRUE(serial.open()) << IOManager::instance().statusText();
        ASSERT_TRUE(serial.writeBytes(block.data(), block.size()));
        serial.close();
    }
    const auto lines = logLines();
    ASSERT_FALSE(lines.empty());
    const auto isOpen = [](const std::vector<std::string>& l, const char* resource) {
        return l.size() >= 2 && l[0] == "open" && l[1] == resource;
    };
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](auto& l) { return isOpen(l, "GPIB0::19::INSTR"); }));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](auto& l) { return isOpen(l, "TCPIP0::127.0.0.1::INSTR"); }));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](auto& l) { return isOpen(l, "ASRL3::INSTR"); }));

    std::vector<std::string> timeouts, writeSizes;
    std::string pieces;  // write sizes and write-buffer flushes, in order
    for (const auto& l : lines) {
        if (l[0] == "setattr" && l.size() >= 4 && std::stoul(l[2], nullptr, 16) == VI_ATTR_TMO_VALUE)
            timeouts.push_back(l[3]);
        if (l[0] == "write" && l.size() >= 3) pieces += "w" + l[2] + " ";
        if (l[0] == "flush" && l.size() >= 3 && std::stoul(l[2], nullptr, 0) == VI_WRITE_BUF) pieces += "f ";
    }
    // GPIB: 2000 only (1500 is ignored); serial open: the default 2000 and its own 2000.
    EXPECT_EQ(std::count(timeouts.begin(), timeouts.end(), "1500"), 0);
    EXPECT_GE(std::count(timeouts.begin(), timeouts.end(), "2000"), 1);
    EXPECT_NE(pieces.find("w1024 f w1024 f w1024 f w1024 f w904 f "), std::string::npos) << pieces;
    EXPECT_NE(pieces.find("w2048 f w2048 f w904 f "), std::string::npos) << pieces;
}

// The echo check's reading of what comes back: only an echo reply to this request counts.
TEST(EchoCheck, RecognisesOnlyTheReplyToItsRequest) {
    auto packet = [](std::uint8_t type, std::uint16_t sequence) {
        icmphdr h{};
        h.type = type;
        h.un.echo.sequence = htons(sequence);
        std::vector<std::uint8_t> bytes(sizeof h + 8, 0);
        std::memcpy(bytes.data(), &h, sizeof h);
        return bytes;
    };
    const auto reply = packet(ICMP_ECHOREPLY, 3);
    EXPECT_TRUE(vesk::isEchoReplyTo(reply.data(), reply.size(), 3));
    EXPECT_FALSE(vesk::isEchoReplyTo(reply.data(), reply.size(), 2));             // an earlier attempt's
    EXPECT_FALSE(vesk::isEchoReplyTo(reply.data(), sizeof(icmphdr) - 1, 3));      // cut short
    const auto request = packet(ICMP_ECHO, 3);
    EXPECT_FALSE(vesk::isEchoReplyTo(request.data(), request.size(), 3));        // not a reply
    const auto unreachable = packet(ICMP_DEST_UNREACH, 3);
    EXPECT_FALSE(vesk::isEchoReplyTo(unreachable.data(), unreachable.size(), 3));
}

// Loopback always answers, where this system lets an ordinary program ping at all.
TEST(EchoCheck, LoopbackAnswers) {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (probe < 0)
        GTEST_SKIP() << "this system allows no unprivileged ICMP (ping) sockets (sysctl net.ipv4.ping_group_range), "
                        "so the echo check skips itself here; its reading of replies is tested above";
    ::close(probe);
    EXPECT_EQ(vesk::icmpEchoCheck("127.0.0.1", 1, 1000), vesk::EchoResult::Reachable);
}

TEST_F(SimulatorTest, MissingVisaLibraryGivesItsMessage) {
    setenv("VESK_VISA_LIBRARY", "/nonexistent/libnovisa.so", 1);
    for (const auto& name : vesk::visaLibraryCandidates()) {
        if (void* installed = name[0] != '/' ? dlopen(name.c_str(), RTLD_LAZY) : nullptr) {
            dlclose(installed);
            GTEST_SKIP() << name << " is installed here";
        }
    }
    vesk::GpibIO gpib(0, 19, 0);
    EXPECT_FALSE(gpib.open());
    EXPECT_EQ(IOManager::instance().statusText(), "fail loading both visa32.dll and altvisa32.dll");
    EXPECT_FALSE(vesk::VISAImpl::libraryLoaded());
}

}  // namespace
