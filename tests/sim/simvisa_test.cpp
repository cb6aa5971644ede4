// libsimvisa loaded the way the VISA transports load a VISA library: by path, through dlsym.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "sim/with_fields.h"
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "ext/visa_api.h"
#include "raw_client.h"
#include "sim/simulated_generator.h"

using namespace std::chrono_literals;

namespace {

struct DlCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};

template <class Fn>
Fn symbol(void* library, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(library, name));
}

class SimVisa : public ::testing::Test {
protected:
    void SetUp() override {
        library_.reset(::dlopen(SIMVISA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL));
        ASSERT_NE(library_, nullptr) << ::dlerror();
        void* lib = library_.get();
        openDefaultRM = symbol<ViOpenDefaultRMFn>(lib, "viOpenDefaultRM");
        open = symbol<ViOpenFn>(lib, "viOpen");
        close = symbol<ViCloseFn>(lib, "viClose");
        printf = symbol<ViPrintfFn>(lib, "viPrintf");
        scanf = symbol<ViScanfFn>(lib, "viScanf");
        bufWrite = symbol<ViBufWriteFn>(lib, "viBufWrite");
        bufRead = symbol<ViBufReadFn>(lib, "viBufRead");
        setBuf = symbol<ViSetBufFn>(lib, "viSetBuf");
        flush = symbol<ViFlushFn>(lib, "viFlush");
        setAttribute = symbol<ViSetAttributeFn>(lib, "viSetAttribute");
        getAttribute = symbol<ViGetAttributeFn>(lib, "viGetAttribute");
        statusDesc = symbol<ViStatusDescFn>(lib, "viStatusDesc");
        gpibControlREN = symbol<ViGpibControlRENFn>(lib, "viGpibControlREN");
        for (const void* entry : {(void*)openDefaultRM, (void*)open, (void*)close, (void*)printf, (void*)scanf,
                                  (void*)bufWrite, (void*)bufRead, (void*)setBuf, (void*)flush, (void*)setAttribute,
                                  (void*)getAttribute, (void*)statusDesc, (void*)gpibControlREN})
            ASSERT_NE(entry, nullptr);

        generator_.start();
        target("127.0.0.1:" + std::to_string(generator_.port()));
        logPath_ = (std::filesystem::temp_directory_path() / "simvisa-log-XXXXXX").string();
        const int fd = ::mkstemp(logPath_.data());
        ASSERT_GE(fd, 0);
        ::close(fd);
        ::setenv("SIMVISA_LOG", logPath_.c_str(), 1);
        ASSERT_EQ(openDefaultRM(&rm_), VI_SUCCESS);
    }

    void TearDown() override {
        if (rm_ != VI_NULL && close) close(rm_);
        ::unsetenv("SIMVISA_LOG");
        if (!logPath_.empty()) std::filesystem::remove(logPath_);
    }

    static void target(const std::string& address) { ::setenv("SIMVISA_TARGET", address.c_str(), 1); }

    ViSession openSession(const char* resource) {
        ViSession session = VI_NULL;
        EXPECT_EQ(open(rm_, const_cast<ViRsrc>(resource), VI_NULL, 0, &session), VI_SUCCESS) << resource;
        return session;
    }

    // A command and its reply as the transports exchange them: the reply keeps its LF.
    std::string ask(ViSession session, const std::string& command, ViStatus expected = VI_SUCCESS) {
        EXPECT_EQ(printf(session, const_cast<ViString>("%s"), (command + "\n").c_str()), VI_SUCCESS);
        std::vector<char> reply(1024, '\0');
        EXPECT_EQ(scanf(session, const_cast<ViString>("%1023t"), reply.data()), expected) << command;
        return reply.data();
    }

    std::vector<std::string> logLines() const {
        std::ifstream in(logPath_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::unique_ptr<void, DlCloser> library_;
    ViOpenDefaultRMFn openDefaultRM = nullptr;
    ViOpenFn open = nullptr;
    ViCloseFn close = nullptr;
    ViPrintfFn printf = nullptr;
    ViScanfFn scanf = nullptr;
    ViBufWriteFn bufWrite = nullptr;
    ViBufReadFn bufRead = nullptr;
    ViSetBufFn setBuf = nullptr;
    ViFlushFn flush = nullptr;
    ViSetAttributeFn setAttribute = nullptr;
    ViGetAttributeFn getAttribute = nullptr;
    ViStatusDescFn statusDesc = nullptr;
    ViGpibControlRENFn gpibControlREN = nullptr;

    sim::SimulatedGenerator generator_;
    std::string logPath_;
    ViSession rm_ = VI_NULL;
};

}  // namespace

TEST_F(SimVisa, EveryResourceKindReachesTheSimulator) {
    for (const char* resource : {"GPIB0::19::INSTR", "gpib1::19::5::instr", "ASRL1::INSTR",
                                 "TCPIP0::192.168.1.20::INSTR", "TCPIP::localhost::5025::SOCKET"}) {
        const ViSession session = openSession(resource);
        const std::string idn = ask(session, "*IDN?");
        EXPECT_EQ(idn.substr(idn.size() - 1), "\n") << resource;
        EXPECT_NE(idn.find("C,US"), std::string::npos) << resource << ": " << idn;
        EXPECT_EQ(close(session), VI_SUCCESS);
        EXPECT_EQ(close(session), VI_ERROR_INV_OBJECT);
    }
    const ViSession session = openSession("GPIB0::19::INSTR");
    EXPECT_EQ(printf(session, const_cast<ViString>("%s %d%s\n"), ":source:rad:arb:clock:srate", 4915200, "Hz"),
              VI_SUCCESS);
    EXPECT_EQ(ask(session, "*OPC?"), "1\n");
    EXPECT_EQ(generator_.settings().at("sampleClock"), "4915200Hz");
    const auto lines = logLines();
    EXPECT_EQ(lines.front(), "open GPIB0::19::INSTR");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "open TCPIP::localhost::5025::SOCKET"), lines.end());
}

TEST_F(SimVisa, LogsAttributesFlushesAndWritePieces) {
    const ViSession tcpip = openSession("TCPIP0::10.0.0.5::INSTR");
    const std::string header = ":MMEMory:DATA \"WFM1:w\", #45000";
    std::vector<ViByte> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<ViByte>(i * 7);

    // A block as the TCPIP transport writes it: 1024-byte pieces, each flushed.
    ViUInt32 written = 0;
    EXPECT_EQ(setAttribute(tcpip, VI_ATTR_SEND_END_EN, VI_FALSE), VI_SUCCESS);
    EXPECT_EQ(bufWrite(tcpip, reinterpret_cast<ViBuf>(const_cast<char*>(header.data())),
                       static_cast<ViUInt32>(header.size()), &written),
              VI_SUCCESS);
    EXPECT_EQ(written, header.size());
    for (std::size_t offset = 0; offset < data.size(); offset += 1024) {
        const auto piece = static_cast<ViUInt32>(std::min<std::size_t>(1024, data.size() - offset));
        EXPECT_EQ(bufWrite(tcpip, data.data() + offset, piece, &written), VI_SUCCESS);
        EXPECT_EQ(flush(tcpip, VI_WRITE_BUF), VI_SUCCESS);
    }
    EXPECT_EQ(setAttribute(tcpip, VI_ATTR_SEND_END_EN, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(flush(tcpip, VI_READ_BUF_DISCARD), VI_SUCCESS);
    EXPECT_EQ(printf(tcpip, const_cast<ViString>("%s"), "\n"), VI_SUCCESS);
    ASSERT_TRUE(generator_.waitForCommands(1, 5s));
    EXPECT_EQ(generator_.files().at("WFM1:w"), data);

    const ViSession serial = openSession("ASRL3::INSTR");
    EXPECT_EQ(setAttribute(serial, VI_ATTR_ASRL_BAUD, 19200), VI_SUCCESS);
    EXPECT_EQ(setAttribute(serial, VI_ATTR_ASRL_PARITY, 9), VI_ERROR_NSUP_ATTR_STATE);
    EXPECT_EQ(setAttribute(tcpip, VI_ATTR_ASRL_BAUD, 9600), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(setAttribute(serial, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
    ViUInt32 baud = 0;
    ViUInt16 parity = 99;
    EXPECT_EQ(getAttribute(serial, VI_ATTR_ASRL_BAUD, &baud), VI_SUCCESS);
    EXPECT_EQ(getAttribute(serial, VI_ATTR_ASRL_PARITY, &parity), VI_SUCCESS);
    EXPECT_EQ(baud, 19200u);
    EXPECT_EQ(parity, VI_ASRL_PAR_NONE);
    EXPECT_EQ(setBuf(serial, VI_READ_BUF | VI_WRITE_BUF, 4096), VI_SUCCESS);
    EXPECT_EQ(gpibControlREN(serial, VI_GPIB_REN_ADDRESS_GTL), VI_SUCCESS);

    const std::string t = std::to_string(tcpip);
    const std::string s = std::to_string(serial);
    std::vector<std::string> expected = {"open TCPIP0::10.0.0.5::INSTR", "setattr " + t + " 0x3FFF0016 0",
                                         "write " + t + " " + std::to_string(header.size())};
    for (int piece = 0; piece < 4; ++piece) {
        expected.push_back("write " + t + " 1024");
        expected.push_back("flush " + t + " 2");
    }
    for (const char* line : {"write # 904", "flush # 2", "setattr # 0x3FFF0016 1", "flush # 4", "write # 1"}) {
        std::string filled = line;
        filled.replace(filled.find('#'), 1, t);
        expected.push_back(filled);
    }
    for (const std::string& line : std::vector<std::string>{"open ASRL3::INSTR", "setattr " + s + " 0x3FFF0021 19200", "setattr " + s + " 0x3FFF0023 9",
          "setattr " + t + " 0x3FFF0021 9600", "setattr " + s + " 0x3FFF001A 2000", "setbuf " + s + " 3 4096",
          "ren " + s + " 6"})
        expected.push_back(line);
    EXPECT_EQ(logLines(), expected);
}

TEST_F(SimVisa, ReadsBlocksAndRepliesWithinTheTimeOut) {
    {
        RawClient raw(generator_.port());
        ASSERT_TRUE(raw.send(":MMEMory:DATA \"WFM1:up\", #264" + std::string(64, 'u') + "\n"));
        ASSERT_TRUE(generator_.waitForCommands(1, 5s));
    }
    const ViSession session = openSession("GPIB0::19::INSTR");
    // Read back as the upload does: "#", the digit count, the count, the data, then the LF
    // that follows is dropped by a read-buffer flush.
    EXPECT_EQ(printf(session, const_cast<ViString>("%s"), ":MMEM:DATA? \"WFM1:up\"\n"), VI_SUCCESS);
    char head[3] = {};
    ViUInt32 count = 0;
    EXPECT_EQ(bufRead(session, reinterpret_cast<ViPBuf>(head), 2, &count), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(std::string(head, 2), "#2");
    EXPECT_EQ(bufRead(session, reinterpret_cast<ViPBuf>(head), 2, &count), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(std::string(head, 2), "64");
    std::vector<ViByte> data(64);
    EXPECT_EQ(bufRead(session, data.data(), 64, &count), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(data, std::vector<ViByte>(64, 'u'));
    // The instrument wrote the block and its LF at once, so the LF is here to be dropped.
    EXPECT_EQ(flush(session, VI_READ_BUF), VI_SUCCESS);
    EXPECT_EQ(ask(session, "*OPC?"), "1\n");

    // With the termination character on, a read stops after it.
    EXPECT_EQ(setAttribute(session, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(printf(session, const_cast<ViString>("%s"), "*OPC?\n"), VI_SUCCESS);
    char reply[100] = {};
    EXPECT_EQ(bufRead(session, reinterpret_cast<ViPBuf>(reply), sizeof reply, &count), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(std::string(reply, count), "1\n");

    generator_.setFaults(make<sim::Faults>([](auto& o) { o.silent = true; }));
    EXPECT_EQ(setAttribute(session, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(session, "*IDN?", VI_ERROR_TMO), "");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 250ms);
    EXPECT_LT(waited, 3s);
}

TEST_F(SimVisa, ReportsLostConnectionsBadNamesAndMissingSimulator) {
    const ViSession session = openSession("TCPIP0::1.2.3.4::INSTR");
    generator_.setFaults(make<sim::Faults>([](auto& o) { o.dropMidBlock = true; }));
    std::vector<ViByte> data(4096, 'd');
    const std::string header = ":MMEMory:DATA \"WFM1:w\", #44096";
    ViUInt32 written = 0;
    bufWrite(session, reinterpret_cast<ViBuf>(const_cast<char*>(header.data())), static_cast<ViUInt32>(header.size()),
             &written);
    bufWrite(session, data.data(), static_cast<ViUInt32>(data.size()), &written);
    printf(session, const_cast<ViString>("%s"), "*OPC?\n");
    char reply[64] = {};
    const ViStatus status = scanf(session, const_cast<ViString>("%63t"), reply);
    EXPECT_TRUE(status == VI_ERROR_CONN_LOST || status == VI_ERROR_IO) << std::hex << status;
    EXPECT_TRUE(generator_.files().empty());

    ViSession none = VI_NULL;
    for (const char* bad : {"GPIB0::31::INSTR", "GPIB0::abc::INSTR", "USB0::1::2::INSTR", "ASRL::INSTR", "",
                            "TCPIP0::::INSTR", "GPIB0::1::2::3::INSTR"})
        EXPECT_EQ(open(rm_, const_cast<ViRsrc>(bad), VI_NULL, 0, &none), VI_ERROR_INV_RSRC_NAME) << bad;
    EXPECT_EQ(open(session, const_cast<ViRsrc>("GPIB0::1::INSTR"), VI_NULL, 0, &none), VI_ERROR_INV_OBJECT);

    target("10.1.2.3:" + std::to_string(generator_.port()));
    EXPECT_EQ(open(rm_, const_cast<ViRsrc>("GPIB0::19::INSTR"), VI_NULL, 0, &none), VI_ERROR_RSRC_NFOUND);
    const std::uint16_t port = generator_.port();
    generator_.stop();
    target("127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(open(rm_, const_cast<ViRsrc>("GPIB0::19::INSTR"), VI_NULL, 0, &none), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(none, static_cast<ViSession>(VI_NULL));

    char timeoutText[256] = {};
    char notFoundText[256] = {};
    char unknownText[256] = {};
    EXPECT_EQ(statusDesc(rm_, VI_ERROR_TMO, timeoutText), VI_SUCCESS);
    EXPECT_EQ(statusDesc(rm_, VI_ERROR_RSRC_NFOUND, notFoundText), VI_SUCCESS);
    EXPECT_EQ(statusDesc(rm_, static_cast<ViStatus>(0xBFFF1234u), unknownText), VI_SUCCESS);
    EXPECT_STRNE(timeoutText, notFoundText);
    EXPECT_NE(std::string(unknownText).find("BFFF1234"), std::string::npos);

    // Closing the resource manager closes its sessions.
    EXPECT_EQ(close(rm_), VI_SUCCESS);
    EXPECT_EQ(close(session), VI_ERROR_INV_OBJECT);
    rm_ = VI_NULL;
}
