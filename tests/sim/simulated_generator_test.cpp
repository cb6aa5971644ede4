#include "sim/simulated_generator.h"

#include <gtest/gtest.h>

#include "sim/with_fields.h"
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "raw_client.h"
#include "sim/scpi_stream.h"

using namespace std::chrono_literals;
using sim::Model;
using sim::Options;
using sim::ScpiMessage;
using sim::ScpiStreamParser;
using sim::SimulatedGenerator;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Block data that a text parser would trip over: LF, '#', quotes, NUL and high bytes.
Bytes awkwardBytes(std::size_t count) {
    Bytes out(count);
    const std::uint8_t pattern[] = {'\n', '#', '"', 0x00, 0xFF, '2', ';', 0x7F, '\r', '\''};
    for (std::size_t i = 0; i < count; ++i) out[i] = pattern[i % std::size(pattern)] ^ static_cast<std::uint8_t>(i >> 4);
    return out;
}

std::string asText(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

std::vector<ScpiMessage> parseInPieces(const std::string& stream, std::size_t firstPiece) {
    ScpiStreamParser parser(ScpiStreamParser::Limits{});
    std::vector<ScpiMessage> messages;
    const auto sink = [&](ScpiMessage&& m) { messages.push_back(std::move(m)); };
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    EXPECT_TRUE(parser.feed({bytes, firstPiece}, sink));
    EXPECT_TRUE(parser.feed({bytes + firstPiece, stream.size() - firstPiece}, sink));
    return messages;
}

// The model field as the client reads it: from two characters after the first comma up to
// the next comma.
std::string modelField(const std::string& idn) {
    const std::size_t comma = idn.find(',');
    if (comma == std::string::npos || comma + 2 > idn.size()) return {};
    const std::size_t start = comma + 2;
    return idn.substr(start, idn.find(',', start) - start);
}

std::string query(RawClient& client, const std::string& command) {
    EXPECT_TRUE(client.send(command + "\n"));
    return client.readLine().value_or("<no reply>");
}

}  // namespace

TEST(ScpiStreamParser, SeparatesTextAndBlocksWhereverTheStreamIsSplit) {
    const Bytes data = awkwardBytes(64);
    const std::string stream = ":MMEMory:DATA \"WFM1:a#b\", #264" + asText(data) + "\n\n*IDN?\r\n" +
                               "cmd #800000003abc, tail\n#H1F\nind #0x\"y\n:mmem:data 'x', #10\n";
    const std::vector<ScpiMessage> whole = parseInPieces(stream, stream.size());
    ASSERT_EQ(whole.size(), 7u);
    EXPECT_EQ(whole[0].text, ":MMEMory:DATA \"WFM1:a#b\", <block 64 bytes>");
    ASSERT_EQ(whole[0].blocks.size(), 1u);
    EXPECT_EQ(whole[0].blocks[0], data);
    EXPECT_EQ(whole[1].text, "");
    EXPECT_EQ(whole[2].text, "*IDN?");
    EXPECT_EQ(whole[3].text, "cmd <block 3 bytes>, tail");
    EXPECT_EQ(asText(whole[3].blocks.at(0)), "abc");
    EXPECT_EQ(whole[4].text, "#H1F");  // a number in another base, not a block
    EXPECT_EQ(asText(whole[5].blocks.at(0)), "x\"y");  // indefinite length: up to LF
    EXPECT_EQ(whole[6].text, ":mmem:data 'x', <block 0 bytes>");

    for (std::size_t split = 0; split <= stream.size(); ++split) {
        const std::vector<ScpiMessage> pieces = parseInPieces(stream, split);
        ASSERT_EQ(pieces.size(), whole.size()) << "split at " << split;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(pieces[i].text, whole[i].text) << "split at " << split;
            EXPECT_EQ(pieces[i].blocks, whole[i].blocks) << "split at " << split;
        }
    }
}

TEST(ScpiStreamParser, SkipsMalformedInputAndRefusesBlocksOverTheLimit) {
    ScpiStreamParser parser(ScpiStreamParser::Limits{32, 1000});
    std::vector<std::string> texts;
    const auto sink = [&](ScpiMessage&& m) { texts.push_back(m.text); };
    const auto feed = [&](const std::string& s) {
        return parser.feed({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}, sink);
    };

    EXPECT_TRUE(feed(std::string(100, 'x') + "\n*IDN?\n#2x\n\"open quote\n#3\n"));
    EXPECT_EQ(texts, (std::vector<std::string>{"*IDN?", "#2x", "\"open quote", "#3"}));
    EXPECT_EQ(parser.recoveredErrors(), 3u);  // the long line and two broken headers
    EXPECT_EQ(parser.bufferedBytes(), 0u);

    EXPECT_TRUE(feed(":data #41000"));  // exactly the limit is accepted...
    EXPECT_EQ(parser.blockProgress()->declared, 1000u);
    parser.reset();
    EXPECT_FALSE(feed(":data #41001"));  // ...one byte more is not, before any data arrives
    EXPECT_TRUE(parser.failed());
    EXPECT_FALSE(feed("*IDN?\n"));
    parser.reset();
    EXPECT_FALSE(feed("#0" + std::string(2000, 'z')));  // an indefinite block is bounded too
    parser.reset();
    EXPECT_TRUE(feed("#0" + std::string(999, 'z')));
    EXPECT_FALSE(feed("zz"));
}

TEST(SimulatedGenerator, EachModelIdentifiesItselfAndStoresItsWaveformFiles) {
    const Bytes iq = awkwardBytes(64);
    const Bytes markers = awkwardBytes(16);
    {
        SimulatedGenerator corvane(make<Options>([&](auto& o) { o.model = Model::Corvane; }));
        corvane.start();
        RawClient client(corvane.port());
        const std::string idn = query(client, "*IDN?");
        EXPECT_EQ(modelField(idn).back(), 'C') << idn;
        const std::size_t serial = idn.find(",US");
        ASSERT_NE(serial, std::string::npos) << idn;
        const std::string digits = idn.substr(serial + 3, 9);
        EXPECT_EQ(digits.find_first_not_of("0123456789"), 8u) << idn;  // eight digits, then ','
        EXPECT_EQ(digits.back(), ',') << idn;

        // The header arrives in one write and the data in another, as the client sends them;
        // here the split also falls inside the header.
        ASSERT_TRUE(client.send(":MMEMory:DATA \"WFM1:wave\", #2"));
        ASSERT_TRUE(client.send("64" + asText(iq).substr(0, 10)));
        ASSERT_TRUE(client.send(asText(iq).substr(10) + "\n"));
        ASSERT_TRUE(client.send(":MMEMory:DATA \"MKR1:wave\", #216" + asText(markers) + "\n"));
        ASSERT_TRUE(corvane.waitForCommands(3, 5s));
        const auto files = corvane.files();
        EXPECT_EQ(files.size(), 2u);
        EXPECT_EQ(files.at("WFM1:wave"), iq);
        EXPECT_EQ(files.at("MKR1:wave"), markers);
        EXPECT_EQ(corvane.commands().at(1), ":MMEMory:DATA \"WFM1:wave\", <block 64 bytes>");
    }
    {
        SimulatedGenerator pellar(make<Options>([&](auto& o) { o.model = Model::Pellar; }));
        pellar.start();
        RawClient client(pellar.port());
        EXPECT_EQ(modelField(query(client, "*IDN?")).back(), 'B');
        // Eight-digit counts with leading zeros, and the two LFs plus a lone LF that follow.
        ASSERT_TRUE(client.send(":mmem:data \"arbi:Wave\", #800000064" + asText(iq) + "\n\n\n"));
        ASSERT_TRUE(client.send(":MMEMory:DATA \"ARBQ:Wave\", #800000016" + asText(markers) + "\n\n\n"));
        ASSERT_TRUE(pellar.waitForCommands(7, 5s));
        const auto files = pellar.files();
        EXPECT_EQ(files.at("ARBI:Wave"), iq);
        EXPECT_EQ(files.at("ARBQ:Wave"), markers);
        const auto commands = pellar.commands();
        EXPECT_EQ(commands.at(2), "");
        EXPECT_EQ(commands.at(3), "");
    }
}

TEST(SimulatedGenerator, AnswersTheQueriesOfADownload) {
    SimulatedGenerator pellar(make<Options>([&](auto& o) { o.model = Model::Pellar; o.maxStoredBytes = 1000; }));
    pellar.start();
    RawClient client(pellar.port());
    EXPECT_EQ(query(client, ":mmem:cat? \"ARBI:\""), "0,1000");
    ASSERT_TRUE(client.send(":MMEMory:DATA \"ARBI:OneX-Fwd\", #264" + asText(awkwardBytes(64)) + "\n"));
    ASSERT_TRUE(client.send(":MMEMory:DATA \"ARBQ:OneX-Fwd\", #264" + asText(awkwardBytes(64)) + "\n"));
    EXPECT_EQ(query(client, ":mmem:cat? \"ARBI:\""), "128,872,\"ONEX-FWD,ARB,64\"");

    // Read back as a block; a missing file gives an empty block at once.
    ASSERT_TRUE(client.send(":MMEM:DATA? \"ARBI:OneX-Fwd\"\n"));
    EXPECT_EQ(client.readExact(4 + 64 + 1), "#264" + asText(awkwardBytes(64)) + "\n");
    EXPECT_EQ(query(client, ":MMEM:DATA? \"ARBI:none\""), "#10");
    EXPECT_EQ(query(client, "SYST:ERR?").substr(0, 4), "-256");

    // A file that does not fit is refused and the instrument says so.
    ASSERT_TRUE(client.send(":MMEMory:DATA \"ARBI:big\", #3900" + std::string(900, 'b') + "\n"));
    EXPECT_EQ(query(client, "SYST:ERR?").substr(0, 4), "-250");
    EXPECT_EQ(query(client, "SYST:ERR?"), "+0,\"No error\"");
    EXPECT_FALSE(pellar.files().contains("ARBI:big"));

    EXPECT_EQ(query(client, "rad:arb?"), "0");
    EXPECT_EQ(query(client, "*OPC?"), "1");
    ASSERT_TRUE(client.send("*IDN?;*OPC?\n"));
    EXPECT_EQ(modelField(client.readLine().value_or("")).back(), 'B');
}

TEST(SimulatedGenerator, PlaySequencesSetPlaybackOnBothModels) {
    SimulatedGenerator corvane(make<Options>([&](auto& o) { o.model = Model::Corvane; }));
    corvane.start();
    RawClient client(corvane.port());
    ASSERT_TRUE(client.send(":MMEMory:DATA \"WFM1:OneX-Fwd\", #216" + std::string(16, 'w') + "\n"));
    for (const char* command :
         {" :source:rad:arb:state off", " :source:rad:arb:wav \"arbi:OneX-Fwd\" ", " :source:freq:fix 2200000000Hz",
          " :source:power:level:immediate:amplitude -30dbm", " :source:rad:arb:clock:srate 4915200Hz",
          " :source:rad:arb:rfilter 2.5Mhz", " :source:rad:arb:marker:rfblank off",
          " :source:rad:arb:marker:polarity Pos", " :source:rad:arb:clock:ref int", " :source:rad:arb:state on",
          " :output:state on"})
        ASSERT_TRUE(client.send(std::string(command) + "\n"));
    // The "arbi:" name selects the WFM1: file, so the client's playing check matches.
    EXPECT_EQ(query(client, "rad:arb:wav?"), "\"WFM1:OneX-Fwd\"");
    EXPECT_EQ(query(client, ":SOUR:RAD:ARB:STATe?"), "1");
    EXPECT_EQ(query(client, "SYST:ERR?"), "+0,\"No error\"");
    const auto settings = corvane.settings();
    EXPECT_EQ(settings, (std::map<std::string, std::string>{{"arbState", "1"},
                                                            {"waveform", "WFM1:OneX-Fwd"},
                                                            {"frequency", "2200000000Hz"},
                                                            {"power", "-30dbm"},
                                                            {"sampleClock", "4915200Hz"},
                                                            {"reconFilter", "2.5Mhz"},
                                                            {"rfBlanking", "0"},
                                                            {"markerPolarity", "Pos"},
                                                            {"clockReference", "int"},
                                                            {"outputState", "1"}}));
    ASSERT_TRUE(client.send("rad:arb 0\n"));
    EXPECT_EQ(query(client, "rad:arb?"), "0");

    SimulatedGenerator pellar(make<Options>([&](auto& o) { o.model = Model::Pellar; }));
    pellar.start();
    RawClient other(pellar.port());
    for (const char* command :
         {" :source:rad:arb:wav \"arbi:OneX-Fwd\" ", " :source:dm:bbfilter 40MHz", " :source:rad:ARB:rscaling 70",
          ":source:DM:IQAT:AUTO off", ":source:DM:IQAT 2", " :pow:alc:state on", " :OUTPUT:MOD ON", "rad:arb 1"})
        ASSERT_TRUE(other.send(std::string(command) + "\n"));
    EXPECT_EQ(query(other, "rad:arb:wav?"), "\"ARBI:OneX-Fwd\"");
    EXPECT_EQ(query(other, "SYST:ERR?").substr(0, 4), "-256");  // selected, but no such file
    const auto set = pellar.settings();
    EXPECT_EQ(set.at("bbFilter"), "40MHz");
    EXPECT_EQ(set.at("runtimeScaling"), "70");
    EXPECT_EQ(set.at("iqAttenuationAuto"), "0");
    EXPECT_EQ(set.at("iqAttenuation"), "2");
    EXPECT_EQ(set.at("alc"), "1");
    EXPECT_EQ(set.at("modulationState"), "1");
    EXPECT_EQ(set.at("arbState"), "1");
}

TEST(SimulatedGenerator, InjectsFaults) {
    SimulatedGenerator generator;
    generator.start();
    RawClient client(generator.port());

    generator.setFaults(make<sim::Faults>([](auto& o) { o.silent = true; }));
    ASSERT_TRUE(client.send("*IDN?\n"));
    EXPECT_FALSE(client.readLine(300ms).has_value());
    EXPECT_TRUE(generator.waitForCommands(1, 1s));  // heard, but not answered

    generator.setFaults(make<sim::Faults>([](auto& o) { o.garbageReplies = true; }));
    const std::string garbage = query(client, "*IDN?");
    EXPECT_EQ(garbage.find(','), std::string::npos);
    EXPECT_NE(garbage.front(), '#');
    EXPECT_NE(query(client, "rad:arb?"), "0");

    generator.setFaults(make<sim::Faults>([](auto& o) { o.idnOverride = "Other,XY1234A,US00000001,1.0"; }));
    EXPECT_EQ(query(client, "*IDN?"), "Other,XY1234A,US00000001,1.0");

    // The whole block is sent in one write, yet the connection ends inside it; only once.
    generator.setFaults(make<sim::Faults>([](auto& o) { o.dropMidBlock = true; }));
    const std::string download = ":MMEMory:DATA \"WFM1:w\", #264" + std::string(64, 'd') + "\n";
    ASSERT_TRUE(client.send(download));
    EXPECT_TRUE(client.closedByPeer());
    EXPECT_TRUE(generator.files().empty());
    RawClient again(generator.port());
    ASSERT_TRUE(again.send(download));
    EXPECT_EQ(query(again, "*OPC?"), "1");
    EXPECT_EQ(generator.files().at("WFM1:w"), Bytes(64, 'd'));

    // A drop after so many block bytes lets a shorter block through and cuts the next longer one.
    generator.setFaults(make<sim::Faults>([](auto& o) { o.dropAfterBlockBytes = 100; }));
    ASSERT_TRUE(again.send(download));
    EXPECT_EQ(query(again, "*OPC?"), "1");
    RawClient cut(generator.port());
    ASSERT_TRUE(cut.send(":MMEMory:DATA \"WFM1:long\", #3200" + std::string(200, 'e') + "\n"));
    EXPECT_TRUE(cut.closedByPeer());
    EXPECT_EQ(generator.files().count("WFM1:long"), 0u);
    ASSERT_TRUE(again.send(":MMEMory:DATA \"WFM1:long\", #3200" + std::string(200, 'e') + "\n"));  // once only
    EXPECT_EQ(query(again, "*OPC?"), "1");
    EXPECT_EQ(generator.files().at("WFM1:long").size(), 200u);

    // A block read back is cut in the middle too.
    generator.setFaults(make<sim::Faults>([](auto& o) { o.dropMidBlock = true; }));
    ASSERT_TRUE(again.send(":MMEM:DATA? \"WFM1:w\"\n"));
    EXPECT_FALSE(again.readExact(4 + 64).has_value());
    EXPECT_TRUE(again.closedByPeer());
}

TEST(SimulatedGenerator, SurvivesGarbageOversizedBlocksAndManyConnections) {
    SimulatedGenerator generator(make<Options>([&](auto& o) { o.maxBlockBytes = 1u << 20; }));
    generator.start();
    {
        std::mt19937 random(7);
        std::string noise(256u << 10, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        RawClient client(generator.port());
        client.send(noise);  // the server may close on an oversized header inside: either is fine
    }
    {
        RawClient client(generator.port());
        ASSERT_TRUE(client.send(":MMEMory:DATA \"WFM1:huge\", #9999999999"));
        EXPECT_TRUE(client.closedByPeer());
    }
    for (int i = 0; i < 200; ++i) {
        RawClient client(generator.port());
        ASSERT_EQ(modelField(query(client, "*IDN?")).back(), 'C') << "connection " << i;
    }
    EXPECT_EQ(generator.connectionsAccepted(), 202u);
    EXPECT_TRUE(generator.running());
}

TEST(SimulatedGenerator, WritesTheStoreAndStopsWhenIdle) {
    std::string dir = (std::filesystem::temp_directory_path() / "simstoreXXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    SimulatedGenerator generator(make<Options>([&](auto& o) { o.storeDir = dir; o.idleTimeout = 300ms; }));
    generator.start();
    {
        RawClient client(generator.port());
        ASSERT_TRUE(client.send(":MMEMory:DATA \"WFM1:my/../wave\", #14abcd\n"));
        ASSERT_TRUE(generator.waitForCommands(1, 5s));
    }
    std::ifstream stored(dir + "/WFM1_my_.._wave", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), "abcd");

    for (int i = 0; i < 100 && generator.running(); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(generator.running());
    EXPECT_THROW(RawClient{generator.port()}, std::runtime_error);
    std::filesystem::remove_all(dir);
}

TEST(SimulatedGenerator, CommandRunsInTheForegroundUntilIdle) {
    std::ostringstream out, err;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim::runSimulatorCommand(make<Options>([](auto& o) {
                                           o.model = Model::Pellar;
                                           o.idleTimeout = 200ms;
                                       }),
                                       out, err),
              0);
    EXPECT_EQ(err.str(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const std::string printed = out.str();
    EXPECT_EQ(printed.rfind("listening on 127.0.0.1:", 0), 0u) << printed;
    EXPECT_NE(printed.find(" (Pellar)\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("listening on 127.0.0.1:0 "), std::string::npos) << "the chosen port is printed";
    // A port that cannot be had: the error on the error stream, status 1.
    std::ostringstream out2, err2;
    sim::SimulatedGenerator holder(make<Options>([](auto& o) { o.idleTimeout = 5s; }));
    holder.start();
    EXPECT_EQ(sim::runSimulatorCommand(make<Options>([&](auto& o) { o.port = holder.port(); }), out2, err2), 1);
    EXPECT_EQ(out2.str(), "");
    EXPECT_NE(err2.str().find("onexfwd sim: "), std::string::npos);
    holder.stop();
}
