#include "simulated_instrument.h"
#include "MexIO/instrument_wrappers.h"

#include <gtest/gtest.h>

#include "MexIO/lan_config.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "error_message.h"
#include "host/function_table.h"
#include "sim/simulated_generator.h"

using host::Array;
using namespace std::chrono_literals;

namespace {

class InstrumentWrappers : public ::testing::Test {
protected:
    std::unique_ptr<SimulatedInstrument> instrument;
    sim::SimulatedGenerator* simulator = nullptr;
    std::string log;

    void SetUp() override {
        log = (std::filesystem::temp_directory_path() / ("wrappers_" + std::to_string(::getpid()) + ".log")).string();
        std::filesystem::remove(log);
        setenv("SIMVISA_LOG", log.c_str(), 1);
        instrument = std::make_unique<SimulatedInstrument>();
        simulator = &instrument->generator;
        mexio::vesk(0, {Array::int32Scalar(999)});
    }
    void TearDown() override {
        mexio::vesk(0, {Array::int32Scalar(999)});
        instrument.reset();
        std::filesystem::remove(log);
    }
};

}  // namespace

TEST(ConnectionRecord, InitialFormAndItsStructureForm) {
    const Array initial = mexio::initialConfiguration();
    EXPECT_EQ(initial.fieldNames(), (std::vector<std::string>{"Connection", "GPIBboard", "Primary", "Secondary", "RS232Port",
                                                              "BaudRate", "HandShake", "LastParameterFilename"}));
    EXPECT_EQ(initial.field("Primary").realAt(0), 19);
    EXPECT_EQ(initial.field("Secondary").realAt(0), -1);

    const Array gpib = mexio::reStructureConfig(initial);
    EXPECT_EQ(gpib.fieldNames(), (std::vector<std::string>{"LastParameterFilename", "type", "GPIB", "RS232", "TCPIP"}));
    EXPECT_EQ(gpib.field("type").text(), "GPIB");
    EXPECT_EQ(gpib.field("GPIB").field("primary").realAt(0), 19);
    EXPECT_EQ(gpib.field("RS232").field("baudrate").realAt(0), 9600);
    EXPECT_EQ(gpib.field("RS232").field("handshake").text(), "Xon/Xoff");
    EXPECT_EQ(gpib.field("TCPIP").field("address").text(), "0.0.0.0");
    EXPECT_EQ(mexio::reStructureConfig(gpib), gpib);  // already in structure form

    Array serial = initial;
    serial.setField("Connection", Array::scalar(1));
    const Array rs232 = mexio::reStructureConfig(serial, std::string("RTS/CTS"));
    EXPECT_EQ(rs232.field("type").text(), "RS232");
    EXPECT_EQ(rs232.field("RS232").field("handshake").text(), "RTS/CTS");
}

TEST(ConnectionRecord, FormatconfigMakesTheNumbersInt32) {
    Array c = mexio::reStructureConfig(mexio::initialConfiguration());
    c.field("GPIB").setField("board", Array::scalar(2.5));
    c.removeField("TCPIP");
    const Array f = mexio::formatconfig(c);
    EXPECT_EQ(f.field("GPIB").field("board").classId(), host::ClassId::Int32);
    EXPECT_EQ(f.field("GPIB").field("board").realAt(0), 3);  // rounded half away from zero
    EXPECT_EQ(f.field("GPIB").field("secondary").realAt(0), -1);
    EXPECT_EQ(f.field("RS232").field("baudrate").classId(), host::ClassId::Int32);
    EXPECT_TRUE(f.field("RS232").field("handshake").isChar());
    EXPECT_FALSE(f.hasField("TCPIP"));
    auto viaTable = host::callFunction("formatconfig", 1, {c});
    EXPECT_EQ(viaTable[0], f);
}

TEST_F(InstrumentWrappers, CommandsReachTheInstrument) {
    const Array config = lanConfig(simulator->port());
    mexio::Reply ping = mexio::hwPing(config);
    EXPECT_EQ(ping.status, 0);
    EXPECT_EQ(ping.response.text(), "Succeed");
    mexio::Reply idn = mexio::hwQuery(config, "*IDN?");
    EXPECT_EQ(idn.status, 0);
    EXPECT_NE(idn.response.text().find("US12345678"), std::string::npos);
    EXPECT_EQ(mexio::hwSend(config, ":SOUR:FREQ 2200000000").status, 0);

    // Inputs 4 and 5 of the host form are ignored: normalisation on, gain 1.
    Array w = Array::numeric(host::ClassId::Double, 1, 200, true);
    for (std::size_t i = 0; i < 200; ++i) w.setComplex(i, {0.25, -0.25});
    auto out = host::callFunction("hwDownload", 2,
                                  {config, w, Array::zeros(2, 200), Array::string("no_norm"), Array::scalar(0.1), Array::string("WRAPPED")});
    EXPECT_EQ(out[0].realAt(0), 0) << out[1].text();
    mexio::hwQuery(config, "*OPC?");
    const auto files = simulator->files();
    ASSERT_TRUE(files.count("WFM1:WRAPPED"));
    const auto& bytes = files.at("WFM1:WRAPPED");
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ((bytes[0] << 8) | bytes[1], 0x7FFF);  // normalised to full scale despite the gain 0.1 given

    auto verify = host::callFunction("VerifyComm", 2, {config});
    EXPECT_EQ(verify[0].realAt(0), 0);
    EXPECT_EQ(verify[1].text(), "Succeed");
}

TEST_F(InstrumentWrappers, GpibWithoutSecondaryAddressAndFailures) {
    // The default record in structure form: GPIB board 0, primary 19, secondary -1.
    const Array config = mexio::reStructureConfig(mexio::initialConfiguration());
    EXPECT_EQ(mexio::hwPing(config).status, 0);
    std::ifstream in(log);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("open GPIB0::19::INSTR"), std::string::npos) << all;

    Array tcpip = config;
    tcpip.setField("type", Array::string("TCPIP"));
    tcpip.removeField("TCPIP");
    const mexio::Reply r = mexio::hwPing(tcpip);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.response.text(), "Invalid config structure. Can not find \"TCPIP\" field");

    // Too few arguments reach the extension, which names its usage; too many are the table's.
    EXPECT_EQ(errorMessageOf([&] { host::callFunction("hwSend", 2, {config}); }), "Usage: vesk( send, config, command )");
    EXPECT_EQ(errorMessageOf([&] { host::callFunction("hwSend", 2, {config, Array::string("x"), Array()}); }),
              "Run-time Error: File: hwSend Line: 1 Column: 1 The function \"hwSend\" was called with more than the "
              "declared number of inputs (2).");
}
