// The files the application writes and reads through its menus, without windows: parameter
// files (and SciPy's view of them), waveform exports, special save and the user data file,
// each failure with its box and nothing changed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "python_tools.h"
#include "../host/scratch_dir.h"
#include "OneX/parameters.h"
#include "UI/app_records.h"
#include "UI/file_actions.h"
#include "host/dialogs.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/mat_file.h"
#include "host/records.h"

using host::Array;

namespace {

// Answers the boxes as queued and keeps what they showed; put back when the test ends.
struct Boxes {
    std::shared_ptr<host::ScriptedDialogs> dialogs;
    explicit Boxes(std::deque<std::string> answers = {}) : dialogs(std::make_shared<host::ScriptedDialogs>(std::move(answers))) {
        host::setDialogProvider(dialogs);
    }
    ~Boxes() { host::setDialogProvider(nullptr); }
    const std::vector<host::ScriptedDialogs::Asked>& shown() const { return dialogs->asked(); }
};

Array waveformOf(std::initializer_list<std::complex<double>> samples) {
    return Array::row(std::span<const std::complex<double>>(samples.begin(), samples.size()));
}

}  // namespace

TEST(FileNames, ExtensionIsCaseSensitiveAndOnlyAPrefixedNameExports) {
    EXPECT_EQ(ui::addFileExtention("/d/set.mat", ".mat"), "/d/set.mat");
    EXPECT_EQ(ui::addFileExtention("/d/set.MAT", ".mat"), "/d/set.MAT.mat");
    EXPECT_EQ(ui::addFileExtention("at", ".mat"), "at.mat");
    EXPECT_EQ(ui::addFileExtention("", ".mat"), ".mat");
    EXPECT_EQ(ui::exportTarget({"/d/", "qorvath.wave1"}), "/d/wave1");
    EXPECT_EQ(ui::exportTarget({"/d/", "qorvath.x"}), "/d/x");
    EXPECT_EQ(ui::exportTarget({"/d/", "qorvath."}), std::nullopt);  // the prefix alone names a parameter file
    EXPECT_EQ(ui::exportTarget({"/d/", "Qorvath.wave"}), std::nullopt);
    EXPECT_EQ(ui::exportTarget({"/d/", "my.qorvath.wave"}), std::nullopt);
}

TEST(ParameterFiles, SaveLoadAndTheFourRefusals) {
    ScratchDir dir;
    Boxes boxes;
    const Array parameters = onex::defaultParameters();
    Array sigGen = Array::structure();
    sigGen.setField("Title", Array::string("MINE"));
    const std::string good = dir.file("good.mat");
    ASSERT_TRUE(ui::saveParameters(good, parameters, sigGen));
    const std::optional<ui::ParameterFile> loaded = ui::loadParameters(good, onex::kParameterFileFormatId);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->parameters, parameters);
    EXPECT_EQ(loaded->sigGen.field("Title").text(), "MINE");
    EXPECT_EQ(host::loadMatFile(good).field("filename").text(), good);
    EXPECT_TRUE(boxes.shown().empty());

    Array otherFormat = parameters;
    otherFormat.setField("ParameterFileFormat_ID", Array::string("OneX-Fwd - Format 1.1"));
    Array noId = Array::structure();
    noId.setField("Mode", Array::scalar(1));
    host::saveMatFile(dir.file("other.mat"), {{"fileParameters", otherFormat}});
    host::saveMatFile(dir.file("noid.mat"), {{"fileParameters", noId}});
    host::saveMatFile(dir.file("novar.mat"), {{"parameters", parameters}});
    writeBytes(dir.file("text.mat"), "not a MAT file at all, just text\n");
    writeBytes(dir.file("cut.mat"), readBytes(good).substr(0, 300));
    const struct {
        const char* file;
        const char* says;
    } refused[] = {
        {"other.mat", "has an Invalid File Parameter ID."}, {"noid.mat", "has an Invalid File Structure."},
        {"novar.mat", "has an Invalid File Format."},       {"text.mat", "text.mat"},
        {"cut.mat", "cut.mat"},                             {"missing.mat", "missing.mat"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(ui::loadParameters(dir.file(r.file), onex::kParameterFileFormatId)) << r.file;
        ASSERT_FALSE(boxes.shown().empty());
        EXPECT_EQ(boxes.shown().back().title, "Error Loading File") << r.file;
        EXPECT_NE(boxes.shown().back().text.find(r.says), std::string::npos) << r.file << ": " << boxes.shown().back().text;
    }
    EXPECT_EQ(boxes.shown().front().text, dir.file("other.mat") + "\nhas an Invalid File Parameter ID.");

    // A save that cannot be made says why and leaves the previous file whole.
    const std::string before = readBytes(good);
    std::filesystem::create_directory(dir.file("good.mat.dir"));
    EXPECT_FALSE(ui::saveParameters(dir.file("good.mat.dir"), parameters, sigGen));
    EXPECT_EQ(boxes.shown().back().title, "Error Saving " + dir.file("good.mat.dir"));
    EXPECT_FALSE(ui::saveParameters(dir.file("no/such/folder/x.mat"), parameters, sigGen));
    EXPECT_EQ(boxes.shown().back().title, "Error Saving " + dir.file("no/such/folder/x.mat"));
    EXPECT_FALSE(boxes.shown().back().text.empty());
    EXPECT_EQ(readBytes(good), before);
}

// SciPy reads what we write and writes what we read: the file a user edits in Python opens
// with the change and nothing else different.
TEST(ParameterFiles, SciPyReadsAndWritesThem) {
    SKIP_WITHOUT_SCIPY();
    ScratchDir dir;
    Boxes boxes;
    const Array parameters = onex::defaultParameters();
    Array sigGen = Array::structure();
    sigGen.setField("Title", Array::string("MINE"));
    sigGen.setField("SamplingRate", Array::scalar(6144000));
    ASSERT_TRUE(ui::saveParameters(dir.file("ours.mat"), parameters, sigGen));
    const std::string command =
        std::string(PYTHON3) + " " + TOOLS_DIR + "/parameter_file_roundtrip.py " + dir.file("ours.mat") + " " + dir.file("theirs.mat") + " 8";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::optional<ui::ParameterFile> theirs = ui::loadParameters(dir.file("theirs.mat"), onex::kParameterFileFormatId);
    ASSERT_TRUE(theirs) << (boxes.shown().empty() ? "" : boxes.shown().back().text);
    EXPECT_EQ(theirs->parameters.field("OverSampling").realAt(0), 8);
    EXPECT_EQ(theirs->sigGen.field("Title").text(), "SCIPY");
    EXPECT_EQ(theirs->sigGen.field("SamplingRate").realAt(0), 1228800.0 * 8);
    Array expected = parameters;
    onex::setOverSampling(expected, 8);
    EXPECT_TRUE(ui::compareStruct(theirs->parameters, expected));
}

// GNU Octave read our file and wrote its own, compressed, with a change of oversampling and
// title (tests/tools/make_parameter_file_octave.sh).
TEST(ParameterFiles, OctavesFileOpensWithItsChanges) {
    Boxes boxes;
    const std::optional<ui::ParameterFile> theirs =
        ui::loadParameters(std::string(BREVIA_TEST_DATA_DIR) + "/parameter_file_octave.mat", onex::kParameterFileFormatId);
    ASSERT_TRUE(theirs) << (boxes.shown().empty() ? "" : boxes.shown().back().text);
    Array expected = onex::defaultParameters();
    onex::setOverSampling(expected, 8);
    EXPECT_TRUE(ui::compareStruct(theirs->parameters, expected));
    EXPECT_EQ(theirs->sigGen.field("Title").text(), "OCTAVE");
    EXPECT_EQ(theirs->sigGen.field("SamplingRate").realAt(0), 1228800.0 * 8);
}

TEST(WaveformExports, EachFormatAsChosenAndNothingWhenTheBoxIsClosed) {
    ScratchDir dir;
    Boxes boxes({"ASCII", "MAT", "Brindle", "", "MAT"});
    const Array wave = waveformOf({{0.5, -0.25}, {-1, 0.125}, {0, 0}});
    ASSERT_TRUE(ui::saveWaveform(dir.file("a.mat"), wave));
    ASSERT_TRUE(ui::saveWaveform(dir.file("m.mat"), wave));
    ASSERT_TRUE(ui::saveWaveform(dir.file("b.bin"), wave));
    EXPECT_FALSE(ui::saveWaveform(dir.file("closed.mat"), wave));
    EXPECT_EQ(boxes.shown().size(), 4u);  // the four questions, no error box
    EXPECT_EQ(boxes.shown().front().title, "Special Save");
    EXPECT_EQ(boxes.shown().front().text, "Select file format.");

    const Array ascii = host::loadMatFile(dir.file("a.mat")).field("samples");
    EXPECT_EQ(ascii, Array::matrix(3, 2, std::vector<double>{0.5, -1, 0, -0.25, 0.125, 0}));
    const Array mat = host::loadMatFile(dir.file("m.mat")).field("samples");
    EXPECT_EQ(mat.rows(), 3u);
    EXPECT_EQ(mat.cols(), 1u);
    EXPECT_TRUE(mat.isComplex());
    EXPECT_EQ(mat.pi()[1], 0.125);
    // Largest part 1 -> 32766: I of sample 1 is 16383 (0x3FFF), Q -8191.5 rounds away to -8192.
    EXPECT_EQ(readBytes(dir.file("b.bin")).substr(0, 4), std::string("\x3F\xFF\xE0\x00", 4));
    EXPECT_FALSE(std::filesystem::exists(dir.file("closed.mat")));

    EXPECT_FALSE(ui::saveWaveform(dir.file("no/folder.mat"), wave));
    EXPECT_EQ(boxes.shown().back().title, "Error Saving " + dir.file("no/folder.mat"));

    ui::writeSpecialSave(dir.file("special.txt"), wave, 6144000);
    const Array special = host::loadMatFile(dir.file("special.txt"));
    EXPECT_EQ(special.fieldNames(), (std::vector<std::string>{"samplePoints", "sampleRate", "wave"}));
    EXPECT_EQ(special.field("samplePoints").realAt(0), 3);
    EXPECT_EQ(special.field("sampleRate").realAt(0), 6144000);
    EXPECT_EQ(special.field("wave"), ascii);
    EXPECT_THROW(ui::writeSpecialSave(dir.file("x.txt"), Array::string("none"), 1), host::Error);
}

TEST(UserData, BitsInEitherOrderUpToTheLimit) {
    const std::vector<std::uint8_t> one{0x01}, two{0x80, 0xF0};
    std::vector<std::uint8_t> many(20000);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::uint8_t>(i * 37 + 11);
    const struct {
        std::span<const std::uint8_t> bytes;
        double limit;
        const char* order;
        std::vector<double> first;
        std::size_t count;
    } cases[] = {
        {one, 102400, "right-msb", {1, 0, 0, 0, 0, 0, 0, 0}, 8},
        {one, 102400, "left-msb", {0, 0, 0, 0, 0, 0, 0, 1}, 8},
        {one, 102400, "Right", {0, 0, 0, 0, 0, 0, 0, 1}, 8},  // the order's name is case-sensitive
        {two, 12, "left", {1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}, 12},
        {two, 12, "right", {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, 12},
        {std::span(many).first(100), 102400, "right-msb", {1, 1, 0, 1, 0, 0, 0, 0}, 800},  // 0x0B
        {many, 102400, "right-msb", {1, 1, 0, 1, 0, 0, 0, 0}, 102400},
        {{}, 102400, "right-msb", {}, 0},
        {one, 0, "right-msb", {}, 0},
    };
    for (const auto& c : cases) {
        const std::vector<double> bits = ui::userDataBits(c.bytes, c.limit, c.order);
        ASSERT_EQ(bits.size(), c.count) << c.order << " " << c.limit;
        EXPECT_EQ(std::vector<double>(bits.begin(), bits.begin() + static_cast<long>(c.first.size())), c.first) << c.order;
    }
    // The last of the 102400 bits is the top bit of byte 12800, least significant first.
    EXPECT_EQ(ui::userDataBits(many, 102400, "right-msb").back(), (many[12799] >> 7) & 1);
}

TEST(UserData, TheFileChosenOrItsBoxAndTheFolderRemembered) {
    ScratchDir dir;
    Boxes boxes;
    host::record("parameters") = onex::defaultParameters();
    writeBytes(dir.file("data.bin"), std::string("\x01\xFF", 2));
    writeBytes(dir.file("empty.bin"), "");
    const std::string folder = dir.path().string() + "/";
    boxes.dialogs->queueFile(std::nullopt);
    boxes.dialogs->queueFile(host::FileChoice{folder, "missing.bin"});
    boxes.dialogs->queueFile(host::FileChoice{folder, ""});  // the folder itself
    boxes.dialogs->queueFile(host::FileChoice{folder, "data.bin"});
    boxes.dialogs->queueFile(host::FileChoice{folder, "empty.bin"});

    EXPECT_EQ(ui::loadUserDataFile(102400).status, -1);  // cancelled
    EXPECT_EQ(boxes.shown().back().kind, "open");
    EXPECT_EQ(boxes.shown().back().title, "Select data source file.");
    const ui::UserData missing = ui::loadUserDataFile(102400);
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(boxes.shown().back().title, "File Error");
    EXPECT_EQ(boxes.shown().back().text, "Could not open\n" + folder + "missing.bin");
    EXPECT_EQ(ui::loadUserDataFile(102400).status, -1);
    EXPECT_EQ(boxes.shown().back().title, "File Error");
    EXPECT_TRUE(onex::applicationParameters().field("LastPath").isEmpty());

    const auto cwd = std::filesystem::current_path();
    const std::vector<Array> got = host::callFunction("loadUserDataFile", 2, {Array::scalar(12)});
    EXPECT_EQ(got[0].realAt(0), 1);
    EXPECT_EQ(got[1], Array::row(std::vector<double>{1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(onex::applicationParameters().field("LastPath").text(), folder);
    const ui::UserData empty = ui::loadUserDataFile(102400);
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(empty.bits.isEmpty());
    EXPECT_EQ(std::filesystem::current_path(), cwd);  // the dialog opened in the last folder, and the working one came back
    EXPECT_THROW(host::callFunction("loadUserDataFile", 2, {Array::scalar(8), Array::scalar(1)}), host::Error);
}
