#include "error_message.h"
#include "app/generate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "OneX/parameters.h"
#include "UI/parameter_file.h"
#include "host/error.h"
#include "host/mat_file.h"

using host::Array;
namespace fs = std::filesystem;

namespace {

class GenerateCommand : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("onexfwd_generate_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    int run(app::GenerateOptions o, std::string* errors = nullptr) {
        std::ostringstream out, err;
        o.quiet = true;
        const int status = app::runGenerate(o, out, err);
        if (errors) *errors = err.str();
        return status;
    }
    std::string path(const char* name) const { return (dir / name).string(); }
};

std::string settingError(Array& p, const char* assignment) {
    return errorMessageOf([&] { app::applySetting(p, assignment); });
}

}  // namespace

TEST(GenerateSettings, ChangeOneFieldAtATime) {
    Array p = onex::defaultParameters();
    app::applySetting(p, "OverSampling=8");
    EXPECT_EQ(p.field("OverSampling").realAt(0), 8);
    EXPECT_EQ(p.field("ProjectedLength").realAt(0), 262144);
    app::applySetting(p, "slot.DATAslotMod=3");
    const Array& mod = p.field("slot").field("DATAslotMod");
    EXPECT_EQ(mod.rows(), 16u);
    for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(mod.realAt(k), 3);
    app::applySetting(p, "slot.RAslotValue=1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0");
    EXPECT_EQ(p.field("slot").field("RAslotValue").realAt(1), 0);
    EXPECT_EQ(p.field("slot").field("RAslotValue").cols(), 1u);
    app::applySetting(p, "dataSourceBitstream=1 1 0");
    EXPECT_EQ(p.field("dataSourceBitstream"), Array::row(std::vector<double>{1, 1, 0}));
    app::applySetting(p, "LastPath=/tmp/data");
    EXPECT_EQ(p.field("LastPath").text(), "/tmp/data");
    app::applySetting(p, "IdleSlotGain=-20*1.5");
    EXPECT_EQ(p.field("IdleSlotGain").realAt(0), -30);

    EXPECT_EQ(settingError(p, "OverSampling"), "--set OverSampling: expected NAME=VALUE, for example OverSampling=8.");
    EXPECT_EQ(settingError(p, "Mode=abc"), "--set Mode: 'abc' is not a number.");
    EXPECT_NE(settingError(p, "Nope=1").find("--set Nope: no such parameter. Known: ParameterFileFormat_ID"), std::string::npos);
    EXPECT_EQ(settingError(p, "slot.RPCslotGain=1 2"),
              "--set slot.RPCslotGain: give one number or 944 numbers (16 x 59), not 2.");
    // A slot row has one value per slot: a shorter row is refused, not stored.
    EXPECT_EQ(settingError(p, "slot.DATAslotMod=1 2"), "--set slot.DATAslotMod: give one number or 16 numbers (16 x 1), not 2.");
    EXPECT_NE(settingError(p, "slot=1").find("no such parameter"), std::string::npos);
}

// The packet fields are rounded and limited as typed, the projected length follows the
// frames the waveform will have, and a saved file holds the stored values after LastPath.
TEST_F(GenerateCommand, PacketFieldsAreClampedAndSavedAsStored) {
    Array p = onex::defaultParameters();
    const struct {
        const char* assignment;
        const char* field;
        std::vector<double> stored;
    } sets[] = {{"DATApacketDRC=40", "DATApacketDRC", {12}},   {"DATApacketDRC=1.5", "DATApacketDRC", {2}},
                {"DATApacketMAC=4.4", "DATApacketMAC", {5}},   {"DATApacketMAC=1e9", "DATApacketMAC", {63}},
                {"FrameCount=2.5", "FrameCount", {3}},         {"DATApacketMode=0.7", "DATApacketMode", {1}},
                {"DATApacketInterlaces=1,0,1,1", "DATApacketInterlaces", {1, 0, 1, 1}},
                {"DATApacketInterlaces=0.4 0.5 -3 7", "DATApacketInterlaces", {0, 1, 0, 1}}};
    for (const auto& c : sets) {
        app::applySetting(p, c.assignment);
        EXPECT_EQ(p.field(c.field), c.stored.size() == 1 ? Array::scalar(c.stored[0]) : Array::row(c.stored)) << c.assignment;
    }
    EXPECT_EQ(p.field("ProjectedLength").realAt(0), 5 * 32768 * 4);  // DRC 2, 8-slot packets: 3 frames become 4
    EXPECT_EQ(settingError(p, "DATApacketInterlaces=1"),
              "--set DATApacketInterlaces: give the 4 interlace flags as a row, for example \"1 0 1 1\", not '1'.");
    EXPECT_NE(settingError(p, "DATApacketInterlaces=1 0 1 1 1").find("give the 4 interlace flags"), std::string::npos);
    EXPECT_EQ(settingError(p, "FrameCount=1 2"), "--set FrameCount: give one number, not '1 2'.");

    const std::string file = path("packets.mat");
    ui::writeParameterFile(file, p, Array());
    const Array saved = ui::readParameterFile(file, onex::kParameterFileFormatId).parameters;
    const std::vector<std::string> names = saved.fieldNames();
    const auto last = std::find(names.begin(), names.end(), "LastPath");
    ASSERT_NE(last, names.end());
    EXPECT_EQ(std::vector<std::string>(last + 1, names.end()),
              (std::vector<std::string>{"FrameCount", "DATApacketMode", "DATApacketDRC", "DATApacketMAC", "DATApacketInterlaces"}));
    for (const char* name : {"FrameCount", "DATApacketMode", "DATApacketDRC", "DATApacketMAC", "DATApacketInterlaces"}) {
        EXPECT_TRUE(saved.field(name).isDouble()) << name;
        EXPECT_EQ(saved.field(name), p.field(name)) << name;
    }
}

TEST_F(GenerateCommand, WritesAMatFileOthersCanRead) {
    app::GenerateOptions o;
    o.out = path("frame.mat");
    o.seed = 7;
    o.sets = {"OverSampling=2", "DATAchnActive=1", "MACchnActive=1"};
    ASSERT_EQ(run(o), 0);
    const Array file = host::loadMatFile(o.out);
    EXPECT_EQ(file.fieldNames(), (std::vector<std::string>{"waveform", "markers", "sampleRate"}));
    const Array& w = file.field("waveform");
    EXPECT_EQ(w.rows(), 1u);
    EXPECT_EQ(w.cols(), 65536u);
    EXPECT_TRUE(w.isComplex());
    EXPECT_EQ(file.field("markers").rows(), 2u);
    EXPECT_EQ(file.field("markers").cols(), 65536u);
    EXPECT_EQ(file.field("sampleRate").realAt(0), 2457600);
    // The same seed gives the same frame.
    o.out = path("again.mat");
    ASSERT_EQ(run(o), 0);
    EXPECT_EQ(host::loadMatFile(o.out).field("waveform"), w);
}

TEST_F(GenerateCommand, StartsFromAParameterFileAndWritesBinary) {
    Array p = onex::defaultParameters();
    onex::setOverSampling(p, 3);
    ui::writeParameterFile(path("setup.mat"), p, Array::structure());
    app::GenerateOptions o;
    o.params = path("setup.mat");
    o.out = path("frame.bin");
    ASSERT_EQ(run(o), 0);
    EXPECT_EQ(fs::file_size(o.out), 4u * 3 * 32768);
}

TEST_F(GenerateCommand, ClearFailuresWithExitStatus) {
    std::string err;
    app::GenerateOptions o;
    o.out = path("frame.wav");
    EXPECT_EQ(run(o, &err), 1);
    EXPECT_NE(err.find("must end in .mat"), std::string::npos);

    Array p = onex::defaultParameters();
    p.setField("ParameterFileFormat_ID", Array::string("OneX-Fwd - Format 1.1"));
    ui::writeParameterFile(path("old.mat"), p, Array::structure());
    o.out = path("frame.mat");
    o.params = path("old.mat");
    EXPECT_EQ(run(o, &err), 1);
    EXPECT_NE(err.find("has an Invalid File Parameter ID."), std::string::npos);

    host::saveMatFile(path("other.mat"), {{"x", Array::scalar(1)}});
    o.params = path("other.mat");
    EXPECT_EQ(run(o, &err), 1);
    EXPECT_NE(err.find("has an Invalid File Format."), std::string::npos);

    p = onex::defaultParameters();
    p.field("slot").setField("RPCslotGain", Array::zeros(16, 58));
    ui::writeParameterFile(path("bad.mat"), p, Array::structure());
    o.params = path("bad.mat");
    EXPECT_EQ(run(o, &err), 1);
    EXPECT_NE(err.find("parameters.slot.RPCslotGain must be 16 x 59, not 16 x 58."), std::string::npos);
    EXPECT_FALSE(fs::exists(path("frame.mat")));

    o.params.clear();
    o.sets = {"OverSampling=31"};
    EXPECT_EQ(run(o, &err), 1);
    EXPECT_NE(err.find("parameters.OverSampling must be a whole number from 2 to 30, not 31."), std::string::npos);

    o.sets.clear();
    o.out = (dir / "missing" / "frame.mat").string();
    EXPECT_EQ(run(o, &err), 1);
}
