#include "simulated_instrument.h"
#include "MexIO/download_play.h"

#include <gtest/gtest.h>

#include "MexIO/correction_file.h"
#include "MexIO/lan_config.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "host/dialogs.h"
#include "MexIO/corrections.h"
#include "host/function_table.h"
#include "host/interrupt.h"
#include "host/records.h"
#include "sim/simulated_generator.h"
#include "sim/with_fields.h"

using host::Array;
using namespace std::chrono_literals;

namespace {

class DownloadAndPlay : public ::testing::Test {
protected:
    std::unique_ptr<SimulatedInstrument> instrument;
    sim::SimulatedGenerator* simulator = nullptr;
    std::shared_ptr<host::ScriptedDialogs> dialogs = std::make_shared<host::ScriptedDialogs>();

    void SetUp() override {
        instrument = std::make_unique<SimulatedInstrument>();
        simulator = &instrument->generator;
        host::setDialogProvider(dialogs);
        mexio::vesk(0, {Array::int32Scalar(999)});
    }
    void TearDown() override {
        mexio::vesk(0, {Array::int32Scalar(999)});
        host::setDialogProvider(nullptr);
        instrument.reset();
    }
    // The text commands received, settled with a round trip first.
    std::vector<std::string> commands(const Array& config) {
        mexio::hwQuery(config, "*OPC?");
        std::vector<std::string> all = simulator->commands();
        all.pop_back();  // the *OPC? itself
        return all;
    }
};

}  // namespace

// Over the raw socket the sequence empties the instrument's error queue first and reads it
// to its end afterwards: playing a waveform the instrument does not hold fails, naming the
// instrument's own error.
TEST_F(DownloadAndPlay, PlayCommandsExactly) {
    const Array config = lanConfig(simulator->port());
    Array settings = mexio::initialSigGenSettings(5);
    settings.setField("ReconFilter", Array::scalar(7));
    const mexio::Reply r = mexio::OrvexPlay("OneX-Fwd", settings, config);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.response.text(), "the instrument reported -256,\"File name not found\" (at the check of the instrument's error queue)");
    const std::vector<std::string> expected = {
        "*CLS",
        " :source:rad:arb:state off",
        " :source:rad:arb:wav \"arbi:OneX-Fwd\" ",
        " :source:freq:fix 2200000000Hz",
        " :source:power:level:immediate:amplitude -30dbm",
        " :source:rad:arb:clock:srate 6144000Hz",
        " :source:rad:arb:rfilter through",
        " :source:rad:arb:marker:rfblank off",
        " :source:rad:arb:marker:polarity Pos",
        " :source:rad:arb:clock:ref int",
        " :source:rad:arb:state on",
        " :output:state on",
        ":SYST:ERR?",  // the missing file
        ":SYST:ERR?",  // +0: the queue's end
        "*OPC?"};      // the socket's confirmation when control is handed back
    EXPECT_EQ(commands(config), expected);
    // Once the waveform is there, the same play succeeds.
    Array w = Array::numeric(host::ClassId::Double, 1, 20, true);
    for (std::size_t i = 0; i < 20; ++i) w.setComplex(i, {0.5, -0.5});
    ASSERT_EQ(mexio::OrvexDownLoadWrap(w, Array::zeros(2, 20), "OneX-Fwd", config).status, 0);
    EXPECT_EQ(mexio::OrvexPlay("OneX-Fwd", settings, config).status, 0);
}

TEST_F(DownloadAndPlay, PlayReportsTheFirstFailureThoughLaterCommandsGoThrough) {
    const Array config = lanConfig(simulator->port());
    Array w = Array::numeric(host::ClassId::Double, 1, 20, true);
    for (std::size_t i = 0; i < 20; ++i) w.setComplex(i, {0.5, -0.5});
    ASSERT_EQ(mexio::OrvexDownLoadWrap(w, Array::zeros(2, 20), "OneX-Fwd", config).status, 0);
    simulator->setFaults(make<sim::Faults>([](auto& f) { f.dropAfterCommands = 4; }));  // *CLS and three more
    const mexio::Reply r = mexio::OrvexPlay("OneX-Fwd", mexio::initialSigGenSettings(5), config);
    EXPECT_EQ(r.status, -1);
    const std::string message = r.response.text();
    EXPECT_EQ(message.rfind("Instrument at 127.0.0.1:" + std::to_string(simulator->port()) + " ", 0), 0u) << message;
    // Lost on the way: whichever step noticed it comes after the third setting command.
    for (const char* taken : {"state off", "arb:wav", "freq:fix"}) EXPECT_EQ(message.find(taken), std::string::npos) << message;
    EXPECT_NE(message.find(" (at "), std::string::npos) << message;
    EXPECT_EQ(simulator->settings().at("frequency"), "2200000000Hz");

    const mexio::Reply again = mexio::OrvexPlay("OneX-Fwd", mexio::initialSigGenSettings(5), config);
    EXPECT_EQ(again.status, 0) << again.response.text();
    EXPECT_EQ(again.response.text(), "Succeed");
}

TEST_F(DownloadAndPlay, OtherPlatformSendsSixteenCommands) {
    const Array config = lanConfig(simulator->port());
    Array settings = mexio::initialSigGenSettings(2);
    settings.setField("RFblanking", Array::scalar(1));
    settings.setField("MarkerPolarity", Array::scalar(1));
    settings.setField("ArbRefSource", Array::scalar(1));
    Array w = Array::numeric(host::ClassId::Double, 1, 20, true);
    for (std::size_t i = 0; i < 20; ++i) w.setComplex(i, {0.5, -0.5});
    ASSERT_EQ(mexio::OrvexDownLoadWrap(w, Array::zeros(2, 20), "W", config).status, 0);
    commands(config);  // settled: only the play's commands below
    const auto before = static_cast<std::ptrdiff_t>(simulator->commands().size());
    const mexio::Reply r = mexio::OrvexPlay_c("W", settings, config);
    EXPECT_EQ(r.status, 0) << r.response.text();
    const std::vector<std::string> expected = {
        "*CLS",
        " :source:rad:arb:state off",
        " :source:rad:arb:wav \"arbi:W\" ",
        " :source:freq:fix 2200000000Hz",
        " :source:power:level:immediate:amplitude -30dbm",
        " :source:rad:arb:clock:srate 2457600Hz",
        " :source:dm:bbfilter Through",
        " :source:rad:ARB:rscaling 100",
        ":source:DM:IQAT:AUTO off",
        ":source:DM:IQAT 0",
        " :pow:alc:state off",
        " :source:rad:arb:marker:rfblank on",
        " :source:rad:arb:marker:polarity Neg",
        " :source:rad:arb:clock:ref ext",
        " :source:rad:arb:state on",
        " :output:state on",
        " :OUTPUT:MOD ON",
        ":SYST:ERR?",
        "*OPC?"};  // the socket's confirmation when control is handed back
    const auto played = commands(config);
    EXPECT_EQ(std::vector<std::string>(played.begin() + before, played.end()), expected);
    // Settings the application never sets, when a caller gives them.
    settings.setField("BBfilter", Array::scalar(1));
    settings.setField("Scaling", Array::scalar(70.5));
    settings.setField("ModAtten", Array::scalar(2));
    settings.setField("ALC", Array::scalar(1));
    mexio::OrvexPlay_c("W", settings, config);
    const auto all = commands(config);
    ASSERT_GE(all.size(), 19u);
    const std::vector<std::string> sent(all.end() - 18, all.end() - 2);
    EXPECT_EQ(sent[5], " :source:dm:bbfilter 2.1MHz");
    EXPECT_EQ(sent[6], " :source:rad:ARB:rscaling 70.5");
    EXPECT_EQ(sent[8], ":source:DM:IQAT 2");
    EXPECT_EQ(sent[9], " :pow:alc:state on");
}

TEST_F(DownloadAndPlay, DownloadSequenceOverTheSocket) {
    const Array config = lanConfig(simulator->port());
    Array w = Array::numeric(host::ClassId::Double, 1, 100, true);
    for (std::size_t i = 0; i < 100; ++i) w.setComplex(i, {0.5, -0.5});
    auto out = host::callFunction("OrvexDownLoadWrap", 2, {w, Array::zeros(2, 100), Array::string("SEQ"), config, Array::scalar(0)});
    EXPECT_EQ(out[0].realAt(0), 0) << out[1].text();
    const auto sent = commands(config);
    auto at = [&](const std::string& c) { return std::find(sent.begin(), sent.end(), c) - sent.begin(); };
    EXPECT_LT(at(":SOUR:RAD:ARB:STATe?"), at(":SOUR:RAD:ARB:STATe OFF"));
    EXPECT_LT(at(":SOUR:RAD:ARB:STATe OFF"), at(":OUTPUT:MOD ON"));
    EXPECT_EQ(std::count(sent.begin(), sent.end(), ":SOUR:RAD:ARB:STATe ON"), 0);  // it was off before
    EXPECT_TRUE(simulator->files().count("WFM1:SEQ"));
    EXPECT_TRUE(dialogs->asked().empty());  // not a serial link
}

TEST(DownloadSequence, ExactlyOnBothPlatforms) {
    setenv("BREVIA_EXTENSION_PATH", VESK_MODULE_DIR, 1);
    // The wrap's own commands around the platform's transfer: the model is asked for, the
    // playing state checked, the files written as blocks followed by line ends, the socket's
    // receipt confirmed, then the wrap's lone LF.
    const std::vector<std::string> head = {"*CLS", ":SOUR:RAD:ARB:STATe?", ":SOUR:RAD:ARB:STATe OFF", "*IDN?"};
    const std::vector<std::string> tail = {"", ":SOUR:RAD:ARB:STATe ON", ":OUTPUT:MOD ON", ":SYST:ERR?"};
    struct Platform {
        sim::Model model;
        std::vector<std::string> transfer;
    };
    // 20 samples: 80 bytes of I/Q and 20 marker bytes on one platform, 40 + 40 bytes on the other.
    const Platform platforms[] = {
        {sim::Model::Corvane,
         {":mmem:cat? \"WFM1:\"", "rad:arb?", ":MMEMory:DATA \"WFM1:SEQ\", <block 80 bytes>", ":MMEMory:DATA \"MKR1:SEQ\", <block 20 bytes>", "*OPC?", ""}},
        {sim::Model::Pellar,
         {":mmem:cat? \"ARBI:\"", "rad:arb?", ":MMEMory:DATA \"ARBI:SEQ\", <block 40 bytes>", "", "",
          ":MMEMory:DATA \"ARBQ:SEQ\", <block 40 bytes>", "", "", "*OPC?", ""}}};
    for (const Platform& p : platforms) {
        sim::Options o;
        o.model = p.model;
        o.idleTimeout = 60s;
        sim::SimulatedGenerator simulator(o);
        simulator.start();
        const Array config = lanConfig(simulator.port());
        mexio::hwSend(config, ":SOUR:RAD:ARB:STATe ON");  // playing before: switched on again after
        Array w = Array::numeric(host::ClassId::Double, 1, 20, true);
        for (std::size_t i = 0; i < 20; ++i) w.setComplex(i, {0.05 * static_cast<double>(i), -0.5});
        const mexio::Reply r = mexio::OrvexDownLoadWrap(w, Array::zeros(2, 20), "SEQ", config);
        EXPECT_EQ(r.status, 0) << r.response.text();
        mexio::hwQuery(config, "*OPC?");
        std::vector<std::string> sent = simulator.commands();
        sent.erase(sent.begin());  // the state set up above
        sent.pop_back();           // the *OPC? that settled the log
        std::vector<std::string> expected = head;
        expected.insert(expected.end(), p.transfer.begin(), p.transfer.end());
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(sent, expected) << sim::modelName(p.model);
        mexio::vesk(0, {Array::int32Scalar(999)});
    }
}

TEST_F(DownloadAndPlay, LongSerialDownloadAsksFirst) {
    Array config = mexio::reStructureConfig(mexio::initialConfiguration());
    config.setField("type", Array::string("RS232"));
    dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Cancel"});
    host::setDialogProvider(dialogs);
    const mexio::Reply r = mexio::OrvexDownLoadWrap(Array::zeros(1, 40000), Array::zeros(2, 40000), "LONG", config);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.response.text(), "Download cancelled");
    ASSERT_EQ(dialogs->asked().size(), 1u);
    EXPECT_EQ(dialogs->asked()[0].text, "This download will take approximately 2.5 minutes. Do you want to continue?");
    EXPECT_EQ(dialogs->asked()[0].title, "RS-232 Download");
    EXPECT_TRUE(simulator->files().empty());
    EXPECT_TRUE(simulator->commands().empty());  // cancelled before anything reached the instrument
    // 1000 samples take 0.0625 minutes: no question; nor for any length over GPIB.
    mexio::OrvexDownLoadWrap(Array::zeros(1, 1000), Array::zeros(2, 1000), "SHORT", config);
    EXPECT_EQ(dialogs->asked().size(), 1u);
    const mexio::Reply gpib = mexio::OrvexDownLoadWrap(Array::zeros(1, 40000), Array::zeros(2, 40000), "LONG",
                                                       mexio::reStructureConfig(mexio::initialConfiguration()));
    EXPECT_EQ(dialogs->asked().size(), 1u);
    EXPECT_EQ(gpib.status, 0) << gpib.response.text();
    // The command line's --yes answers OK, and the long transfer goes ahead.
    host::setDialogProvider(std::make_shared<host::AcceptingDialogs>());
    const mexio::Reply accepted = mexio::OrvexDownLoadWrap(Array::zeros(1, 40000), Array::zeros(2, 40000), "YES", config);
    EXPECT_EQ(accepted.status, 0) << accepted.response.text();
    mexio::hwQuery(config, "*OPC?");
    EXPECT_TRUE(simulator->files().count("WFM1:YES"));
}

TEST(ApplyDacRes, RoundsToTheConverterSteps) {
    host::ComplexVector w{{1, 0}, {0.3, -0.7}, {-1, 0.123456}};
    EXPECT_EQ(mexio::applyDacRes(w, 2), w);
    const host::ComplexVector q = mexio::applyDacRes(w, 14);
    for (const auto& s : q) {
        EXPECT_NEAR(s.real() * 8191, std::round(s.real() * 8191), 1e-9);
        EXPECT_NEAR(s.imag() * 8191, std::round(s.imag() * 8191), 1e-9);
    }
    EXPECT_NEAR(q[1].real(), std::round(0.3 * 8191) / 8191, 1e-15);
    const host::ComplexVector q64 = mexio::applyDacRes(w, 64);  // limited to 32 bits
    EXPECT_NEAR(q64[2].imag(), std::round(0.123456 * 2147483647.0) / 2147483647.0, 1e-15);
    const host::ComplexVector zeros(4);
    EXPECT_EQ(mexio::applyDacRes(zeros, 14), zeros);
}

TEST_F(DownloadAndPlay, CorrectionFileOfTheInstrumentAnswering) {
    const std::string dir = testing::TempDir() + "brevia_instrument_corrections";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("BREVIA_CORRECTIONS_DIR", dir.c_str(), 1);
    writeCorrectionFile(dir + "/US12345678 2.2 GHz.mat", correctionRecords({2}, {2}, {4}));
    const Array config = lanConfig(simulator->port());

    const mexio::CorrectionLookup found = mexio::GetCorrectionData(2.2e9, config);
    EXPECT_TRUE(found.available()) << found.message;
    EXPECT_EQ(found.x.numel(), 1u);
    EXPECT_EQ(mexio::GetCorrectionData(2.25e9, config).status.text(), "File empty or not found.");  // "2.3 GHz"

    // Through the function table, with the application's connection record.
    host::record("configuration") = config;
    const auto viaTable = host::callFunction("GetCorrectionData", 3, {Array::scalar(2.2e9)});
    EXPECT_TRUE(viaTable[0].isEmpty());
    EXPECT_EQ(viaTable[1].numel(), 1u);
    EXPECT_EQ(viaTable[2].realAt(0), 0);

    // An identity without a serial number finds no file.
    sim::Faults noSerial;
    noSerial.idnOverride = "Brevia Simulation,CV4438C,0,C.01.00";
    simulator->setFaults(noSerial);
    EXPECT_EQ(mexio::GetCorrectionData(2.2e9, config).status.text(), "File empty or not found.");

    // An instrument that does not answer: the query's own status, a number.
    sim::Faults silent;
    silent.silent = true;
    simulator->setFaults(silent);
    mexio::hwSetTimeout(config, 300);
    const mexio::CorrectionLookup unanswered = mexio::GetCorrectionData(2.2e9, config);
    EXPECT_FALSE(unanswered.available());
    ASSERT_FALSE(unanswered.status.isChar());
    EXPECT_EQ(unanswered.status.realAt(0), -1);
    EXPECT_FALSE(unanswered.message.empty());
    simulator->setFaults({});
    unsetenv("BREVIA_CORRECTIONS_DIR");
    host::clearRecords();
}

// A stop request (the window's Cancel, the command line's Ctrl+C) ends a download waiting on
// an instrument that never answers within a second, as "Download cancelled" and never as
// success; the request cleared, the next command reconnects and works. The progress step
// said what was being done.
TEST_F(DownloadAndPlay, AStopRequestEndsAHungDownloadAndTheNextCommandReconnects) {
    const Array config = lanConfig(simulator->port());
    sim::Faults silent;
    silent.silent = true;
    simulator->setFaults(silent);
    Array w = Array::numeric(host::ClassId::Double, 1, 64, true);
    mexio::Reply got;
    std::chrono::steady_clock::time_point stopped;
    std::thread work([&] { got = mexio::OrvexDownLoadWrap(w, Array::zeros(2, 64), "Hung", config); });
    std::this_thread::sleep_for(300ms);
    const std::string step = host::progressState().step;
    stopped = std::chrono::steady_clock::now();
    host::requestInterrupt();
    work.join();
    const auto took = std::chrono::steady_clock::now() - stopped;
    host::clearInterrupt();
    EXPECT_LT(took, 1s);
    EXPECT_EQ(step, "Asking the instrument what it plays");
    EXPECT_EQ(got.status, -1);
    EXPECT_EQ(got.response.text(), mexio::kDownloadCancelled);

    simulator->setFaults({});
    const mexio::Reply again = mexio::hwQuery(config, "*IDN?");
    EXPECT_EQ(again.status, 0) << again.response.text();
    EXPECT_NE(again.response.text().find("Brevia Simulation"), std::string::npos);
}
