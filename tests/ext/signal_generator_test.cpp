// Waveform conversion, file layout and command order of both generator models, checked
// against an in-memory session. Expected words are computed here from the file formats,
// not taken from the classes under test.
#include "instrument_words.h"
#include "ext/signal_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>

#include "ext/io_manager.h"
#include "fake_session.h"

namespace {

using ext_test::FakeSession;
using vesk::IOManager;

class SignalGeneratorTest : public ::testing::Test {
protected:
    void SetUp() override { IOManager::releaseAll(); }
    void TearDown() override { IOManager::releaseAll(); }
};

std::string status() { return IOManager::instance().statusText(); }

// The independent reference packing, as text for comparing with what a session was sent.
std::string corvaneWords(const std::vector<double>& i, const std::vector<double>& q, double gain, bool normalize) {
    const std::vector<std::uint8_t> bytes = reference::corvaneIq(i, q, gain, normalize);
    return std::string(bytes.begin(), bytes.end());
}

std::string pellarWords(const std::vector<double>& part, double gain, double peak, const std::vector<int>& high) {
    const std::vector<std::uint8_t> bytes = reference::pellarPart(part, gain, peak, high);
    return std::string(bytes.begin(), bytes.end());
}

std::uint16_t wordAt(const std::string& bytes, std::size_t index) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[2 * index]) << 8) |
                                      static_cast<unsigned char>(bytes[2 * index + 1]));
}

TEST_F(SignalGeneratorTest, CorvaneUnitSamplesGiveFullScaleWordsAndTheStatedHeaders) {
    FakeSession session;
    session.replies["rad:arb?"] = "0";
    session.replies[":mmem:cat? \"WFM1:\""] = "0,1000";
    vesk::Corvane gen(session);
    const std::vector<double> i(16, 1.0), q(16, 0.0), markers(16, 1.0);
    ASSERT_TRUE(gen.download(16, i.data(), q.data(), 1, 16, markers.data(), "name"));

    ASSERT_EQ(session.writes.size(), 9u);
    EXPECT_EQ(session.writes[0].bytes, ":mmem:cat? \"WFM1:\"\n");
    EXPECT_EQ(session.writes[1].bytes, "rad:arb?\n");
    EXPECT_EQ(session.writes[2].bytes, ":MMEMory:DATA \"WFM1:name\", #264");
    EXPECT_EQ(session.writes[3].bytes, "<before>");
    const std::string& data = session.writes[4].bytes;
    ASSERT_EQ(data.size(), 64u);
    for (std::size_t j = 0; j < 16; ++j) {
        EXPECT_EQ(wordAt(data, 2 * j), 0x7FFF);
        EXPECT_EQ(wordAt(data, 2 * j + 1), 0x0000);
    }
    EXPECT_EQ(session.writes[5].bytes, "\n");
    EXPECT_EQ(session.writes[6].bytes, ":MMEMory:DATA \"MKR1:name\", #216");
    EXPECT_EQ(session.writes[7].bytes, std::string(16, '\x01'));
    EXPECT_EQ(session.writes[8].bytes, "\n");
}

TEST_F(SignalGeneratorTest, PellarUnitSamplesGiveOffsetBinaryWordsAndMarkerBits) {
    for (const std::size_t rows : {0u, 1u}) {
        FakeSession session;
        session.replies[":mmem:cat? \"ARBI:\""] = "0,1000000,";
        session.replies["rad:arb?"] = "0";
        vesk::Pellar gen(session);
        const std::vector<double> i(16, 1.0), q(16, 0.0), markers(16 * rows, 1.0);
        ASSERT_TRUE(gen.download(16, i.data(), q.data(), rows, 16, markers.data(), "wave"));
        const std::vector<std::string> expected = {":mmem:cat? \"ARBI:\"\n", "rad:arb?\n",
                                                   ":MMEMory:DATA \"ARBI:wave\", #232", "I",
                                                   "\n\n", "\n", "<before>", ":MMEMory:DATA \"ARBQ:wave\", #232",
                                                   "Q", "\n\n", "\n"};
        ASSERT_EQ(session.writes.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k)
            if (expected[k].size() > 1) {
                EXPECT_EQ(session.writes[k].bytes, expected[k]) << k;
            }
        for (std::size_t j = 0; j < 16; ++j) {
            EXPECT_EQ(wordAt(session.writes[3].bytes, j), rows ? 0x7FFE : 0x3FFE);
            EXPECT_EQ(wordAt(session.writes[8].bytes, j), 0x1FFF);
        }
    }
}

TEST_F(SignalGeneratorTest, HalvesRoundAwayFromZero) {
    EXPECT_EQ(vesk::roundHalfAway(-0.5 * 32767), -16384);
    EXPECT_EQ(vesk::roundHalfAway(0.5 * 32767), 16384);
    EXPECT_EQ(vesk::roundHalfAway(-2.5), -3);
    EXPECT_EQ(vesk::roundHalfAway(2.4999), 2);

    FakeSession session;
    session.replies["rad:arb?"] = "0";
    session.replies[":mmem:cat? \"WFM1:\""] = "0,1000";
    vesk::Corvane gen(session);
    gen.setNormalize(false);
    std::vector<double> i(16), q(16);
    for (std::size_t j = 0; j < 16; ++j) i[j] = q[15 - j] = j % 2 ? 0.5 : -0.5;
    ASSERT_TRUE(gen.download(16, i.data(), q.data(), 0, 16, nullptr, "h"));
    const std::string& data = session.writes[4].bytes;
    EXPECT_EQ(static_cast<std::int16_t>(wordAt(data, 0)), -16384);
    EXPECT_EQ(static_cast<std::int16_t>(wordAt(data, 2)), 16384);
    EXPECT_EQ(data, corvaneWords(i, q, 1.0, false));
}

TEST_F(SignalGeneratorTest, SampleCountAndMarkerLengthAreCheckedBeforeAnythingIsSent) {
    const struct {
        std::size_t count, columns;
        const char* message;
    } cases[] = {{14, 14, "Number of IQ samples are less than 16."},
                 {17, 17, "Number of IQ samples are not in multiples of 2."},
                 {15, 15, "Number of IQ samples are not in multiples of 2."},
                 {16, 15, "Marker should have the same length as IQ data."}};
    for (const auto& c : cases) {
        for (int model = 0; model < 2; ++model) {
            FakeSession session;
            std::unique_ptr<vesk::SignalGenerator> gen;
            if (model == 0)
                gen = std::make_unique<vesk::Corvane>(session);
            else
                gen = std::make_unique<vesk::Pellar>(session);
            const std::vector<double> i(c.count, 0.1), q(c.count, 0.1), markers(c.columns, 0.0);
            EXPECT_FALSE(gen->download(c.count, i.data(), q.data(), 1, c.columns, markers.data(), "x"));
            EXPECT_EQ(status(), c.message);
            EXPECT_TRUE(session.writes.empty());
        }
    }
}

TEST_F(SignalGeneratorTest, GainIsClampedToTheUnitRange) {
    FakeSession session;
    vesk::Corvane gen(session);
    gen.setGain(2.5);
    EXPECT_EQ(gen.gain(), 1.0);
    gen.setGain(-1);
    EXPECT_EQ(gen.gain(), 0.0);
    gen.setGain(std::nan(""));
    EXPECT_EQ(gen.gain(), 0.0);
    gen.setGain(0.25);
    EXPECT_EQ(gen.gain(), 0.25);

    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1, 1);
    std::vector<double> i(32), q(32);
    for (std::size_t j = 0; j < 32; ++j) i[j] = value(random), q[j] = value(random);
    std::vector<std::uint8_t> iq, marker;
    gen.setGain(2.5);
    gen.buildFiles(32, i.data(), q.data(), 0, nullptr, iq, marker);
    EXPECT_EQ(std::string(iq.begin(), iq.end()), corvaneWords(i, q, 1.0, true));
    gen.setGain(-1);
    gen.buildFiles(32, i.data(), q.data(), 0, nullptr, iq, marker);
    EXPECT_EQ(std::string(iq.begin(), iq.end()), std::string(128, '\0'));

    vesk::Pellar pellar(session);
    pellar.setGain(-1);
    std::vector<std::uint8_t> iFile, qFile;
    pellar.buildFiles(32, i.data(), q.data(), 0, nullptr, iFile, qFile);
    for (std::size_t j = 0; j < 32; ++j) {
        EXPECT_EQ(wordAt(std::string(iFile.begin(), iFile.end()), j), 8191);
        EXPECT_EQ(wordAt(std::string(qFile.begin(), qFile.end()), j), 8191);
    }
}

TEST_F(SignalGeneratorTest, RandomWaveformsMatchTheReferenceOnBothModels) {
    std::mt19937 random(11);
    std::normal_distribution<double> value(0, 3);
    std::bernoulli_distribution on(0.3);
    const std::size_t n = 4096;
    std::vector<double> i(n), q(n), markers(9 * n);
    for (std::size_t j = 0; j < n; ++j) i[j] = value(random), q[j] = value(random);
    for (double& m : markers) m = on(random) ? 1.0 : (on(random) ? -1.0 : 0.0);
    for (const double gain : {1.0, 0.7}) {
        FakeSession dummy;
        vesk::Corvane gen(dummy);
        gen.setGain(gain);
        std::vector<std::uint8_t> iq, markerBytes;
        gen.buildFiles(n, i.data(), q.data(), 9, markers.data(), iq, markerBytes);
        EXPECT_EQ(std::string(iq.begin(), iq.end()), corvaneWords(i, q, gain, true));
        // Nine rows: rows 0..7 become bits 0..7, row 8 has nowhere to go.
        for (std::size_t j = 0; j < n; ++j) {
            unsigned expected = 0;
            for (unsigned r = 0; r < 8; ++r) expected |= (markers[j * 9 + r] > 0 ? 1u : 0u) << r;
            ASSERT_EQ(markerBytes[j], expected) << j;
        }

        vesk::Pellar pellar(dummy);
        pellar.setGain(gain);
        std::vector<std::uint8_t> iFile, qFile;
        pellar.buildFiles(n, i.data(), q.data(), 9, markers.data(), iFile, qFile);
        double peak = 0;
        for (std::size_t j = 0; j < n; ++j) peak = std::max({peak, std::fabs(i[j]), std::fabs(q[j])});
        std::vector<int> high(n);
        for (std::size_t j = 0; j < n; ++j) high[j] = (markers[j * 9] > 0 ? 1 : 0) | (markers[j * 9 + 1] > 0 ? 2 : 0);
        EXPECT_EQ(std::string(iFile.begin(), iFile.end()), pellarWords(i, gain, peak, high));
        EXPECT_EQ(std::string(qFile.begin(), qFile.end()), pellarWords(q, gain, peak, {}));
    }
}

TEST_F(SignalGeneratorTest, ValuesBeyondTheRangeAreClippedAndZerosStayZero) {
    FakeSession session;
    const std::vector<double> i = {2.0, -2.0, 1e300, -1e300, std::nan(""), 0.0, 1.0, -1.0};
    const std::vector<double> q = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    vesk::Corvane corvane(session);
    corvane.setNormalize(false);
    std::vector<std::uint8_t> iq, markerBytes;
    corvane.buildFiles(8, i.data(), q.data(), 0, nullptr, iq, markerBytes);
    const std::string bytes(iq.begin(), iq.end());
    const std::int16_t expected[] = {32767, -32768, 32767, -32768, 0, 0, 32767, -32767};
    for (std::size_t j = 0; j < 8; ++j) EXPECT_EQ(static_cast<std::int16_t>(wordAt(bytes, 2 * j)), expected[j]) << j;

    vesk::Pellar pellar(session);
    pellar.setNormalize(false);
    std::vector<std::uint8_t> iFile, qFile;
    pellar.buildFiles(8, i.data(), q.data(), 0, nullptr, iFile, qFile);
    const std::uint16_t expected14[] = {16382, 0, 16382, 0, 8191, 8191, 16382, 0};
    for (std::size_t j = 0; j < 8; ++j) EXPECT_EQ(wordAt(std::string(iFile.begin(), iFile.end()), j), expected14[j]);

    // An all-zero waveform with normalisation on has no peak to divide by.
    const std::vector<double> zeros(16, 0.0);
    vesk::Corvane normalizing(session);
    normalizing.buildFiles(16, zeros.data(), zeros.data(), 0, nullptr, iq, markerBytes);
    EXPECT_EQ(std::string(iq.begin(), iq.end()), std::string(64, '\0'));
    EXPECT_EQ(std::string(markerBytes.begin(), markerBytes.end()), std::string(16, '\0'));
}

TEST_F(SignalGeneratorTest, NormalizeIQDividesByTheLargestPartNotTheMagnitude) {
    FakeSession session;
    vesk::Corvane gen(session);
    const std::vector<double> i = {3.0, -1.0}, q = {-4.0, 2.0};
    std::vector<double> iOut, qOut;
    gen.normalizeIQ(2, i.data(), q.data(), iOut, qOut);
    EXPECT_EQ(iOut, (std::vector<double>{0.75, -0.25}));
    EXPECT_EQ(qOut, (std::vector<double>{-1.0, 0.5}));
    gen.setNormalize(false);
    gen.normalizeIQ(2, i.data(), q.data(), iOut, qOut);
    EXPECT_EQ(iOut, i);
    EXPECT_EQ(qOut, q);
}

TEST_F(SignalGeneratorTest, PlayingWaveformIsStoppedAndRestartedAroundTheDownload) {
    const std::vector<double> i(16, 0.5), q(16, -0.5), markers(16, 0.0);
    {
        FakeSession session;
        session.replies["rad:arb?"] = "1";
        session.replies["rad:arb:wav?"] = "\"wfm1:Tone\"";  // the instrument's case differs
        session.replies[":mmem:cat? \"WFM1:\""] = "0,1000";
        vesk::Corvane gen(session);
        ASSERT_TRUE(gen.download(16, i.data(), q.data(), 1, 16, markers.data(), "Tone"));
        const auto lines = session.commandLines();
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(lines[3], "rad:arb 0\n");
        EXPECT_EQ(lines.back(), "rad:arb 1\n");
    }
    {
        // Another waveform plays: it is left alone.
        FakeSession session;
        session.replies["rad:arb?"] = "1";
        session.replies["rad:arb:wav?"] = "\"WFM1:Other\"";
        session.replies[":mmem:cat? \"WFM1:\""] = "0,1000";
        vesk::Corvane gen(session);
        ASSERT_TRUE(gen.download(16, i.data(), q.data(), 1, 16, markers.data(), "Tone"));
        for (const std::string& line : session.commandLines()) EXPECT_EQ(line.find("rad:arb "), std::string::npos);
    }
    {
        // A failure after switching off leaves the output off.
        FakeSession session;
        session.replies[":mmem:cat? \"ARBI:\""] = "0,100000,";
        session.replies["rad:arb?"] = "1";
        session.replies["rad:arb:wav?"] = "\"ARBI:Tone\"";
        session.failWritesAfter = 6;
        vesk::Pellar gen(session);
        EXPECT_FALSE(gen.download(16, i.data(), q.data(), 1, 16, markers.data(), "Tone"));
        EXPECT_EQ(status(), "fake: write failed");
        const auto lines = session.commandLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "rad:arb 0\n"), lines.end());
        EXPECT_EQ(std::find(lines.begin(), lines.end(), "rad:arb 1\n"), lines.end());
    }
    // A playing state that cannot be read ends the download before any block goes out, on
    // either query.
    for (const bool stateAnswered : {false, true}) {
        FakeSession session;
        if (stateAnswered) session.replies["rad:arb?"] = "1";
        vesk::Corvane gen(session);
        EXPECT_FALSE(gen.download(16, i.data(), q.data(), 1, 16, markers.data(), "Tone"));
        EXPECT_EQ(status(), "fake: no reply");
        for (const std::string& line : session.commandLines()) EXPECT_EQ(line.find(":MMEMory"), std::string::npos) << line;
    }
}

TEST_F(SignalGeneratorTest, PellarMemoryCheckCountsFreeSpaceAndTheReplacedFile) {
    const struct {
        const char* catalogue;
        std::size_t needed;
        bool passes;
    } cases[] = {
        {"1000,100,\"OTHER,ARB,5000\"", 200, false},
        {"1000,100,\"WAVE,ARB,100\",\"OTHER,ARB,5000\"", 200, true},  // free + existing = needed
        {"1000,100,\"WAVE,ARB,99\"", 200, false},
        {"1000,100,\"wave,ARB,500\"", 200, false},  // the pattern is upper case
        {"nothing useful", 1u << 30, true},
        {"1000,5", 1u << 30, false},  // an empty instrument: used and free alone
        {"0,200", 200, true},
        {"0,199\n", 200, false},
        {"1000,abc,\"WAVE,ARB,5\"", 6, false},
    };
    for (const auto& c : cases) {
        IOManager::instance().setStatusText("before");
        FakeSession session;
        session.replies[":mmem:cat? \"ARBI:\""] = c.catalogue;
        vesk::Pellar gen(session);
        EXPECT_EQ(gen.checkMemory("wave", c.needed), c.passes) << c.catalogue;
        EXPECT_EQ(status(), c.passes ? "before" : "Not enough memory in the instrument.") << c.catalogue;
    }
    FakeSession session;
    session.replies[":mmem:cat? \"ARBI:\""] = "0,10,";
    session.replies["rad:arb?"] = "0";
    vesk::Pellar gen(session);
    const std::vector<double> i(16, 1.0), q(16, 0.0);
    EXPECT_FALSE(gen.download(16, i.data(), q.data(), 0, 16, nullptr, "wave"));
    EXPECT_EQ(status(), "Not enough memory in the instrument.");
    EXPECT_EQ(session.writes.size(), 1u);
}

// A download counts all of the waveform's files against the free memory and what the files
// of the same name now take (the listed file scaled to all of them).
TEST_F(SignalGeneratorTest, DownloadMemoryCheckCountsAllTheWaveformsFiles) {
    const struct {
        const char* directory;
        const char* catalogue;
        std::size_t listed, needed;
        bool passes;
    } cases[] = {
        {"WFM1:", "0,499", 400, 500, false},
        {"WFM1:", "0,500", 400, 500, true},
        {"WFM1:", "1000,100,\"WAVE,ARB,320\"", 400, 500, true},  // 100 + 320 x 1.25
        {"WFM1:", "1000,100,\"WAVE,ARB,319\"", 400, 500, false},
        {"ARBI:", "1000,100,\"WAVE,ARB,150\"", 200, 400, true},  // the Q file goes with the I file
        {"ARBI:", "1000,250,\"WAVE,ARB,50\"", 200, 400, false},
    };
    for (const auto& c : cases) {
        IOManager::instance().setStatusText("before");
        FakeSession session;
        session.replies[":mmem:cat? \"" + std::string(c.directory) + "\""] = c.catalogue;
        vesk::Corvane gen(session);
        EXPECT_EQ(gen.checkMemory(c.directory, "wave", c.listed, c.needed), c.passes) << c.catalogue;
        EXPECT_EQ(status(), c.passes ? "before" : "Not enough memory in the instrument.") << c.catalogue;
    }
    // Unanswered: the download stops before any block.
    FakeSession session;
    session.replies["rad:arb?"] = "0";
    vesk::Corvane gen(session);
    const std::vector<double> i(16, 1.0), q(16, 0.0);
    EXPECT_FALSE(gen.download(16, i.data(), q.data(), 0, 16, nullptr, "wave"));
    EXPECT_EQ(status(), "fake: no reply");
    EXPECT_EQ(session.writes.size(), 1u);
}

TEST_F(SignalGeneratorTest, ModelComesFromTheLastLetterOfTheSecondIdentityField) {
    const struct {
        const char* idn;
        int model;            // 0 none, 1 Corvane, 2 Pellar
        const char* found;    // what the message says of an unsupported one
    } cases[] = {{"Maker, SG4438C, US123, 5.0", 1, ""},
                 {"Maker, SG4432B, US123, 5.0", 2, ""},
                 {"Maker, SG4431A, US1, 5", 0, "\"Maker, SG4431A, US1, 5\" names the model \"SG4431A\""},
                 {"Maker, SGC", 1, ""},
                 {"Maker,", 0, "\"Maker,\" names no model"},
                 {"no comma at all", 0, "\"no comma at all\" names no model"},
                 {"Maker,,C", 1, ""},
                 {"Maker, c, x", 0, "names the model \"c\""},
                 {"M, \x01\xFFX", 0, "names the model \"??X\""}};
    for (const auto& c : cases) {
        IOManager::instance().setStatusText("unchanged");
        FakeSession session;
        session.replies["*IDN?"] = c.idn;
        bool unanswered = true;
        const auto model = vesk::selectModel(session, &unanswered);
        EXPECT_FALSE(unanswered);
        EXPECT_EQ(model == nullptr, c.model == 0) << c.idn;
        if (c.model == 1) {
            EXPECT_NE(dynamic_cast<vesk::Corvane*>(model.get()), nullptr) << c.idn;
        }
        if (c.model == 2) {
            EXPECT_NE(dynamic_cast<vesk::Pellar*>(model.get()), nullptr) << c.idn;
        }
        if (c.model != 0) {
            EXPECT_EQ(status(), "unchanged");
        } else {
            EXPECT_NE(status().find(c.found), std::string::npos) << status();
            EXPECT_NE(status().find("supported are the models whose name ends in C (Corvane) or B (Pellar)"), std::string::npos);
        }
    }
    // A long identification is cut short in the message.
    FakeSession chatty;
    chatty.replies["*IDN?"] = "Maker, " + std::string(500, 'Z');
    EXPECT_EQ(vesk::selectModel(chatty), nullptr);
    EXPECT_LT(status().size(), 400u);
    FakeSession silent;
    bool unanswered = false;
    EXPECT_EQ(vesk::selectModel(silent, &unanswered), nullptr);
    EXPECT_TRUE(unanswered);
    EXPECT_EQ(status(), "fake: no reply");
}

TEST_F(SignalGeneratorTest, BinaryBlockGoesOutAsHeaderThenData) {
    FakeSession session;
    vesk::Corvane gen(session);
    const std::string data(100, 'z');
    ASSERT_TRUE(gen.sendBinaryBlock(":MMEM:DATA \"F\"", reinterpret_cast<const std::uint8_t*>(data.data()), 100));
    ASSERT_EQ(session.writes.size(), 4u);
    EXPECT_EQ(session.writes[0].bytes, ":MMEM:DATA \"F\" , #3100");
    EXPECT_EQ(session.writes[1].bytes, "<before>");
    EXPECT_EQ(session.writes[2].bytes, data);
    EXPECT_EQ(session.writes[3].bytes, "\n");
}

TEST_F(SignalGeneratorTest, BlockHeaderReaderAcceptsOnlyWellFormedBoundedBlocks) {
    const struct {
        std::string input;
        bool ok;
        std::size_t count;
        const char* message;
    } cases[] = {
        {"#41000", true, 1000, nullptr},
        {"#10", true, 0, nullptr},
        {"#9268435456", true, 268435456, nullptr},
        {"#9268435457", false, 0, "The instrument announced a block of 268435457 bytes, more than the accepted 268435456 bytes"},
        {"1,2,3", false, 0, "Invalid query result when querying binary file"},
        {"#0abc", false, 0, "Invalid query result when querying binary file"},
        {"#x12", false, 0, "Invalid query result when querying binary file"},
        {"#31a0", false, 0, "Invalid query result when querying binary file"},
        {"#5123", false, 0, "The instrument sent fewer bytes than its block header announced"},
        {"", false, 0, "The instrument sent fewer bytes than its block header announced"},
    };
    for (const auto& c : cases) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{1000}}) {
            FakeSession session;
            session.input = c.input;
            session.maxChunk = chunk;
            vesk::Corvane gen(session);
            std::size_t count = 99;
            EXPECT_EQ(gen.readBlockHeader(":MMEM:DATA? \"F\"", count), c.ok) << c.input;
            EXPECT_EQ(count, c.count) << c.input;
            if (c.message) {
                EXPECT_EQ(status(), c.message) << c.input;
            }
            EXPECT_EQ(session.commandLines(), std::vector<std::string>{":MMEM:DATA? \"F\"\n"});
            EXPECT_EQ(session.prepareReads, 1);
        }
    }
    FakeSession session;
    session.input = "#15abcde\nleftover";
    session.maxChunk = 2;
    vesk::Corvane gen(session);
    std::size_t count = 0;
    ASSERT_TRUE(gen.readBlockHeader("Q?", count));
    std::string data(count, '\0');
    ASSERT_TRUE(gen.readBlockData(reinterpret_cast<std::uint8_t*>(data.data()), count));
    EXPECT_EQ(data, "abcde");
    EXPECT_EQ(session.prepareReads, 2);  // the terminator after the block is dropped
}

}  // namespace
