// The application's main window, started once as the program starts it (offscreen): the
// splash's minimum time, the controls' clamps and enable rules, the guarded dispatchers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QLabel>
#include <QComboBox>
#include <QAction>
#include <QAbstractButton>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include <QTimer>
#include <QTableWidget>
#include <QWheelEvent>
#include <functional>

#include <fstream>
#include <memory>
#include <regex>
#include <set>

#include "../MexIO/lan_config.h"
#include "MexIO/instrument_wrappers.h"
#include "OneX/frame_builder.h"
#include "instrument_words.h"
#include "host/mat_file.h"
#include "sim/simulated_generator.h"
#include "OneX/parameters.h"
#include "UI/file_actions.h"
#include "UI/parameter_file.h"
#include "host/dialogs.h"
#include "host/error.h"
#include "host/function_table.h"
#include "host/random.h"
#include "host/records.h"
#include "host/text.h"
#include "windows/gui/graphics.h"

using host::Array;
namespace gui = windows::gui;

namespace {

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The saved configuration goes to the working folder: a scratch one.
        folder_ = std::filesystem::temp_directory_path() / ("brevia_main_window_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_);
        // The program's own start-up, once: its splash is what the first test looks at.
        const auto started = std::chrono::steady_clock::now();
        host::callFunction("OneX_Fwd_GUI_b", 1, std::vector<Array>{});
        startSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const Array children = gui::get(gui::kRoot, "Children");
        for (std::size_t i = 0; i < children.numel(); ++i) splashLeft_ = splashLeft_ || gui::get(children.realAt(i), "Tag").text() == "SX_Splash";
        gui::closeAllFigures();
    }
    static void TearDownTestSuite() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

    // Every test starts from what a new start gives (the default records, a fresh window, an
    // empty working folder) without the splash's three seconds, and leaves nothing open, so
    // that the tests pass in any order and in one process.
    void SetUp() override {
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) std::filesystem::remove_all(entry.path());
        host::setDialogProvider(nullptr);
        host::setLastFolder("");
        for (const char* step : {"InitializeAppInfo", "InitializeConfiguration", "InitializeParameters", "InitializeSigGenSettings"})
            host::callFunction("OneX_Fwd_GUI_b", 0, {Array::string(step)});
        host::record("waveform") = Array();
        host::record("markers") = Array();
        fig_ = host::callFunction("OneX_Fwd_GUI_b", 1, {Array::string("InitializeFigures")}).front().realAt(0);
        const Array handles = gui::guihandles(fig_);
        host::callFunction("OneX_Fwd_GUI_b", 0, {Array::string("InitializeFigure"), handles});
        host::callFunction("OneX_Fwd_GUI_b", 0, {Array::string("redraw"), handles});
        gui::set(fig_, "Visible", "on");
    }
    void TearDown() override {
        host::setDialogProvider(nullptr);
        mexio::vesk(0, {Array::int32Scalar(999)});  // instrument sessions closed
        gui::closeAllFigures();
    }

    static gui::Handle control(const char* tag) { return gui::findByTag(fig_, tag); }
    static std::string text(const char* tag) { return gui::get(control(tag), "String").text(); }
    static double value(const char* tag) { return gui::get(control(tag), "Value").realAt(0); }
    static std::string enable(const char* tag) { return gui::get(control(tag), "Enable").text(); }
    static double parameter(const char* name) { return onex::applicationParameters().field(name).realAt(0); }
    // What the user does: types into a box and leaves it, or picks an item or a check.
    static void enter(const char* tag, const std::string& typed) {
        gui::set(control(tag), "String", typed);
        gui::invokeCallback(control(tag));
    }
    static void choose(const char* tag, double v) {
        gui::set(control(tag), "Value", Array::scalar(v));
        gui::invokeCallback(control(tag));
    }

    static inline gui::Handle fig_ = 0;
    static inline double startSeconds_ = 0;
    static inline bool splashLeft_ = false;
    static inline std::filesystem::path folder_, previous_;
};

}  // namespace

TEST_F(MainWindow, StartsAfterTheSplashsThreeSecondsTitledAndDrawn) {
    EXPECT_GE(startSeconds_, 3.0);
    EXPECT_LT(startSeconds_, 30.0);  // a hang, not a slow machine
    EXPECT_FALSE(splashLeft_);
    EXPECT_EQ(gui::get(fig_, "Visible").text(), "on");
    EXPECT_EQ(gui::get(fig_, "Name").text(), "Veltrac - 1xEV Forward Link");
    EXPECT_EQ(text("txtNumberOfSamples"), "163840 Samples");
    EXPECT_EQ(gui::get(control("pdMode"), "TooltipString").text(), "Selects the format mode.");
    EXPECT_EQ(text("tbArbRefSource"), "Int. Ref");
    EXPECT_TRUE(host::record("figureList").hasField("figSlotSetup"));
    const Array handles = gui::guihandles(fig_);
    for (const char* tag : {"main", "pdMode", "txtOffsetIndex", "chkMACchnActive", "chkDATAchnActive", "pdDATAsourceType",
                            "chkIdleSlotGainActive", "txtIdleSlotGain", "pbSlotSetup", "txtOversampling", "pdFilterType", "chkPhaseEq",
                            "chkMirrorSpectrum", "txtNumberOfSamples", "pbCalculate", "pbDownload", "pbRefresh", "txtEvent1", "txtEvent2",
                            "txtFrequency", "pdFrequencyUnits", "txtAmplitude", "txtSamplingRate", "pdSamplingRateUnits", "pdReconFilter",
                            "chkRFblanking", "tbArbRefSource", "tbMarkerPolarity", "txtWaveformTitle"})
        EXPECT_TRUE(handles.hasField(tag)) << tag;
    EXPECT_EQ(gui::get(control("pdDATAsourceType"), "String").numel() >= 7, true);
    EXPECT_TRUE(host::record("appInfo").field("LastCalcTimeStamp").isEmpty());
    // The connection the instrument calls take, before the I/O dialog has ever run.
    const Array& configuration = host::record("configuration");
    EXPECT_EQ(configuration.field("type").text(), "GPIB");
    EXPECT_EQ(configuration.field("GPIB").field("board").realAt(0), 0);
    EXPECT_EQ(configuration.field("GPIB").field("primary").realAt(0), 19);
    EXPECT_FALSE(configuration.hasField("Connection"));
}

// Numbers are truncated and clamped silently; text with no number in it keeps the value the
// box had and shows it back.
TEST_F(MainWindow, EntriesAreTruncatedAndClampedSilently) {
    const struct {
        const char* tag;
        const char* typed;
        const char* field;
        double stored;
        const char* shown;
    } cases[] = {
        {"txtOffsetIndex", "600", "PilotOffsetIndex", 511, "511"},   {"txtOffsetIndex", "abc", "PilotOffsetIndex", 511, "511"},
        {"txtOffsetIndex", "-3.7", "PilotOffsetIndex", 0, "0"},      {"txtOffsetIndex", "3 700", "PilotOffsetIndex", 511, "511"},
        {"txtIdleSlotGain", "-100", "IdleSlotGain", -80, "-80"},     {"txtIdleSlotGain", "-12.5", "IdleSlotGain", -12.5, "-12.5"},
        {"txtIdleSlotGain", "x", "IdleSlotGain", -12.5, "-12.5"},    {"txtOversampling", "31", "OverSampling", 30, "30"},
        {"txtOversampling", "4.9", "OverSampling", 4, "4"},           {"txtOversampling", "NaN", "OverSampling", 4, "4"},
        {"txtOversampling", "", "OverSampling", 4, "4"},
    };
    for (const auto& c : cases) {
        enter(c.tag, c.typed);
        EXPECT_EQ(parameter(c.field), c.stored) << c.tag << " " << c.typed;
        EXPECT_EQ(text(c.tag), c.shown) << c.tag << " " << c.typed;
    }
    EXPECT_EQ(text("txtNumberOfSamples"), "131072 Samples");
    EXPECT_EQ(host::record("SigGenSettings").field("SamplingRate").realAt(0), 4915200);
    EXPECT_EQ(text("txtSamplingRate"), "4.9152");
    enter("txtOversampling", "31");
    EXPECT_EQ(text("txtNumberOfSamples"), "983040 Samples");
    enter("txtOversampling", "5");
}

TEST_F(MainWindow, EnableRulesFollowTheModeAndTheSwitches) {
    choose("chkIdleSlotGainActive", 0);
    EXPECT_EQ(host::record("SigGenSettings").field("RFblanking").realAt(0), 1);
    EXPECT_EQ(value("chkRFblanking"), 1);
    EXPECT_EQ(enable("txtIdleSlotGain"), "off");
    choose("chkIdleSlotGainActive", 1);
    EXPECT_EQ(host::record("SigGenSettings").field("RFblanking").realAt(0), 0);
    EXPECT_EQ(enable("txtIdleSlotGain"), "on");

    choose("chkDATAchnActive", 0);
    EXPECT_EQ(enable("pdDATAsourceType"), "off");
    choose("chkDATAchnActive", 1);
    EXPECT_EQ(enable("pdDATAsourceType"), "on");

    choose("pdMode", 2);
    for (const char* tag : {"chkMACchnActive", "chkDATAchnActive", "pdDATAsourceType", "chkIdleSlotGainActive", "txtIdleSlotGain"})
        EXPECT_EQ(enable(tag), "off") << tag;
    EXPECT_EQ(value("chkDATAchnActive"), 1);  // still shown
    choose("pdMode", 1);
    for (const char* tag : {"chkMACchnActive", "chkDATAchnActive", "pdDATAsourceType", "chkIdleSlotGainActive", "txtIdleSlotGain"})
        EXPECT_EQ(enable(tag), "on") << tag;
    choose("chkDATAchnActive", 0);
}

TEST_F(MainWindow, ThePanelEditsAndShowsTheGeneratorSettings) {
    const Array& s = host::record("SigGenSettings");
    choose("pdFrequencyUnits", 3);  // 2.2 shown in GHz, now read as MHz
    EXPECT_EQ(s.field("Frequency").realAt(0), 2.2e6);
    EXPECT_EQ(value("pdFrequencyUnits"), 3);
    enter("txtFrequency", "2200");
    EXPECT_EQ(s.field("Frequency").realAt(0), 2.2e9);
    EXPECT_EQ(text("txtFrequency"), "2.2");
    EXPECT_EQ(value("pdFrequencyUnits"), 4);
    enter("txtSamplingRate", "50");
    EXPECT_EQ(s.field("SamplingRate").realAt(0), 4e7);
    enter("txtOversampling", "8");
    EXPECT_EQ(text("txtSamplingRate"), "9.8304");
    EXPECT_EQ(value("pdSamplingRateUnits"), 3);
    enter("txtSamplingRate", text("txtSamplingRate"));  // a box reads back what it shows
    EXPECT_EQ(s.field("SamplingRate").realAt(0), 9830400);
    enter("txtAmplitude", "-140.4");
    EXPECT_EQ(s.field("Amplitude").realAt(0), -136);
    EXPECT_EQ(text("txtAmplitude"), "-136");
    // No number in a box keeps its value, and a frequency its unit.
    enter("txtAmplitude", "-12");
    for (const char* typed : {"abc", "", "NaN"}) {
        enter("txtAmplitude", typed);
        EXPECT_EQ(s.field("Amplitude").realAt(0), -12) << typed;
        EXPECT_EQ(text("txtAmplitude"), "-12") << typed;
        enter("txtFrequency", typed);
        EXPECT_EQ(s.field("Frequency").realAt(0), 2.2e9) << typed;
        EXPECT_EQ(value("pdFrequencyUnits"), 4) << typed;
        enter("txtSamplingRate", typed);
        EXPECT_EQ(s.field("SamplingRate").realAt(0), 9830400) << typed;
        EXPECT_EQ(text("txtSamplingRate"), "9.8304") << typed;
    }
    enter("txtWaveformTitle", "my wave 1.bin");
    EXPECT_EQ(s.field("Title").text(), "MYWAVE1BIN");
    EXPECT_EQ(text("txtWaveformTitle"), "MYWAVE1BIN");
    choose("tbArbRefSource", 1);
    EXPECT_EQ(s.field("ArbRefSource").realAt(0), 1);
    EXPECT_EQ(text("tbArbRefSource"), "Ext. Ref");
    choose("tbMarkerPolarity", 1);
    EXPECT_EQ(text("tbMarkerPolarity"), "- Mkrs");
    choose("pdReconFilter", 3);
    EXPECT_EQ(s.field("ReconFilter").realAt(0), 3);
    choose("chkRFblanking", 1);
    EXPECT_EQ(s.field("RFblanking").realAt(0), 1);
}

TEST_F(MainWindow, DispatchersPrintErrorsAndKeepTheWindowUsable) {
    const double mode = parameter("Mode");
    for (const char* module : {"OneX_Fwd_GUI_b", "rfCommonUI", "Orvexconfig"}) {
        testing::internal::CaptureStderr();
        EXPECT_NO_THROW(host::callFunction(module, 0, {Array::string("noSuchAction")}));
        EXPECT_NE(testing::internal::GetCapturedStderr().find("noSuchAction"), std::string::npos) << module;
        EXPECT_TRUE(text("txtStatusError").starts_with("Error at ")) << text("txtStatusError");
        EXPECT_NE(text("txtStatusError").find("'noSuchAction' in " + std::string(module)), std::string::npos) << text("txtStatusError");
        EXPECT_NO_THROW(host::callFunction(module, 0, {Array::scalar(3)}));  // not text: nothing happens
    }
    EXPECT_EQ(parameter("Mode"), mode);
    EXPECT_THROW(host::callFunction("OneX_Fwd_b", 0, {Array::scalar(1)}), host::Error);  // takes no arguments
    EXPECT_EQ(gui::get(fig_, "Visible").text(), "on");
}

// Configuration > Sig Gen I/O: the address chosen in the dialog is the configuration, saved
// at exit for the next start.
TEST_F(MainWindow, TheConnectionChosenInTheDialogIsSavedAtExit) {
    QTimer::singleShot(0, [] {
        const Array children = gui::get(gui::kRoot, "Children");
        for (std::size_t i = 0; i < children.numel(); ++i)
            if (gui::get(children.realAt(i), "Tag").text() == "figureVisaAddress") {
                const gui::Handle dialog = children.realAt(i);
                gui::set(gui::findByTag(dialog, "pmPrimaryAddress"), "Value", Array::scalar(5));
                gui::invokeCallback(gui::findByTag(dialog, "pbOK"));
            }
    });
    gui::invokeCallback(gui::findByTag(fig_, "menuConfigSigGenIO"));
    EXPECT_EQ(host::record("configuration").field("GPIB").field("primary").realAt(0), 4);
    gui::invokeCallback(gui::findByTag(fig_, "menuFileExit"));
    const Array saved = ui::loadConfig((folder_ / "rfIOConfig.mat").string());
    EXPECT_EQ(saved.field("GPIB").field("primary").realAt(0), 4);
}

// The slot button: the dialog edits a copy; only OK brings it into the parameter set.
TEST_F(MainWindow, TheSlotDialogChangesTheSlotsOnlyOnOk) {
    const Array before = onex::applicationParameters().field("slot");
    auto runSlotDialog = [&](std::function<void(gui::Handle)> act) {
        QTimer::singleShot(0, [act] { act(host::record("figureList").field("figSlotSetup").realAt(0)); });
        gui::invokeCallback(control("pbSlotSetup"));
    };
    auto edit = [](gui::Handle dialog, const char* tag, const char* typed) {
        const gui::Handle h = gui::findByTag(dialog, tag);
        gui::set(h, "String", typed);
        gui::invokeCallback(h);
    };
    std::string shownGain, listEnabled;
    for (const char* closing : {"pbCancel", "close"}) {
        runSlotDialog([&](gui::Handle dialog) {
            edit(dialog, "txtRAslotGain3", "12.6");
            if (std::string(closing) == "close") gui::windowOf(dialog)->close();
            else gui::invokeCallback(gui::findByTag(dialog, closing));
        });
        EXPECT_EQ(onex::applicationParameters().field("slot"), before) << closing;
    }
    std::string styleWhileOpen, visibleAfterSecondPress;
    runSlotDialog([&](gui::Handle dialog) {
        edit(dialog, "txtRAslotGain3", "12.6");
        // The button pressed again while the dialog is up (modal, so only a program can) does
        // nothing: the edit stays and the dialog stays up.
        styleWhileOpen = gui::get(dialog, "WindowStyle").text();
        gui::invokeCallback(control("pbSlotSetup"));
        visibleAfterSecondPress = gui::get(dialog, "Visible").text();
        shownGain = gui::get(gui::findByTag(dialog, "txtRAslotGain3"), "String").text();
        const gui::Handle traffic = gui::findByTag(dialog, "chkDATAslotActive3");
        gui::set(traffic, "Value", Array::scalar(0));
        gui::invokeCallback(traffic);
        listEnabled = gui::get(gui::findByTag(dialog, "lstDATAslotMod3"), "Enable").text();
        gui::invokeCallback(gui::findByTag(dialog, "pbOK"));
    });
    EXPECT_EQ(styleWhileOpen, "modal");
    EXPECT_EQ(visibleAfterSecondPress, "on");
    EXPECT_EQ(shownGain, "13");
    EXPECT_EQ(listEnabled, "off");
    const Array& slot = onex::applicationParameters().field("slot");
    EXPECT_EQ(slot.field("RAslotGain").realAt(2), 13);
    EXPECT_EQ(slot.field("DATAslotActive").realAt(2), 0);
    EXPECT_EQ(slot.field("RAslotGain").realAt(3), before.field("RAslotGain").realAt(3));
    EXPECT_EQ(gui::get(host::record("figureList").field("figSlotSetup").realAt(0), "Visible").text(), "off");
}

// Slot 3's RPC button opens the RPC dialog on that slot's rows; scrolled to the bottom the
// rows edit channels 44 to 59; its OK reaches the slot dialog's copy, whose Cancel still
// loses it, and whose OK brings exactly that slot's rows into the parameter set.
TEST_F(MainWindow, TheRpcDialogEditsOneSlotsChannelsThroughBothOks) {
    const gui::Handle slotDialog = host::record("figureList").field("figSlotSetup").realAt(0);
    const gui::Handle rpcDialog = host::record("figureList").field("figRPCsetup").realAt(0);
    choose("chkMACchnActive", 1);
    host::seedRandom(5);
    onex::Calculate();
    const Array waveformBefore = host::record("waveform");
    const Array before = onex::applicationParameters().field("slot");
    std::string title, label, mac;
    auto rpcEdits = [&] {
        title = gui::get(rpcDialog, "Name").text();
        const gui::Handle slider = gui::findByTag(rpcDialog, "sldrScrollbar");
        gui::set(slider, "Value", Array::scalar(0));
        gui::invokeCallback(slider);
        label = gui::get(gui::findByTag(rpcDialog, "txtRPCchn1"), "String").text();
        mac = gui::get(gui::findByTag(rpcDialog, "txtMACindex1"), "String").text();
        const gui::Handle active = gui::findByTag(rpcDialog, "chkRPCchnActive16");
        gui::set(active, "Value", Array::scalar(1));
        gui::invokeCallback(active);
        const gui::Handle gain = gui::findByTag(rpcDialog, "txtRPCchnGain16");
        gui::set(gain, "String", "-31.2");
        gui::invokeCallback(gain);
        gui::invokeCallback(gui::findByTag(rpcDialog, "pbOK"));
    };
    for (const char* slotAnswer : {"pbCancel", "pbOK"}) {
        QTimer::singleShot(0, [&, slotAnswer] {
            QTimer::singleShot(0, rpcEdits);
            gui::invokeCallback(gui::findByTag(slotDialog, "pbPRCslotSetup3"));
            gui::invokeCallback(gui::findByTag(slotDialog, slotAnswer));
        });
        gui::invokeCallback(control("pbSlotSetup"));
        if (std::string(slotAnswer) == "pbCancel") {
            EXPECT_EQ(onex::applicationParameters().field("slot"), before);
        }
    }
    EXPECT_EQ(title, "RPC Setup: Slot #3");
    EXPECT_EQ(label, "43");
    EXPECT_EQ(mac, "48");
    const Array& slot = onex::applicationParameters().field("slot");
    auto at = [](const Array& m, std::size_t s, std::size_t c) { return m.pr()[c * m.rows() + s]; };
    EXPECT_EQ(at(slot.field("RPCslotGain"), 2, 58), -30);
    EXPECT_EQ(at(slot.field("RPCslotActive"), 2, 58), 1);
    for (std::size_t s : {0, 1, 3, 15}) EXPECT_EQ(at(slot.field("RPCslotGain"), s, 58), at(before.field("RPCslotGain"), s, 58)) << s;
    // The scroll position stays for the next run.
    EXPECT_EQ(host::record("scrollIndex").realAt(0), 43);
    // The next frame carries the new channel, exactly as the frame builder makes it.
    host::seedRandom(5);
    onex::Calculate();
    const Array after = host::record("waveform");
    EXPECT_FALSE(after == waveformBefore);
    host::seedRandom(5);
    const onex::FrameArrays expected = onex::OneX_FwdChnFrameArrays(onex::frameInputsFromParameters(onex::applicationParameters()));
    EXPECT_TRUE(after == expected.waveform);
}

// The wheel over the rows scrolls them down a channel a notch, as over the slider.
TEST_F(MainWindow, TheWheelOverTheRpcRowsScrollsThem) {
    const gui::Handle rpcDialog = host::record("figureList").field("figRPCsetup").realAt(0);
    double scrolled = -1;
    std::string firstLabel;
    QTimer::singleShot(0, [&] {
        QWidget* row = gui::widgetOf(gui::findByTag(rpcDialog, "txtRPCchnGain5"));
        QWheelEvent down(QPointF(5, 5), row->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(row, &down);
        QApplication::processEvents();
        QApplication::processEvents();
        scrolled = host::record("scrollIndex").realAt(0);
        firstLabel = gui::get(gui::findByTag(rpcDialog, "txtRPCchn1"), "String").text();
        gui::invokeCallback(gui::findByTag(rpcDialog, "pbCancel"));
    });
    host::callFunction("OneX_Fwd_GUI_RPCsetup", 2, {Array::scalar(rpcDialog)});
    EXPECT_GT(scrolled, 0);
    EXPECT_EQ(firstLabel, host::num2str(scrolled));
}

// Calculate: the frame, the time stamp and the copy of the settings; a failed calculation
// leaves the bookkeeping as it was and says why in a box.
TEST_F(MainWindow, CalculateKeepsTheFrameAndItsSettings) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>();
    host::setDialogProvider(dialogs);
    gui::invokeCallback(control("pbCalculate"));
    const Array& info = host::record("appInfo");
    EXPECT_EQ(host::record("waveform").numel(), 163840u);
    ASSERT_EQ(info.field("LastCalcTimeStamp").numel(), 6u);
    EXPECT_GE(info.field("LastCalcTimeStamp").realAt(0), 2024);
    EXPECT_EQ(info.field("LastCaluclatedParameterSet"), onex::applicationParameters());
    EXPECT_EQ(gui::get(fig_, "Pointer").text(), "arrow");
    EXPECT_TRUE(dialogs->asked().empty());
    EXPECT_TRUE(std::regex_match(text("txtStatusCalculation"), std::regex(R"(Calculated at \d\d:\d\d:\d\d in \d+\.\d\d s: 163840 samples)")))
        << text("txtStatusCalculation");
    EXPECT_EQ(gui::get(control("txtStatusCalculation"), "Visible").text(), "on");
    EXPECT_EQ(gui::get(control("txtStatusError"), "Visible").text(), "off");  // nothing to say yet

    const Array stamp = info.field("LastCalcTimeStamp");
    onex::applicationParameters().setField("FilterType", Array::string("bad"));
    testing::internal::CaptureStderr();
    gui::invokeCallback(control("pbCalculate"));
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(console.empty());
    ASSERT_EQ(dialogs->asked().size(), 1u);
    EXPECT_EQ(dialogs->asked()[0].title, "Calculation Failed");
    EXPECT_NE(console.find(dialogs->asked()[0].text), std::string::npos);  // the box says what the console says
    EXPECT_EQ(info.field("LastCalcTimeStamp"), stamp);
    EXPECT_EQ(info.field("LastCaluclatedParameterSet").field("FilterType").realAt(0), 3);
    EXPECT_EQ(gui::get(fig_, "Pointer").text(), "arrow");
    EXPECT_TRUE(text("txtStatusError").starts_with("Calculation failed at ")) << text("txtStatusError");
    const std::string why = dialogs->asked()[0].text;
    EXPECT_NE(text("txtStatusError").find(why.substr(0, why.find('\n'))), std::string::npos) << text("txtStatusError");
    host::setDialogProvider(nullptr);
}

// Every action that recalculates stops where the calculation failed: nothing is plotted,
// saved or sent, and the box says why. A module that never reached its Calculate is a failure
// too. A question closed or escaped ("") is a Cancel, whichever box asked it.
TEST_F(MainWindow, AFailedCalculationOrAClosedQuestionStopsTheAction) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(
        std::deque<std::string>{"", "Calculate & Plot", "Calculate & Download", "Calculate & Save", "Calculate & Plot", "", "", "Recalc & Plot"});
    host::setDialogProvider(dialogs);
    Array& configuration = host::record("configuration");
    configuration.setField("type", Array::string("LAN"));  // nothing listens there: a download attempted would fail
    Array nowhere = Array::structure();
    nowhere.setField("address", Array::string("127.0.0.1"));
    nowhere.setField("port", Array::scalar(1));
    configuration.setField("LAN", nowhere);
    const std::string wave = (folder_ / "never.txt").string();
    auto titles = [&] {
        std::vector<std::string> t;
        for (const auto& a : dialogs->asked()) t.push_back(a.title);
        return t;
    };

    gui::invokeCallback(gui::findByTag(fig_, "menuPlotCCDF"));  // "": nothing, not even a calculation
    EXPECT_TRUE(host::record("appInfo").field("LastCalcTimeStamp").isEmpty());

    onex::applicationParameters().setField("FilterType", Array::string("bad"));
    gui::invokeCallback(gui::findByTag(fig_, "menuPlotCCDF"));
    gui::invokeCallback(control("pbDownload"));
    dialogs->queueFile(host::FileChoice{folder_.string() + "/", "never.txt"});
    gui::invokeCallback(gui::findByTag(fig_, "menuSpecialSaveWave"));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Waveform Not Calculated", "Waveform Not Calculated", "Calculation Failed",
                                                  "Waveform Not Calculated", "Calculation Failed", "Waveform Not Calculated",
                                                  "Calculation Failed"}));
    EXPECT_EQ(host::record("appInfo").field("ClientWindows").numel(), 0u);
    EXPECT_FALSE(std::filesystem::exists(wave));

    // The application module named no Calculate of its own.
    onex::InitializeParameters();
    Array& info = host::record("appInfo");
    const Array module = info.field("ApplicationFunction");
    info.setField("ApplicationFunction", Array::string("Orvexconfig"));
    testing::internal::CaptureStderr();
    gui::invokeCallback(gui::findByTag(fig_, "menuPlotCCDF"));
    testing::internal::GetCapturedStderr();
    info.setField("ApplicationFunction", module);
    EXPECT_EQ(dialogs->asked().back().title, "Calculation Failed");
    EXPECT_NE(dialogs->asked().back().text.find("did not run"), std::string::npos);
    EXPECT_TRUE(info.field("LastCalcTimeStamp").isEmpty());

    // Stale: closing either question neither plots nor recalculates.
    gui::invokeCallback(control("pbCalculate"));
    const Array stamp = info.field("LastCalcTimeStamp");
    enter("txtOversampling", "2");
    gui::invokeCallback(gui::findByTag(fig_, "menuPlotCCDF"));  // ""
    gui::invokeCallback(control("pbDownload"));                   // ""
    EXPECT_EQ(info.field("LastCalcTimeStamp"), stamp);
    EXPECT_EQ(info.field("ClientWindows").numel(), 0u);
    EXPECT_EQ(dialogs->asked().back().title, "Waveform Not Recalculated");
    gui::invokeCallback(gui::findByTag(fig_, "menuPlotCCDF"));  // Recalc & Plot
    EXPECT_EQ(info.field("ClientWindows").numel(), 1u);
    EXPECT_EQ(host::record("waveform").numel(), 65536u);
    EXPECT_EQ(gui::get(fig_, "Pointer").text(), "arrow");
    host::setDialogProvider(nullptr);
}

// A plot before any calculation offers to calculate first; after a change, to recalculate;
// Cancel plots nothing. Each plot window is remembered for shutdown.
TEST_F(MainWindow, PlotsAskForAFreshWaveformFirst) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Calculate & Plot", "Cancel", "Recalc & Plot"});
    host::setDialogProvider(dialogs);
    const gui::Handle spectrum = gui::findByTag(fig_, "menuPlotSpectrum"), ccdf = gui::findByTag(fig_, "menuPlotCCDF");
    gui::invokeCallback(spectrum);
    EXPECT_EQ(host::record("appInfo").field("ClientWindows").numel(), 1u);
    EXPECT_EQ(host::record("appInfo").field("LastCalcTimeStamp").numel(), 6u);
    enter("txtOversampling", "2");
    gui::invokeCallback(ccdf);  // Cancel
    EXPECT_EQ(host::record("appInfo").field("ClientWindows").numel(), 1u);
    gui::invokeCallback(ccdf);  // Recalc & Plot
    EXPECT_EQ(host::record("appInfo").field("ClientWindows").numel(), 2u);
    EXPECT_EQ(host::record("waveform").numel(), 65536u);
    ASSERT_EQ(dialogs->asked().size(), 3u);
    EXPECT_EQ(dialogs->asked()[0].title, "Waveform Not Calculated");
    EXPECT_EQ(dialogs->asked()[1].title, "Waveform Not Recalculated");
    const gui::Handle plotWindow = host::record("appInfo").field("ClientWindows").realAt(1);
    EXPECT_NE(gui::get(plotWindow, "Name").text().find("1xEV Forward Link ("), std::string::npos);
    gui::invokeCallback(gui::findByTag(fig_, "menuFileExit"));
    EXPECT_FALSE(gui::isValid(plotWindow));  // closed at shutdown
    host::setDialogProvider(nullptr);
}

TEST_F(MainWindow, ClosingTheWindowFrameIsExit) {
    gui::windowOf(fig_)->close();
    EXPECT_FALSE(gui::isValid(fig_));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "rfIOConfig.mat"));
}

TEST_F(MainWindow, ExitSavesTheConfigurationAndClosesTheWindow) {
    // The File menu's last item, as the user picks it.
    const Array menus = gui::get(fig_, "Children");
    gui::Handle exit = 0;
    for (std::size_t i = 0; i < menus.numel(); ++i)
        if (gui::get(menus.realAt(i), "Tag").text() == "menuFile") exit = gui::findByTag(menus.realAt(i), "menuFileExit");
    if (!exit) exit = gui::findByTag(fig_, "menuFileExit");
    ASSERT_NE(exit, 0);
    gui::invokeCallback(exit);
    EXPECT_FALSE(gui::isValid(fig_));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "rfIOConfig.mat"));
}

// File > Save As, Save, New and Open as the user goes through them: the title follows the
// file, Open brings back exactly what was saved, a file that is not one changes nothing, and
// the export prefix exports the waveform instead.
TEST_F(MainWindow, FilesSaveOpenNewAndExportThroughTheMenus) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"MAT", "Recalc & Save"});
    host::setDialogProvider(dialogs);
    const std::string folder = folder_.string() + "/";
    auto pick = [&](const char* tag, std::optional<host::FileChoice> file) {
        dialogs->queueFile(std::move(file));
        gui::invokeCallback(gui::findByTag(fig_, tag));
    };
    enter("txtOversampling", "8");
    pick("menuFileSaveAs", host::FileChoice{folder, "setup"});
    EXPECT_EQ(gui::get(fig_, "Name").text(), "Veltrac - 1xEV Forward Link : " + folder + "setup.mat");
    enter("txtOversampling", "3");
    gui::invokeCallback(gui::findByTag(fig_, "menuFileSave"));  // to the same file, without asking
    const Array saved = onex::applicationParameters();
    EXPECT_EQ(ui::readParameterFile(folder + "setup.mat", onex::kParameterFileFormatId).parameters, saved);

    gui::invokeCallback(gui::findByTag(fig_, "menuFileNew"));
    EXPECT_EQ(gui::get(fig_, "Name").text(), "Veltrac - 1xEV Forward Link");
    EXPECT_EQ(text("txtOversampling"), "5");
    pick("menuFileOpen", host::FileChoice{folder, "setup"});  // the extension is added
    EXPECT_EQ(onex::applicationParameters(), saved);
    EXPECT_EQ(text("txtOversampling"), "3");
    EXPECT_EQ(text("txtSamplingRate"), "3.6864");
    EXPECT_EQ(gui::get(fig_, "Name").text(), "Veltrac - 1xEV Forward Link : " + folder + "setup.mat");

    std::ofstream(folder + "notes.mat") << "not a parameter file";
    pick("menuFileOpen", host::FileChoice{folder, "notes.mat"});
    EXPECT_EQ(dialogs->asked().back().title, "Error Loading File");
    EXPECT_EQ(onex::applicationParameters(), saved);
    EXPECT_EQ(gui::get(fig_, "Name").text(), "Veltrac - 1xEV Forward Link : " + folder + "setup.mat");
    const std::size_t shown = dialogs->asked().size();
    pick("menuFileOpen", std::nullopt);  // cancelled
    EXPECT_EQ(dialogs->asked().size(), shown + 1);

    // The export prefix: the waveform (as it is) under the rest of the name; the prefix alone
    // is a parameter file name.
    gui::invokeCallback(control("pbCalculate"));
    pick("menuFileSaveAs", host::FileChoice{folder, "qorvath.wave"});
    EXPECT_EQ(host::loadMatFile(folder + "wave").field("samples").numel(), 98304u);
    EXPECT_EQ(gui::get(fig_, "Name").text(), "Veltrac - 1xEV Forward Link : " + folder + "setup.mat");
    pick("menuFileSaveAs", host::FileChoice{folder, "qorvath."});
    EXPECT_TRUE(std::filesystem::exists(folder + "qorvath..mat"));
    // A Save As that fails keeps the window's file: the title, and where the next Save goes.
    const std::string title = gui::get(fig_, "Name").text();
    pick("menuFileSaveAs", host::FileChoice{folder + "gone/", "setup"});
    EXPECT_EQ(dialogs->asked().back().title, "Error Saving " + folder + "gone/setup.mat");
    EXPECT_EQ(gui::get(fig_, "Name").text(), title);

    // Special > Save Wave after a change offers to recalculate first.
    enter("txtOversampling", "2");
    pick("menuSpecialSaveWave", host::FileChoice{folder, "wave.txt"});
    const Array special = host::loadMatFile(folder + "wave.txt");
    EXPECT_EQ(special.field("samplePoints").realAt(0), 65536);
    EXPECT_EQ(special.field("sampleRate").realAt(0), 2457600);
    EXPECT_EQ(special.field("wave").cols(), 2u);
    pick("menuSpecialSaveWave", host::FileChoice{folder + "gone/", "wave.txt"});
    EXPECT_EQ(dialogs->asked().back().title, "Error Saving " + folder + "gone/wave.txt");
    EXPECT_EQ(gui::get(fig_, "Pointer").text(), "arrow");
    host::setDialogProvider(nullptr);
}

// The traffic data source "user file": the bits of the file chosen; cancelling or a file
// that cannot be read puts the list back.
TEST_F(MainWindow, TheUserDataFileIsTheTrafficSourceOnlyWhenRead) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>();
    host::setDialogProvider(dialogs);
    const std::string folder = folder_.string() + "/";
    std::ofstream(folder + "bits.bin", std::ios::binary) << '\x01';
    dialogs->queueFile(std::nullopt);
    dialogs->queueFile(host::FileChoice{folder, "none.bin"});
    dialogs->queueFile(host::FileChoice{folder, "bits.bin"});
    for (int attempt = 0; attempt < 2; ++attempt) {
        choose("pdDATAsourceType", 7);
        EXPECT_EQ(parameter("DATAsourceType"), 6) << attempt;
        EXPECT_EQ(value("pdDATAsourceType"), 6) << attempt;
    }
    EXPECT_EQ(dialogs->asked().back().title, "File Error");
    choose("pdDATAsourceType", 7);
    EXPECT_EQ(parameter("DATAsourceType"), 7);
    EXPECT_EQ(onex::applicationParameters().field("dataSourceBitstream"), Array::row(std::vector<double>{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(onex::applicationParameters().field("LastPath").text(), folder);
    host::setDialogProvider(nullptr);
}

// Download and Refresh against the simulated generator on its raw socket: Cancel sends
// nothing; the download leaves the waveform byte for byte and plays it with the panel's
// settings; a lost instrument gets the failure's box.
TEST_F(MainWindow, DownloadAndRefreshTellHowTheyWent) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Cancel", "Calculate & Download"});
    host::setDialogProvider(dialogs);
    setenv("BREVIA_CORRECTIONS_DIR", folder_.c_str(), 1);  // no correction files there
    sim::Options o;
    o.idleTimeout = std::chrono::seconds(60);
    auto simulator = std::make_unique<sim::SimulatedGenerator>(o);
    simulator->start();
    const Array lan = lanConfig(simulator->port());
    Array& configuration = host::record("configuration");
    configuration.setField("type", lan.field("type"));
    configuration.setField("LAN", lan.field("LAN"));
    const auto settle = [&] { mexio::hwQuery(configuration, "*OPC?"); };

    gui::invokeCallback(control("pbDownload"));  // Cancel
    EXPECT_TRUE(simulator->commands().empty());
    enter("txtAmplitude", "-12");
    gui::invokeCallback(control("pbDownload"));  // Calculate & Download
    ASSERT_EQ(dialogs->asked().size(), 3u);
    EXPECT_EQ(dialogs->asked()[1].title, "Waveform Not Calculated");
    EXPECT_EQ(dialogs->asked()[2].title, "Download Completed");
    EXPECT_EQ(dialogs->asked()[2].text, "Waveform has been successfully transferred to the instrument");
    EXPECT_TRUE(std::regex_match(text("txtStatusInstrument"),
                                 std::regex(R"(Download at \d\d:\d\d:\d\d: Waveform has been successfully transferred to the instrument)")))
        << text("txtStatusInstrument");
    settle();
    const auto files = simulator->files();
    ASSERT_TRUE(files.count("WFM1:OneX-Fwd"));
    EXPECT_TRUE(files.at("WFM1:OneX-Fwd") == reference::corvaneIq(host::record("waveform")));
    EXPECT_EQ(simulator->settings().at("power"), "-12dbm");
    EXPECT_EQ(simulator->settings().at("sampleClock"), "6144000Hz");
    EXPECT_EQ(gui::get(fig_, "Pointer").text(), "arrow");

    enter("txtFrequency", "1.9");
    gui::invokeCallback(control("pbRefresh"));
    settle();
    EXPECT_EQ(simulator->settings().at("frequency"), "1900000000Hz");
    // Settings as a parameter file may hold them go out with a decimal point, in any locale.
    host::record("SigGenSettings").setField("Amplitude", Array::scalar(-12.5));
    host::record("SigGenSettings").setField("Frequency", Array::scalar(1234567890.5));
    gui::invokeCallback(control("pbRefresh"));
    settle();
    EXPECT_EQ(simulator->settings().at("power"), "-12.5dbm");
    EXPECT_EQ(simulator->settings().at("frequency"), "1234567890.5Hz");
    EXPECT_EQ(dialogs->asked().size(), 3u);  // no box

    mexio::vesk(0, {Array::int32Scalar(999)});
    simulator->stop();
    gui::invokeCallback(control("pbDownload"));
    EXPECT_EQ(dialogs->asked().back().title, "Error Occured During Waveform Download");
    EXPECT_FALSE(dialogs->asked().back().text.empty());
    gui::invokeCallback(control("pbRefresh"));
    EXPECT_EQ(dialogs->asked().back().title, "Error Occured During Instrument Setup");
    EXPECT_TRUE(text("txtStatusInstrument").starts_with("Refresh failed at ")) << text("txtStatusInstrument");
    EXPECT_NE(text("txtStatusInstrument").find("cannot be reached"), std::string::npos) << text("txtStatusInstrument");
    unsetenv("BREVIA_CORRECTIONS_DIR");
    host::setDialogProvider(nullptr);
}

// Plot > Signal Quality: the figures of the waveform as calculated, with the channels the
// parameters set, in a window closed at shutdown like the other plots.
TEST_F(MainWindow, TheSignalQualityWindowShowsTheFrameItsSetMade) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Calculate & Plot", "Yes"});
    host::setDialogProvider(dialogs);
    choose("chkMACchnActive", 1);
    gui::invokeCallback(gui::findByTag(fig_, "menuPlotSignalQuality"));
    ASSERT_EQ(host::record("appInfo").field("ClientWindows").numel(), 1u);
    const gui::Handle window = host::record("appInfo").field("ClientWindows").realAt(0);
    auto* table = gui::windowOf(window)->findChild<QTableWidget*>("tblSignalQuality");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->item(0, 0)->text().toStdString(), "Waveform quality rho");
    const double rho = table->item(0, 1)->text().toDouble();
    EXPECT_GT(rho, 0.9999);  // the 14-bit converter grid is all that is not ideal
    EXPECT_LE(rho, 1.0);
    // A change after the calculation: "Yes" measures the frame as it was made, against the
    // set it was made from, so it still measures as ideal.
    enter("txtOffsetIndex", "200");
    gui::invokeCallback(gui::findByTag(fig_, "menuPlotSignalQuality"));
    ASSERT_EQ(host::record("appInfo").field("ClientWindows").numel(), 2u);
    auto* second = gui::windowOf(host::record("appInfo").field("ClientWindows").realAt(1))->findChild<QTableWidget*>("tblSignalQuality");
    EXPECT_GT(second->item(0, 1)->text().toDouble(), 0.9999);
    gui::invokeCallback(gui::findByTag(fig_, "menuFileExit"));
    EXPECT_FALSE(gui::isValid(window));
    host::setDialogProvider(nullptr);
}

// The eye diagram's answers: text with no number in it is taken as the default answer, so
// "abc" and "NaN" draw the same eye as "1" and "0"; a real answer changes it.
TEST_F(MainWindow, EyeDiagramAnswersWithoutANumberAreTheirDefaults) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Calculate & Plot"});
    host::setDialogProvider(dialogs);
    auto eyeLimits = [&](std::vector<std::string> answers) {
        dialogs->queueInput(std::move(answers));
        gui::invokeCallback(gui::findByTag(fig_, "menuPlotEyeDiagram"));
        const Array& windows = host::record("appInfo").field("ClientWindows");
        if (windows.isEmpty()) return std::vector<double>{};
        for (gui::Handle child : gui::childrenOf(windows.realAt(windows.numel() - 1)))
            if (gui::kindOf(child) == gui::Kind::Axes) {
                const Array x = gui::get(child, "XLim");
                return std::vector<double>{x.realAt(0), x.realAt(1)};
            }
        return std::vector<double>{};
    };
    const std::vector<double> defaults = eyeLimits({"1", "0"});
    ASSERT_EQ(defaults.size(), 2u);
    EXPECT_EQ(eyeLimits({"abc", "NaN"}), defaults);
    EXPECT_EQ(eyeLimits({"1", "NaN"}), defaults);
    EXPECT_EQ(eyeLimits({"", ""}), defaults);
    EXPECT_NE(eyeLimits({"3", "0"}), defaults);
    EXPECT_EQ(host::record("appInfo").field("ClientWindows").numel(), 5u);
    host::setDialogProvider(nullptr);
}

// Settings a parameter file holds reach the window, and so the instrument, only within the
// panel's ranges: out-of-range values are limited (fractions kept), a switch or list value
// taken as the instrument would read it, a title it could not store cleaned; a setting
// that is no number refuses the file.
TEST_F(MainWindow, OpeningAFileLimitsItsGeneratorSettings) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>();
    host::setDialogProvider(dialogs);
    const std::string folder = folder_.string() + "/";
    Array settings = host::record("SigGenSettings");
    settings.setField("Amplitude", Array::scalar(50));
    settings.setField("Frequency", Array::scalar(1234567890.5));
    settings.setField("ReconFilter", Array::scalar(7));
    settings.setField("Title", Array::string("a\"b"));
    ASSERT_TRUE(ui::saveParameters(folder + "hot.mat", onex::applicationParameters(), settings));
    dialogs->queueFile(host::FileChoice{folder, "hot.mat"});
    testing::internal::CaptureStderr();
    gui::invokeCallback(gui::findByTag(fig_, "menuFileOpen"));
    const std::string console = testing::internal::GetCapturedStderr();
    const Array& s = host::record("SigGenSettings");
    EXPECT_EQ(s.field("Amplitude").realAt(0), 20);
    EXPECT_EQ(s.field("Frequency").realAt(0), 1234567890.5);
    EXPECT_EQ(s.field("ReconFilter").realAt(0), 4);
    EXPECT_EQ(s.field("Title").text(), "AB");
    EXPECT_EQ(text("txtAmplitude"), "20");
    EXPECT_EQ(value("pdReconFilter"), 4);
    EXPECT_NE(console.find("Amplitude 50 dBm limited to 20 dBm"), std::string::npos) << console;

    settings.setField("Frequency", Array::scalar(std::nan("")));
    ASSERT_TRUE(ui::saveParameters(folder + "nan.mat", onex::applicationParameters(), settings));
    dialogs->queueFile(host::FileChoice{folder, "nan.mat"});
    gui::invokeCallback(gui::findByTag(fig_, "menuFileOpen"));
    EXPECT_EQ(dialogs->asked().back().title, "Error Loading File");
    EXPECT_EQ(s.field("Frequency").realAt(0), 1234567890.5);  // unchanged
    host::setDialogProvider(nullptr);
}

// The Save As export prefix writes the waveform only once it matches the settings, asking as
// Save Wave asks: Cancel writes nothing, Recalc & Save writes the new frame.
TEST_F(MainWindow, TheExportPrefixAsksForAFreshWaveform) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Cancel", "Recalc & Save", "MAT"});
    host::setDialogProvider(dialogs);
    const std::string folder = folder_.string() + "/";
    gui::invokeCallback(control("pbCalculate"));
    enter("txtOversampling", "2");
    for (int attempt = 0; attempt < 2; ++attempt) {
        dialogs->queueFile(host::FileChoice{folder, "qorvath.fresh"});
        gui::invokeCallback(gui::findByTag(fig_, "menuFileSaveAs"));
        EXPECT_EQ(std::filesystem::exists(folder + "fresh"), attempt == 1);
    }
    EXPECT_EQ(dialogs->asked()[1].title, "Waveform Not Recalculated");  // after the file dialog
    EXPECT_EQ(host::loadMatFile(folder + "fresh").field("samples").numel(), 65536u);
    host::setDialogProvider(nullptr);
}

// File > Export Waveform...: each file type of the dialog writes what it says (the extension
// added to a bare name), asks for a fresh waveform first, and says in the status line what it
// wrote. The file dialogs start in the folder last chosen in any of them.
TEST_F(MainWindow, ExportWaveformWritesTheTypeChosen) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Cancel", "Calculate & Export"});
    host::setDialogProvider(dialogs);
    const std::string folder = folder_.string() + "/", other = folder + "other/";
    std::filesystem::create_directories(other);
    enter("txtOversampling", "2");
    gui::invokeCallback(control("menuFileExportWaveform"));  // Cancel on the question: no dialog
    EXPECT_EQ(dialogs->asked().size(), 1u);
    EXPECT_EQ(dialogs->asked().back().title, "Waveform Not Calculated");
    dialogs->queueFile(host::FileChoice{other, "frame", 0});
    gui::invokeCallback(control("menuFileExportWaveform"));  // Calculate & Export
    ASSERT_EQ(dialogs->asked().size(), 3u);
    EXPECT_EQ(dialogs->asked()[1].title, "Waveform Not Calculated");
    EXPECT_EQ(dialogs->asked()[2].title, "Export Waveform");
    EXPECT_EQ(dialogs->asked()[2].folder, "");  // the working folder: nothing chosen yet
    EXPECT_EQ(dialogs->asked()[2].text, ui::exportFilter());
    const Array& waveform = host::record("waveform");
    ASSERT_EQ(waveform.numel(), 65536u);

    const struct {
        int type;
        std::string name, written;
        std::function<void(const std::string&)> check;
    } cases[] = {
        {0, "frame", "frame.mat", [&](const std::string& f) { EXPECT_EQ(host::loadMatFile(f).field("samples").rows(), 65536u); }},
        {1, "iq.txt", "iq.txt", [&](const std::string& f) { EXPECT_EQ(host::loadMatFile(f).field("samples").cols(), 2u); }},
        {2, "frame", "frame.bin", [&](const std::string& f) { EXPECT_EQ(std::filesystem::file_size(f), 4u * 65536u); }},
        {3, "rec", "rec.sigmf-meta", [&](const std::string& f) {
             EXPECT_EQ(std::filesystem::file_size(other + "rec.sigmf-data"), 8u * 65536u);
             std::ifstream in(f);
             const std::string meta((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
             EXPECT_NE(meta.find("\"core:sample_rate\": 2457600"), std::string::npos) << meta;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        if (c.type != 0) {
            dialogs->queueFile(host::FileChoice{other, c.name, c.type});
            gui::invokeCallback(control("menuFileExportWaveform"));
        }
        if (c.type != 0) {
            EXPECT_EQ(dialogs->asked().back().folder, other) << "the dialog started where the last file was chosen";
        }
        ASSERT_TRUE(std::filesystem::exists(other + c.written));
        c.check(other + c.written);
        EXPECT_TRUE(std::regex_match(text("txtStatusFile"), std::regex("Exported at \\d\\d:\\d\\d:\\d\\d: 65536 samples to " + other + c.written)))
            << text("txtStatusFile");
    }
    // The next Open starts there too; a failed export says why and leaves the line as it was.
    const std::string before = text("txtStatusFile");
    dialogs->queueFile(host::FileChoice{folder + "gone/", "x", 0});
    gui::invokeCallback(control("menuFileExportWaveform"));
    EXPECT_EQ(dialogs->asked().back().title, "Error Saving " + folder + "gone/x.mat");
    EXPECT_EQ(text("txtStatusFile"), before);
    dialogs->queueFile(std::nullopt);
    gui::invokeCallback(control("menuFileOpen"));
    EXPECT_EQ(dialogs->asked().back().folder, folder + "gone/");
    host::setDialogProvider(nullptr);
}

// Every control of the main window can be reached by the keyboard: a button or check box by a
// mnemonic of its own or of the label whose buddy it is, a box or list by its label's (a unit
// list by Tab from its entry); every visible menu item has one too.
TEST_F(MainWindow, EveryControlAndMenuItemHasAMnemonic) {
    QWidget* window = gui::windowOf(fig_);
    std::set<QWidget*> labelled;
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy() && label->text().contains('&')) labelled.insert(label->buddy());
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w);
        if (!control || !w->isVisibleTo(window) || w->objectName().startsWith("qt_") || qobject_cast<QLineEdit*>(w->parentWidget())) continue;
        if (qobject_cast<QComboBox*>(w->parentWidget())) continue;  // a list's own edit line
        // A unit list follows its entry (Tab from it), which has the mnemonic.
        if (qobject_cast<QComboBox*>(w) && w->accessibleName().endsWith(" unit")) continue;
        const auto* button = qobject_cast<QAbstractButton*>(w);
        EXPECT_TRUE(labelled.count(w) || (button && button->text().contains('&'))) << w->objectName().toStdString() << " has no mnemonic";
    }
    for (QAction* a : window->findChildren<QAction*>()) {
        if (a->isVisible() && !a->isSeparator() && !a->text().isEmpty()) {
            EXPECT_TRUE(a->text().contains('&')) << a->text().toStdString() << " has no mnemonic";
        }
    }
}

// The packet controls: what each stores (rounded, limited; no number keeps the value), what
// they enable (the packet controls in packet mode with the traffic on; the slot dialog's
// traffic columns rest then), the waveform length with its frames, the stale question on a
// change, and a packet waveform calculated, plotted against time and measured packet by packet.
TEST_F(MainWindow, ThePacketControlsSetCodedPackets) {
    auto dialogs = std::make_shared<host::ScriptedDialogs>(std::deque<std::string>{"Cancel"});
    host::setDialogProvider(dialogs);
    EXPECT_EQ(enable("pdDATApacketMode"), "off");  // traffic off
    EXPECT_EQ(text("txtFrameCount"), "1");
    const Array drcs = gui::get(control("pdDATApacketDRC"), "String");
    ASSERT_EQ(drcs.numel(), 12u);
    EXPECT_EQ(drcs.cellAt(0).text(), "1: 38.4 kbps, 16 slots, QPSK, preamble 1024");
    EXPECT_EQ(drcs.cellAt(11).text(), "12: 2457.6 kbps, 1 slot, 16-QAM, preamble 64");
    choose("chkDATAchnActive", 1);
    EXPECT_EQ(enable("pdDATApacketMode"), "on");
    EXPECT_EQ(enable("pdDATApacketDRC"), "off");  // per-slot traffic yet

    const struct {
        const char* what;
        std::function<void()> act;
        const char* field;
        std::vector<double> stored;
        const char* shown;  // the box's text afterwards, where there is a box
    } steps[] = {
        {"packet mode", [] { choose("pdDATApacketMode", 2); }, "DATApacketMode", {1}, nullptr},
        {"DRC 3", [] { choose("pdDATApacketDRC", 3); }, "DATApacketDRC", {3}, nullptr},
        {"MAC 9.6 rounds", [] { enter("txtDATApacketMAC", "9.6"); }, "DATApacketMAC", {10}, "10"},
        {"MAC 99 is limited", [] { enter("txtDATApacketMAC", "99"); }, "DATApacketMAC", {63}, "63"},
        {"MAC abc keeps it", [] { enter("txtDATApacketMAC", "abc"); }, "DATApacketMAC", {63}, "63"},
        {"MAC 9", [] { enter("txtDATApacketMAC", "9"); }, "DATApacketMAC", {9}, "9"},
        {"interlace 1 off", [] { choose("chkDATApacketInterlace2", 0); }, "DATApacketInterlaces", {1, 0, 1, 1}, nullptr},
        {"frames 0 is limited", [] { enter("txtFrameCount", "0"); }, "FrameCount", {1}, "1"},
        {"frames 40 is limited", [] { enter("txtFrameCount", "40"); }, "FrameCount", {16}, "16"},
        {"frames empty keeps it", [] { enter("txtFrameCount", ""); }, "FrameCount", {16}, "16"},
        {"frames 1", [] { enter("txtFrameCount", "1"); }, "FrameCount", {1}, "1"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        const Array& stored = onex::applicationParameters().field(s.field);
        ASSERT_EQ(stored.numel(), s.stored.size());
        for (std::size_t i = 0; i < s.stored.size(); ++i) EXPECT_EQ(stored.realAt(i), s.stored[i]);
        if (s.shown) {
            EXPECT_EQ(text(s.field == std::string("FrameCount") ? "txtFrameCount" : "txtDATApacketMAC"), s.shown);
        }
    }
    for (const char* tag : {"pdDATApacketDRC", "txtDATApacketMAC", "chkDATApacketInterlace1"}) EXPECT_EQ(enable(tag), "on") << tag;
    // DRC 3 packets take 4 slots on an interlace: one frame holds them whole.
    EXPECT_EQ(text("txtNumberOfSamples"), "163840 Samples");
    choose("pdDATApacketDRC", 1);  // 16-slot packets: four frames
    EXPECT_EQ(text("txtNumberOfSamples"), "655360 Samples (4 frames)");
    EXPECT_EQ(parameter("ProjectedLength"), 655360);

    // The slot dialog's traffic columns rest in packet mode; its MAC columns do not.
    gui::Handle slotDialog = host::record("figureList").field("figSlotSetup").realAt(0);
    QTimer::singleShot(0, [&] {
        const Array hs = gui::guihandles(slotDialog);
        EXPECT_EQ(gui::get(hs.field("chkDATAslotActive1").realAt(0), "Enable").text(), "off");
        EXPECT_EQ(gui::get(hs.field("lstDATAslotMod1").realAt(0), "Enable").text(), "off");
        EXPECT_EQ(gui::get(hs.field("pldDATAmod").realAt(0), "Enable").text(), "off");
        EXPECT_EQ(gui::get(hs.field("chkRAslotActive1").realAt(0), "Enable").text(), "on");
        gui::invokeCallback(hs.field("pbCancel").realAt(0));
    });
    gui::invokeCallback(control("pbSlotSetup"));

    // Calculated, it has the length shown; a change makes it stale.
    gui::invokeCallback(control("pbCalculate"));
    EXPECT_EQ(host::record("waveform").numel(), 655360u);
    choose("chkDATApacketInterlace4", 0);
    gui::invokeCallback(control("pbDownload"));  // "Cancel" on the question
    EXPECT_EQ(dialogs->asked().back().title, "Waveform Not Recalculated");
    choose("chkDATApacketInterlace4", 1);

    // The time plot shows the whole waveform; the quality window lists the packets.
    gui::invokeCallback(control("menuPlotIQTime"));
    gui::invokeCallback(control("menuPlotSignalQuality"));
    const Array windows = host::record("appInfo").field("ClientWindows");
    ASSERT_EQ(windows.numel(), 2u);
    auto* table = gui::windowOf(windows.realAt(1))->findChild<QTableWidget*>("tblSignalQuality");
    ASSERT_NE(table, nullptr);
    std::vector<std::string> figures;
    for (int row = 0; row < table->rowCount(); ++row) figures.push_back(table->item(row, 0)->text().toStdString());
    const auto packets = std::find(figures.begin(), figures.end(), "Packets with a good FCS");
    ASSERT_NE(packets, figures.end());
    const int row = static_cast<int>(packets - figures.begin());
    EXPECT_EQ(table->item(row, 1)->text().toStdString(), "3 of 3");  // interlaces 0, 2 and 3
    EXPECT_EQ(table->item(row + 1, 0)->text().toStdString(), "Packet 1 (DRC 1, slots 1 5 9 13 17 21 25 29 33 37 41 45 49 53 57 61)");
    EXPECT_EQ(table->item(row + 1, 1)->text().left(8).toStdString(), "FCS good");
    host::setDialogProvider(nullptr);
}
