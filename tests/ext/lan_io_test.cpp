// The raw socket transport and the session table, against small scripted servers on
// 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "ext/hardware_io.h"
#include "ext/io_manager.h"
#include "loopback_server.h"

namespace {

using ext_test::LoopbackServer;
using vesk::IOManager;
using vesk::LanIO;
using namespace std::chrono_literals;

class LanIOTest : public ::testing::Test {
protected:
    void SetUp() override { IOManager::releaseAll(); }
    void TearDown() override { IOManager::releaseAll(); }
};

std::string status() { return IOManager::instance().statusText(); }

TEST_F(LanIOTest, RepliesArriveWholeWithoutTheirLineEndEvenWhenSplit) {
    LoopbackServer server([](int fd) {
        EXPECT_EQ(LoopbackServer::readLine(fd), "*IDN?\n");
        // One reply in three segments, then two replies in one segment.
        LoopbackServer::sendAll(fd, "Maker, SG");
        std::this_thread::sleep_for(30ms);
        LoopbackServer::sendAll(fd, "4438C, 1");
        std::this_thread::sleep_for(30ms);
        LoopbackServer::sendAll(fd, "23\n");
        EXPECT_EQ(LoopbackServer::readLine(fd), "A?\n");
        LoopbackServer::sendAll(fd, "0\n1\n");
        EXPECT_EQ(LoopbackServer::readLine(fd), "B?\n");
        LoopbackServer::sendAll(fd, "\n");
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.open());
    std::string reply;
    ASSERT_TRUE(lan.queryText(reply, "*IDN?", 65535));
    EXPECT_EQ(reply, "Maker, SG4438C, 123");
    ASSERT_TRUE(lan.sendCommand("A?"));
    ASSERT_TRUE(lan.readText(reply, 65535));
    EXPECT_EQ(reply, "0");
    ASSERT_TRUE(lan.readText(reply, 65535));
    EXPECT_EQ(reply, "1");
    ASSERT_TRUE(lan.queryText(reply, "B?", 65535));
    EXPECT_EQ(reply, "");
}

TEST_F(LanIOTest, PrepareReadDropsLeftoversWithoutWaiting) {
    LoopbackServer server([](int fd) {
        LoopbackServer::sendAll(fd, "#15abcde\nstale reply\n");
        EXPECT_EQ(LoopbackServer::readLine(fd), "Q?\n");
        LoopbackServer::sendAll(fd, "fresh\n");
        LoopbackServer::readLine(fd, 2s);  // hold the connection until the client is done
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.open());
    std::uint8_t block[8];
    std::size_t got = 0;
    ASSERT_TRUE(lan.readBytes(block, 8, got));
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 8), "#15abcde");
    // The leftovers came in the same write as the block, so they are here already. Not
    // waiting means returning long before the 10 s time-out a read would wait.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(lan.prepareRead());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    std::string reply;
    ASSERT_TRUE(lan.queryText(reply, "Q?", 65535));
    EXPECT_EQ(reply, "fresh");
    lan.sendCommand("bye");
}

TEST_F(LanIOTest, LargeBlocksAreSentAndReadInFull) {
    constexpr std::size_t kBytes = 8u << 20;
    std::string payload(kBytes, '\0');
    for (std::size_t k = 0; k < kBytes; ++k) payload[k] = static_cast<char>((k * 131) >> 3);
    std::string received;
    LoopbackServer server([&](int fd) {
        received = LoopbackServer::readExactly(fd, kBytes, 20s);
        LoopbackServer::sendAll(fd, received);
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.open());
    ASSERT_TRUE(lan.writeBytes(reinterpret_cast<const std::uint8_t*>(payload.data()), kBytes));
    std::string echo(kBytes, '\0');
    std::size_t got = 0;
    ASSERT_TRUE(lan.readBytes(reinterpret_cast<std::uint8_t*>(echo.data()), kBytes, got));
    EXPECT_EQ(got, kBytes);
    EXPECT_TRUE(echo == payload);
    EXPECT_TRUE(received == payload);
}

TEST_F(LanIOTest, SilentInstrumentTimesOutWithAMessage) {
    LoopbackServer server([](int fd) {
        LoopbackServer::readLine(fd);
        LoopbackServer::readLine(fd, 2s);  // reads, never answers
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.setTimeout(200));
    ASSERT_TRUE(lan.open());
    std::string reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lan.queryText(reply, "*IDN?", 65535));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 190ms);
    EXPECT_LT(took, 2s);
    EXPECT_EQ(status(), "Instrument at 127.0.0.1:" + std::to_string(server.port()) + " did not answer within 200 ms");
}

TEST_F(LanIOTest, DroppedConnectionFailsWithAMessageAndNoSignal) {
    LoopbackServer server([](int fd) {
        LoopbackServer::readExactly(fd, 1000);
        // Reset rather than an orderly close, so the client's next sends fail.
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.open());
    const std::string chunk(1000, 'x');
    ASSERT_TRUE(lan.writeBytes(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()));
    // Without MSG_NOSIGNAL this would end the test program with SIGPIPE.
    const std::string big(4u << 20, 'y');
    bool failed = false;
    for (int attempt = 0; attempt < 50 && !failed; ++attempt) {
        failed = !lan.writeBytes(reinterpret_cast<const std::uint8_t*>(big.data()), big.size());
        if (!failed) std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(failed);
    EXPECT_NE(status().find("could not be written to"), std::string::npos) << status();
    std::string reply;
    EXPECT_FALSE(lan.readText(reply, 65535));
}

TEST_F(LanIOTest, ClosedPeerEndsAPendingRead) {
    LoopbackServer server([](int fd) {
        LoopbackServer::readLine(fd);
        LoopbackServer::sendAll(fd, "partial");
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.open());
    std::string reply;
    EXPECT_FALSE(lan.queryText(reply, "Q?", 65535));
    EXPECT_EQ(status(), "Instrument at 127.0.0.1:" + std::to_string(server.port()) + " closed the connection");
}

TEST_F(LanIOTest, WritesAreConfirmedAndNoneGoesToAClosedInstrument) {
    // Answers the first *OPC? as it should, the second with something else, then closes.
    LoopbackServer server([](int fd) {
        for (const char* answer : {"1\n", "0\n"}) {
            for (int line = 0; line < 4 && LoopbackServer::readLine(fd) != "*OPC?\n"; ++line) {
            }
            LoopbackServer::sendAll(fd, answer);
        }
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.open());
    const std::string instrument = "Instrument at 127.0.0.1:" + std::to_string(server.port());
    ASSERT_TRUE(lan.sendCommand("DATA"));
    EXPECT_TRUE(lan.confirmWrites()) << status();
    EXPECT_FALSE(lan.confirmWrites());
    EXPECT_EQ(status(), instrument + " did not confirm what it was sent: it answered \"0\" to *OPC?");

    // Once the instrument has closed its end, a write fails at once instead of being lost.
    std::string reply;
    EXPECT_FALSE(lan.readText(reply, 65535));
    IOManager::instance().setStatusText("before");
    EXPECT_FALSE(lan.sendCommand("LOST"));
    EXPECT_EQ(status(), instrument + " closed the connection");
}

TEST_F(LanIOTest, RefusedConnectionAndUnknownNameSayWhy) {
    int port = 0;
    {
        LoopbackServer gone([](int) {}, 0);
        port = gone.port();
    }
    // The status must not keep an earlier success text: the caller shows it as the reason.
    IOManager::instance().setStatusText("IO Success");
    LanIO refused("127.0.0.1", port);
    EXPECT_FALSE(refused.open());
    EXPECT_FALSE(refused.isOpen());
    EXPECT_EQ(status(), "Instrument at 127.0.0.1:" + std::to_string(port) + " cannot be reached: Connection refused");
    LanIO unnamed("", 5025);
    EXPECT_FALSE(unnamed.open());
    EXPECT_EQ(status(), "Instrument at :5025 cannot be reached: the address does not resolve");
    LanIO outOfRange("127.0.0.1", 70000);
    EXPECT_FALSE(outOfRange.open());
    EXPECT_NE(status().find("the port must be 1 to 65535"), std::string::npos);
}

TEST_F(LanIOTest, OverlongReplyWithoutLineEndIsRefused) {
    LoopbackServer server([](int fd) {
        LoopbackServer::readLine(fd);
        LoopbackServer::sendAll(fd, std::string(70000, 'a'));
        LoopbackServer::readLine(fd, 2s);
    });
    LanIO lan("127.0.0.1", server.port());
    ASSERT_TRUE(lan.open());
    std::string reply;
    EXPECT_FALSE(lan.queryText(reply, "Q?", 65535));
    EXPECT_NE(status().find("without a line end"), std::string::npos);
}

TEST_F(LanIOTest, SessionTableSharesReopensAndReleases) {
    LoopbackServer server([](int fd) { LoopbackServer::readLine(fd, 3s); }, 2);
    const std::string key = std::to_string(server.port()) + "@127.0.0.1";
    int created = 0;
    const auto make = [&] {
        ++created;
        return std::make_unique<LanIO>("127.0.0.1", server.port());
    };
    IOManager& manager = IOManager::instance();
    EXPECT_EQ(manager.statusText(), "IO Success");
    vesk::HardwareIO* first = manager.openSession(key, make);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->sessionKey(), key);
    EXPECT_EQ(manager.openSession(key, make), first);
    EXPECT_EQ(created, 1);

    manager.removeSession(first);
    EXPECT_EQ(manager.sessionCount(), 0u);
    vesk::HardwareIO* second = manager.openSession(key, make);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(created, 2);

    // A session that cannot open is not kept.
    EXPECT_EQ(manager.openSession("1@127.0.0.1", [] { return std::make_unique<LanIO>("127.0.0.1", 1); }), nullptr);
    EXPECT_EQ(manager.findSession("1@127.0.0.1"), nullptr);
    EXPECT_EQ(manager.sessionCount(), 1u);

    EXPECT_EQ(manager.takeStatusText(), "Instrument at 127.0.0.1:1 cannot be reached: Connection refused");
    EXPECT_EQ(manager.statusText(), "Succeeded");
    IOManager::releaseAll();
    EXPECT_EQ(IOManager::instance().sessionCount(), 0u);
    EXPECT_EQ(IOManager::instance().statusText(), "IO Success");
}

TEST(ResourceNames, FollowTheVisaFormats) {
    EXPECT_EQ(vesk::gpibResourceName(0, 19, 0), "GPIB0::19::INSTR");
    EXPECT_EQ(vesk::gpibResourceName(0, 19, -1), "GPIB0::19::INSTR");
    EXPECT_EQ(vesk::gpibResourceName(1, 5, 3), "GPIB1::5::3::INSTR");
    EXPECT_EQ(vesk::serialResourceName(2), "ASRL2::INSTR");
    EXPECT_EQ(vesk::tcpipResourceName(0, "10.1.2.3"), "TCPIP0::10.1.2.3::INSTR");
    const int rates[] = {300, 1200, 2400, 4800, 9600, 19200, 115200, 0};
    const long pieces[] = {32, 128, 256, 512, 1024, 2048, 2048, 2048};
    for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(vesk::serialPieceSize(rates[k]), pieces[k]) << rates[k];
}

}  // namespace
