// The instrument I/O dialog on a real window (offscreen): what it shows for a record, what it
// returns for OK, Cancel and closing, the platform's transports, and check hardware.
#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "simulated_instrument.h"
#include "MexIO/instrument_wrappers.h"
#include "host/function_table.h"
#include "host/text.h"
#include "sim/simulated_generator.h"
#include "windows/gui/graphics.h"

using host::Array;
namespace gui = windows::gui;

namespace {

Array record(const char* type, double primary, double secondary) {
    Array c = host::callFunction("SX_SigGen", 1, {Array::string("initConfig")}).front();
    c.setField("type", Array::string(type));
    c.field("GPIB").setField("primary", Array::scalar(primary));
    c.field("GPIB").setField("secondary", Array::scalar(secondary));
    return c;
}

gui::Handle openDialog() {
    const Array children = gui::get(gui::kRoot, "Children");
    for (std::size_t i = 0; i < children.numel(); ++i)
        if (gui::get(children.realAt(i), "Tag").text() == "figureVisaAddress") return children.realAt(i);
    return 0;
}

// Runs the dialog; `act` sees it open and ends it.
std::vector<Array> run(std::vector<Array> args, std::function<void(gui::Handle)> act) {
    QTimer::singleShot(0, [act] { act(openDialog()); });
    return host::callFunction("SX_SigGen", 2, args);
}

double shown(gui::Handle fig, const char* tag) { return gui::get(gui::findByTag(fig, tag), "Value").realAt(0); }
std::string status(gui::Handle fig) { return gui::get(gui::findByTag(fig, "lblStatus"), "String").text(); }
void press(gui::Handle fig, const char* tag) { gui::invokeCallback(gui::findByTag(fig, tag)); }

}  // namespace

TEST(IoDialog, ShowsTheClampedRecordAndReturnsItOnOkThePassedOneOtherwise) {
    const Array passed = record("GPIB", 40, -5);
    double primary = 0, secondary = 0;
    bool gpibShown = false;
    std::vector<Array> got = run({Array::scalar(0), passed}, [&](gui::Handle fig) {
        primary = shown(fig, "pmPrimaryAddress");
        secondary = shown(fig, "pmSecondaryAddress");
        gpibShown = gui::get(gui::findByTag(fig, "configGPIB"), "Visible").text() == "on";
        press(fig, "pbOK");
    });
    EXPECT_EQ(primary, 31);  // address 30
    EXPECT_EQ(secondary, 1);  // none
    EXPECT_TRUE(gpibShown);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].text(), "OK");
    EXPECT_EQ(got[1].field("GPIB").field("primary").realAt(0), 30);
    EXPECT_EQ(got[1].field("GPIB").field("secondary").realAt(0), -1);
    EXPECT_EQ(got[1].field("type").text(), "GPIB");

    got = run({Array::scalar(0), passed}, [](gui::Handle fig) { press(fig, "pbCancel"); });
    EXPECT_EQ(got[0].text(), "Cancel");
    got = run({Array::scalar(0), passed}, [](gui::Handle fig) { gui::windowOf(fig)->close(); });
    EXPECT_EQ(got[0].text(), "Cancel");
    EXPECT_EQ(got[1].field("GPIB").field("primary").realAt(0), 30);
    EXPECT_EQ(openDialog(), 0);
}

TEST(IoDialog, PlatformBOffersRs232GpibAndLanAndRefusesOthers) {
    std::vector<std::string> offered;
    double selected = 0;
    std::string title;
    std::vector<Array> got = run({Array::scalar(0), record("TCPIP", 19, -1), Array::string("b")}, [&](gui::Handle fig) {
        const Array items = gui::get(gui::findByTag(fig, "pmConnection"), "String");
        for (std::size_t i = 0; i < items.numel(); ++i) offered.push_back(items.cellAt(i).text());
        selected = shown(fig, "pmConnection");
        title = gui::get(fig, "Name").text();
        press(fig, "pbOK");
    });
    EXPECT_EQ(offered, (std::vector<std::string>{"RS232", "GPIB", "LAN"}));
    EXPECT_EQ(selected, 2);
    EXPECT_EQ(got[1].field("type").text(), "GPIB");

    got = run({Array::scalar(0), record("GPIB", 19, -1), Array::string("Sig Gen")}, [&](gui::Handle fig) {
        title = gui::get(fig, "Name").text();
        press(fig, "pbCancel");
    });
    EXPECT_EQ(title, "Sig Gen IO Connection");
}

TEST(IoDialog, CheckHardwareWithNothingThereShowsTheFailureInTheStatusLine) {
    setenv("VESK_VISA_LIBRARY", "/nonexistent/libvisa.so", 1);
    std::string line;
    run({Array::scalar(0), record("GPIB", 19, -1)}, [&](gui::Handle fig) {
        press(fig, "pbCheckHardware");
        line = status(fig);
        press(fig, "pbCancel");
    });
    unsetenv("VESK_VISA_LIBRARY");
    EXPECT_EQ(line, "fail loading both visa32.dll and altvisa32.dll");  // the extension's failure, not a success line
}

// The simulated generator on a GPIB address through our VISA library (platform "b" offers no
// TCP/IP): the status line shows what it answered.
TEST(IoDialog, CheckHardwareReportsTheSimulatorsIdentity) {
    std::string line;
    SimulatedInstrument instrument;
    run({Array::scalar(0), record("GPIB", 19, -1), Array::string("b")}, [&](gui::Handle fig) {
        press(fig, "pbCheckHardware");
        line = status(fig);
        press(fig, "pbCancel");
    });
    mexio::vesk(0, {Array::int32Scalar(999)});
    EXPECT_EQ(line.rfind("Succeed\n", 0), 0u) << line;
    EXPECT_NE(line.find("Brevia Simulation"), std::string::npos) << line;
}

// A record in the initial form (as start-ups before the dialog saved it) opens with its
// hand-shake index read through the dialog's list, and comes back on OK as that text; the
// application's start-up gives the same structure form.
TEST(IoDialog, AnInitialFormHandShakeIsTheListsEntry) {
    for (const auto& [index, name] : {std::pair{0.0, "None"}, {1.0, "Xon/Xoff"}, {2.0, "RTS/CTS"}}) {
        Array initial = mexio::initialConfiguration();
        initial.setField("Connection", Array::scalar(1));
        initial.setField("HandShake", Array::scalar(index));
        double entry = 0;
        const std::vector<Array> got = run({Array::scalar(0), initial}, [&](gui::Handle fig) {
            entry = shown(fig, "pmHandShake");
            press(fig, "pbOK");
        });
        EXPECT_EQ(entry, index + 1) << name;
        EXPECT_EQ(got[1].field("RS232").field("handshake").text(), name);
        EXPECT_EQ(got[1].field("type").text(), "RS232");
        EXPECT_EQ(mexio::structuredConfiguration(initial).field("RS232").field("handshake").text(), name);
        EXPECT_FALSE(mexio::structuredConfiguration(initial).hasField("HandShake"));
    }
}

// LAN, the instrument's raw SCPI socket: after the platform's entries, with its own group;
// a record of an older file (no LAN fields) opens with the defaults; Check Hardware reaches
// the simulated generator with no VISA library at all; OK returns the address and the port
// (an int32, as the extension takes it), typed entries rounded and limited, no number kept.
TEST(IoDialog, LanReachesTheInstrumentsSocketWithoutVisa) {
    sim::Options options;
    options.idleTimeout = std::chrono::seconds(60);
    sim::SimulatedGenerator generator(options);
    generator.start();
    setenv("VESK_VISA_LIBRARY", "/nonexistent/libvisa.so", 1);
    Array older = record("GPIB", 19, -1);
    older.removeField("LAN");
    const struct {
        const char* typed;
        double port;
    } ports[] = {{"abc", 0}, {"70000", 65535}, {"5025.5", 5026}, {"-3", 1}, {"", 0}};  // 0: none typed
    for (const auto& p : ports) {
        std::string line, defaults, shownBack;
        bool lanShown = false, gpibShown = true;
        const std::vector<Array> got = run({Array::scalar(0), older, Array::string("b")}, [&](gui::Handle fig) {
            defaults = gui::get(gui::findByTag(fig, "editLANAddress"), "String").text() + ":" +
                       gui::get(gui::findByTag(fig, "editLANPort"), "String").text();
            gui::set(gui::findByTag(fig, "pmConnection"), "Value", Array::scalar(3));
            press(fig, "pmConnection");
            lanShown = gui::get(gui::findByTag(fig, "configLAN"), "Visible").text() == "on";
            gui::set(gui::findByTag(fig, "editLANAddress"), "String", " 127.0.0.1 ");
            gui::set(gui::findByTag(fig, "editLANPort"), "String", std::to_string(generator.port()));
            press(fig, "editLANPort");
            gpibShown = gui::get(gui::findByTag(fig, "configGPIB"), "Visible").text() == "on";
            press(fig, "pbCheckHardware");
            line = status(fig);
            gui::set(gui::findByTag(fig, "editLANPort"), "String", p.typed);
            press(fig, "editLANPort");
            shownBack = gui::get(gui::findByTag(fig, "editLANPort"), "String").text();
            press(fig, "pbOK");
        });
        EXPECT_EQ(defaults, "127.0.0.1:5025");
        EXPECT_TRUE(lanShown);
        EXPECT_FALSE(gpibShown);
        EXPECT_EQ(line.rfind("Succeed\n", 0), 0u) << line;
        EXPECT_NE(line.find("Brevia Simulation"), std::string::npos) << line;
        ASSERT_EQ(got[0].text(), "OK");
        EXPECT_EQ(got[1].field("type").text(), "LAN");
        EXPECT_EQ(got[1].field("LAN").field("address").text(), "127.0.0.1");
        EXPECT_EQ(got[1].field("LAN").field("port").classId(), host::ClassId::Int32);
        // No number keeps what the box held before: the simulator's port.
        const double expected = p.port == 0 ? generator.port() : p.port;
        EXPECT_EQ(got[1].field("LAN").field("port").realAt(0), expected) << p.typed;
        EXPECT_EQ(shownBack, host::num2str(expected)) << p.typed;
    }
    mexio::vesk(0, {Array::int32Scalar(999)});
    unsetenv("VESK_VISA_LIBRARY");
}
