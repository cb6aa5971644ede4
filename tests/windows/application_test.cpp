// The application as a user meets it, on a real display (a virtual X server): the splash
// first, the main window after at least three seconds, About from the Help menu and Exit
// from the File menu, both by their keyboard mnemonics.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <filesystem>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

#include "simulated_instrument.h"
#include "python_tools.h"
#include "MexIO/download_action.h"
#include "MexIO/download_play.h"
#include "MexIO/lan_config.h"
#include "windows/app/instrument_work.h"
#include "MexIO/instrument_wrappers.h"
#include "OneX/parameters.h"
#include "UI/file_actions.h"
#include "instrument_words.h"
#include "host/mat_file.h"
#include "sim/simulated_generator.h"
#include "brevia.h"
#include "host/random.h"
#include "host/records.h"
#include "host/function_table.h"
#include "windows/gui/graphics.h"
#include "host/window_part.h"

extern "C" const host::window::Interface* breviaWindowInterface();

using host::Array;
namespace gui = windows::gui;

namespace {

gui::Handle figureTagged(const std::string& tag) {
    const Array children = gui::get(gui::kRoot, "Children");
    for (std::size_t i = 0; i < children.numel(); ++i)
        if (gui::get(children.realAt(i), "Tag").text() == tag) return children.realAt(i);
    return 0;
}

bool shown(const std::string& tag) {
    const gui::Handle f = figureTagged(tag);
    return f && gui::get(f, "Visible").text() == "on";
}

// Types a menu mnemonic into the window, then an item's, as a user does.
void pickFromMenu(QWidget* window, Qt::Key menuKey, Qt::Key itemKey) {
    // Without a window manager nothing makes the window active but asking.
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, menuKey, Qt::AltModifier);
    QApplication::processEvents();
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr) << "the menu did not open";
    QTest::keyClick(popup, itemKey);
}

// Acts on a window once `ready` finds it, polling the event loop for up to ten seconds;
// `missed` says so when it never came.
void whenReady(std::function<QWidget*()> ready, std::function<void(QWidget*)> act, bool* missed) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* w = ready();
        if (!w && ++*tries < 200) return;
        timer->stop();
        timer->deleteLater();
        if (w) return act(w);
        *missed = true;
        // Whatever waits for an answer that will not come is closed, so the test ends.
        for (int level = 0; level < 5 && QApplication::activeModalWidget(); ++level) QApplication::activeModalWidget()->close();
    });
    timer->start(50);
}

// The next modal box or dialog of Qt's own to come up (the progress window of instrument
// work, which comes and goes by itself, is none).
void onNextModal(std::function<void(QWidget*)> act, bool* missed) {
    QWidget* before = QApplication::activeModalWidget();
    whenReady([before] {
        QWidget* w = QApplication::activeModalWidget();
        return w && w != before && w->isVisible() && w->objectName() != "instrumentProgress" ? w : nullptr;
    }, std::move(act), missed);
}

// Handles events until `condition` holds, for at most `seconds`; whether it came to hold.
bool waitUntil(const std::function<bool()>& condition, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QTest::qWait(20);
    }
    return true;
}

}  // namespace

TEST(Application, SplashThenMainWindowThenAboutAndExitByKeyboard) {
    const auto folder = std::filesystem::temp_directory_path() / ("brevia_application_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    ASSERT_TRUE(BreviaInitialize());
    gui::ensureApplication();  // the timers below need the application's event loop

    bool splashFirst = false, mainHiddenMeanwhile = false;
    QTimer::singleShot(300, [&] {
        splashFirst = shown("SX_Splash");
        mainHiddenMeanwhile = !shown("main");
    });
    const auto started = std::chrono::steady_clock::now();
    host::callFunction("OneX_Fwd_b", 0, std::vector<Array>{});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(splashFirst);
    EXPECT_TRUE(mainHiddenMeanwhile);
    EXPECT_GE(seconds, 3.0);
    EXPECT_LT(seconds, 30.0);  // a hang, not a slow machine
    RecordProperty("start_seconds", std::to_string(seconds));
    const gui::Handle main = figureTagged("main");
    ASSERT_NE(main, 0);
    EXPECT_TRUE(shown("main"));
    EXPECT_FALSE(shown("SX_Splash"));
    QWidget* window = gui::windowOf(main);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));

    // Help > About: the box comes up over the main window; its OK button (Space) closes it.
    bool aboutShown = false, missed = false;
    whenReady([] { return shown("SX_About") ? gui::windowOf(figureTagged("SX_About")) : nullptr; },
              [&](QWidget*) {
                  aboutShown = true;
                  QTest::keyClick(gui::widgetOf(gui::findByTag(figureTagged("SX_About"), "pbOK")), Qt::Key_Space);
              }, &missed);
    pickFromMenu(window, Qt::Key_H, Qt::Key_A);
    EXPECT_TRUE(waitUntil([&] { return aboutShown && figureTagged("SX_About") == 0; }));
    EXPECT_FALSE(missed);

    // File > Exit: the configuration is saved and the window goes.
    pickFromMenu(window, Qt::Key_F, Qt::Key_X);
    EXPECT_TRUE(waitUntil([&] { return !gui::isValid(main); }));
    EXPECT_TRUE(std::filesystem::exists(folder / "rfIOConfig.mat"));
    BreviaTerminate();
    std::filesystem::remove_all(folder);
}

// The slot dialog and, from it, the RPC dialog, clicked through by mouse: a gain typed into
// the RPC dialog comes back through both OK buttons into that slot only.
TEST(Application, TheSlotAndRpcDialogsByMouse) {
    const auto folder = std::filesystem::temp_directory_path() / ("brevia_application_dialogs_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    ASSERT_TRUE(BreviaInitialize());
    gui::ensureApplication();
    host::callFunction("OneX_Fwd_b", 0, std::vector<Array>{});
    const gui::Handle main = figureTagged("main");
    ASSERT_NE(main, 0);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(gui::windowOf(main)));
    // The slot button, then slot 3's RPC button, by mouse; a gain typed into the RPC dialog
    // comes back through both OK buttons.
    bool slotShown = false, rpcShown = false, missed = false;
    auto clickTagged = [](gui::Handle fig, const char* tag) {
        QTest::mouseClick(gui::widgetOf(gui::findByTag(fig, tag)), Qt::LeftButton);
    };
    auto visible = [](const char* dialog) -> QWidget* {
        const gui::Handle fig = host::record("figureList").field(dialog).realAt(0);
        return gui::get(fig, "Visible").text() == "on" ? gui::windowOf(fig) : nullptr;
    };
    whenReady([&] { return visible("figSlotSetup"); }, [&](QWidget*) {
        slotShown = true;
        const gui::Handle slot = host::record("figureList").field("figSlotSetup").realAt(0);
        whenReady([&] { return visible("figRPCsetup"); }, [&](QWidget*) {
            rpcShown = true;
            const gui::Handle rpc = host::record("figureList").field("figRPCsetup").realAt(0);
            QWidget* gain = gui::widgetOf(gui::findByTag(rpc, "txtRPCchnGain1"));
            QTest::mouseClick(gain, Qt::LeftButton);
            QTest::keyClick(gain, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(gain, "-7");
            QTest::keyClick(gain, Qt::Key_Tab);
            clickTagged(rpc, "pbOK");
        }, &missed);
        clickTagged(slot, "pbPRCslotSetup3");  // returns once the RPC dialog has closed
        clickTagged(slot, "pbOK");
    }, &missed);
    QTest::mouseClick(gui::widgetOf(gui::findByTag(main, "pbSlotSetup")), Qt::LeftButton);  // returns once closed
    EXPECT_TRUE(slotShown);
    EXPECT_TRUE(rpcShown);
    EXPECT_FALSE(missed);
    const Array& rpcGain = onex::applicationParameters().field("slot").field("RPCslotGain");
    EXPECT_EQ(rpcGain.pr()[0 * rpcGain.rows() + 2], -7);  // slot 3, channel 1
    EXPECT_EQ(rpcGain.pr()[0 * rpcGain.rows() + 1], -3);  // slot 2 as it was

    gui::invokeCallback(gui::findByTag(main, "menuFileExit"));
    EXPECT_FALSE(gui::isValid(main));
    BreviaTerminate();
    std::filesystem::remove_all(folder);
}

namespace {

// A file dialog answered as a user does: the path typed into its name box, then Enter. A
// dialog that is still settling may clear the box, and the box's completer may pop up and
// take an Enter, so both are looked at again until the dialog has gone; one still there
// after that is cancelled and the test fails rather than waits.
void typePath(QWidget* dialog, const std::string& path) {
    auto* box = dialog->findChild<QLineEdit*>("fileNameEdit");
    if (!box) {
        ADD_FAILURE() << "the file dialog has no name box";
        return static_cast<void>(dialog->close());
    }
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
    const QString wanted = QString::fromStdString(path);
    QPointer<QWidget> open(dialog);
    for (int attempt = 0; attempt < 30 && open && open->isVisible(); ++attempt) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            QTest::keyClick(popup, Qt::Key_Escape);
        } else if (box->text() != wanted) {  // not yet typed, or cleared as the dialog settled
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(box, wanted);
        } else {
            QTest::keyClick(box, Qt::Key_Return);
        }
        QTest::qWait(100);
    }
    if (open && open->isVisible()) {
        ADD_FAILURE() << "the file dialog did not take " << path << ": its box holds " << box->text().toStdString();
        open->close();
    }
}

void clickButton(QWidget* dialog, const QString& text) {
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text().remove('&') == text) return QTest::mouseClick(b, Qt::LeftButton);
    ADD_FAILURE() << "no button " << text.toStdString();
}

// Seconds from `closing` (run once the program's event loop runs) until that loop ends, as it
// must when the main window goes, whatever dialogs are kept hidden for reuse. A loop that
// does not end within twelve seconds is ended here, and the result says so.
double secondsUntilTheProgramEnds(std::function<void()> closing) {
    std::chrono::steady_clock::time_point closed;
    QTimer::singleShot(300, [&] {
        closed = std::chrono::steady_clock::now();
        closing();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QApplication::exit(1); });
    watchdog.start(12000);
    breviaWindowInterface()->runUntilClosed();
    watchdog.stop();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - closed).count();
}

// A scratch working folder, and the simulated generator behind every VISA address, for as
// long as a test lives.
struct SimulatedLab {
    explicit SimulatedLab(const std::string& name)
        : folder(std::filesystem::temp_directory_path() / ("brevia_application_" + name + "_" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
        setenv("BREVIA_CORRECTIONS_DIR", folder.c_str(), 1);
    }
    ~SimulatedLab() {
        unsetenv("BREVIA_CORRECTIONS_DIR");
        std::filesystem::remove_all(folder);
    }
    SimulatedLab(const SimulatedLab&) = delete;
    SimulatedLab& operator=(const SimulatedLab&) = delete;

    std::filesystem::path folder;
    SimulatedInstrument instrument;
    sim::SimulatedGenerator& simulator = instrument.generator;
};

QWidget* startApplication() {
    EXPECT_TRUE(BreviaInitialize());
    gui::ensureApplication();
    host::callFunction("OneX_Fwd_b", 0, std::vector<Array>{});
    const gui::Handle main = figureTagged("main");
    if (!main) return nullptr;
    QWidget* window = gui::windowOf(main);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    return window;
}

}  // namespace

// A whole session by keyboard and mouse on the real boxes and file dialogs: a parameter file
// written by SciPy opened, calculated, plotted, saved, exported, the generator's GPIB address
// set (routed to the simulated generator), downloaded and played; the next start comes up
// with that connection.
TEST(Application, AWholeSession) {
    SKIP_WITHOUT_SCIPY();
    SimulatedLab lab("session");
    sim::SimulatedGenerator& simulator = lab.simulator;
    const std::string dir = lab.folder.string() + "/";

    // The file a colleague made in Python: ours, changed there to oversampling 6 and title SCIPY.
    ASSERT_TRUE(BreviaInitialize());
    ASSERT_TRUE(ui::saveParameters(dir + "ours.mat", onex::defaultParameters(), mexio::initialSigGenSettings(5)));
    const std::string python = std::string(PYTHON3) + " " + TOOLS_DIR + "/parameter_file_roundtrip.py " + dir + "ours.mat " + dir + "scipy.mat 6";
    ASSERT_EQ(std::system(python.c_str()), 0) << python;

    QWidget* window = startApplication();
    ASSERT_NE(window, nullptr);
    const gui::Handle main = figureTagged("main");
    bool missed = false;
    auto mainText = [&](const char* tag) { return gui::get(gui::findByTag(main, tag), "String").text(); };

    // File > Open.
    onNextModal([&](QWidget* d) { typePath(d, dir + "scipy.mat"); }, &missed);
    pickFromMenu(window, Qt::Key_F, Qt::Key_O);
    EXPECT_EQ(gui::get(main, "Name").text(), "Veltrac - 1xEV Forward Link : " + dir + "scipy.mat");
    EXPECT_EQ(mainText("txtOversampling"), "6");
    EXPECT_EQ(mainText("txtWaveformTitle"), "SCIPY");
    EXPECT_EQ(mainText("txtSamplingRate"), "7.3728");

    // Calculate by mouse, then Plot > Spectrum by keyboard.
    QTest::mouseClick(gui::widgetOf(gui::findByTag(main, "pbCalculate")), Qt::LeftButton);
    EXPECT_EQ(host::record("waveform").numel(), 196608u);
    pickFromMenu(window, Qt::Key_P, Qt::Key_S);
    ASSERT_EQ(host::record("appInfo").field("ClientWindows").numel(), 1u);
    const gui::Handle spectrum = host::record("appInfo").field("ClientWindows").realAt(0);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(gui::windowOf(spectrum)));

    // File > Save As, then an export through the prefix, as MAT.
    onNextModal([&](QWidget* d) { typePath(d, dir + "saved"); }, &missed);
    pickFromMenu(window, Qt::Key_F, Qt::Key_A);
    EXPECT_EQ(ui::readParameterFile(dir + "saved.mat", onex::kParameterFileFormatId).parameters, onex::applicationParameters());
    EXPECT_EQ(gui::get(main, "Name").text(), "Veltrac - 1xEV Forward Link : " + dir + "saved.mat");
    onNextModal([&](QWidget* d) {
        onNextModal([&](QWidget* q) { clickButton(q, "MAT"); }, &missed);
        typePath(d, dir + "qorvath.exported");
    }, &missed);
    pickFromMenu(window, Qt::Key_F, Qt::Key_A);
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(dir + "exported"); }));
    const Array exported = host::loadMatFile(dir + "exported").field("samples");
    EXPECT_EQ(exported.numel(), 196608u);
    EXPECT_TRUE(exported.isComplex());

    // Configuration > Sig Gen I/O: GPIB, primary address 7, by keyboard; OK by mouse.
    whenReady([] { return shown("figureVisaAddress") ? gui::windowOf(figureTagged("figureVisaAddress")) : nullptr; },
              [&](QWidget* d) {
                  QApplication::setActiveWindow(d);
                  EXPECT_TRUE(QTest::qWaitForWindowActive(d));
                  QTest::keyClick(d, Qt::Key_T, Qt::AltModifier);
                  QTest::keyClicks(QApplication::focusWidget(), "G");
                  QTest::keyClick(d, Qt::Key_P, Qt::AltModifier);
                  QTest::keyClicks(QApplication::focusWidget(), "7");
                  QTest::mouseClick(gui::widgetOf(gui::findByTag(figureTagged("figureVisaAddress"), "pbOK")), Qt::LeftButton);
              }, &missed);
    pickFromMenu(window, Qt::Key_C, Qt::Key_S);
    EXPECT_TRUE(waitUntil([] { return !shown("figureVisaAddress"); }));
    const Array& configuration = host::record("configuration");
    EXPECT_EQ(configuration.field("type").text(), "GPIB");
    EXPECT_EQ(configuration.field("GPIB").field("primary").realAt(0), 7);

    // Download by mouse: the generator holds the waveform and plays it as the panel says.
    std::string completed;
    onNextModal([&](QWidget* box) {
        completed = box->windowTitle().toStdString();
        QTest::keyClick(box, Qt::Key_Return);
    }, &missed);
    QTest::mouseClick(gui::widgetOf(gui::findByTag(main, "pbDownload")), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return !completed.empty(); }));
    EXPECT_EQ(completed, "Download Completed");
    mexio::hwQuery(configuration, "*OPC?");
    const auto files = simulator.files();
    ASSERT_TRUE(files.count("WFM1:SCIPY"));
    EXPECT_TRUE(files.at("WFM1:SCIPY") == reference::corvaneIq(host::record("waveform")));
    const auto settings = simulator.settings();
    EXPECT_EQ(settings.at("waveform"), "WFM1:SCIPY");
    EXPECT_EQ(settings.at("sampleClock"), "7372800Hz");
    EXPECT_EQ(settings.at("frequency"), "2200000000Hz");
    EXPECT_EQ(settings.at("power"), "-30dbm");

    // File > Exit closes the plot too; the next start has the connection.
    pickFromMenu(window, Qt::Key_F, Qt::Key_X);
    EXPECT_TRUE(waitUntil([&] { return !gui::isValid(main); }));
    EXPECT_FALSE(gui::isValid(spectrum));
    mexio::vesk(0, {Array::int32Scalar(999)});
    BreviaTerminate();
    window = startApplication();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(host::record("configuration").field("GPIB").field("primary").realAt(0), 7);
    EXPECT_EQ(gui::get(figureTagged("main"), "Name").text(), "Veltrac - 1xEV Forward Link");
    // Closing the main window by its frame ends the program as Exit does.
    EXPECT_LT(secondsUntilTheProgramEnds([&] { window->close(); }), 10.0);  // a hang, not a slow machine (it takes 0.1 to 0.2 s)
    EXPECT_EQ(figureTagged("main"), 0);
    EXPECT_FALSE(missed) << "a dialog the session waited for never came";
    BreviaTerminate();
}

namespace {

// The button texts of a question box as the user reads them ("&&" shows as "&").
std::vector<std::string> shownButtons(QWidget* box) {
    std::vector<std::string> texts;
    for (QPushButton* b : box->findChildren<QPushButton*>()) texts.push_back(b->text().replace("&&", "&").toStdString());
    return texts;
}

// A key as the user presses it: into whatever has the keyboard in that window, an access key
// (Alt) into the window.
void press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QApplication::setActiveWindow(window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* focus = QApplication::focusWidget();
    const bool accessKey = modifiers == Qt::AltModifier;  // the window's, whatever has the keyboard
    QTest::keyClick(focus && focus->window() == window && !accessKey ? focus : window, key, modifiers);
    // A button's access key clicks it after a short animation: wait until it has.
    if (accessKey) {
        EXPECT_TRUE(waitUntil([window] {
            for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
                if (b->isDown()) return false;
            return true;
        }));
    }
}

}  // namespace

// What a new user met on a first session, by keyboard on a fresh machine against the simulated
// generator on the default GPIB address: a first Download works; Escape on either staleness
// question does nothing; "abc" in Output power keeps -30 dBm; a failed calculation says so in a
// box and stops; Slot setup pressed again while its dialog is up does nothing, Escape cancels
// the dialog and the main window answers again; Exit ends the program's event loop at once.
TEST(Application, TheFaultsOfAFirstSessionAreGone) {
    SimulatedLab lab("first");  // no rfIOConfig.mat there: a first start
    sim::SimulatedGenerator& simulator = lab.simulator;

    QWidget* window = startApplication();
    ASSERT_NE(window, nullptr);
    const gui::Handle main = figureTagged("main");
    bool missed = false;
    const Array& info = host::record("appInfo");
    auto mainText = [&](const char* tag) { return gui::get(gui::findByTag(main, tag), "String").text(); };

    // Alt+M is Mode's, the MAC box's and Frames': it moves between the three and ticks nothing.
    const double mac = host::record("parameters").field("MACchnActive").realAt(0);
    std::set<std::string> reached;
    for (int press_ = 0; press_ < 3; ++press_) {
        press(window, Qt::Key_M, Qt::AltModifier);
        reached.insert(QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "");
    }
    EXPECT_EQ(reached, (std::set<std::string>{"pdMode", "chkMACchnActive", "txtFrameCount"}));
    EXPECT_EQ(host::record("parameters").field("MACchnActive").realAt(0), mac);

    // "abc" in Output power, then Return: the box keeps -30.
    press(window, Qt::Key_W, Qt::AltModifier);
    press(window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "abc");
    press(window, Qt::Key_Return);
    EXPECT_EQ(mainText("txtAmplitude"), "-30");
    EXPECT_EQ(host::record("SigGenSettings").field("Amplitude").realAt(0), -30);

    // Download before any calculation: Escape on the question does nothing at all.
    std::vector<std::string> buttons;
    onNextModal([&](QWidget* box) {
        buttons = shownButtons(box);
        QTest::keyClick(box, Qt::Key_Escape);
    }, &missed);
    press(window, Qt::Key_D, Qt::AltModifier);
    EXPECT_EQ(buttons, (std::vector<std::string>{"Calculate & Download", "Cancel"}));
    EXPECT_TRUE(info.field("LastCalcTimeStamp").isEmpty());
    EXPECT_TRUE(simulator.commands().empty());

    // Again, with Return: the default button calculates, downloads and plays.
    std::string completed;
    onNextModal([&](QWidget* box) {
        onNextModal([&](QWidget* done) {
            completed = done->windowTitle().toStdString();
            QTest::keyClick(done, Qt::Key_Return);
        }, &missed);
        QTest::keyClick(box, Qt::Key_Return);
    }, &missed);
    press(window, Qt::Key_D, Qt::AltModifier);
    EXPECT_EQ(completed, "Download Completed");
    mexio::hwQuery(host::record("configuration"), "*OPC?");
    EXPECT_EQ(simulator.settings().at("power"), "-30dbm");
    EXPECT_TRUE(simulator.files().count("WFM1:OneX-Fwd"));

    // Stale after a change: Escape on the question neither plots nor recalculates.
    const Array stamp = info.field("LastCalcTimeStamp");
    press(window, Qt::Key_V, Qt::AltModifier);
    press(window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "2");
    press(window, Qt::Key_Return);
    onNextModal([&](QWidget* box) {
        buttons = shownButtons(box);
        QTest::keyClick(box, Qt::Key_Escape);
    }, &missed);
    pickFromMenu(window, Qt::Key_P, Qt::Key_S);
    EXPECT_EQ(buttons, (std::vector<std::string>{"Yes", "Recalc & Plot", "Cancel"}));
    EXPECT_EQ(info.field("LastCalcTimeStamp"), stamp);
    EXPECT_EQ(info.field("ClientWindows").numel(), 0u);

    // A calculation that fails: a box says why, and nothing else changes.
    onex::applicationParameters().setField("FilterType", Array::string("bad"));
    std::string failed;
    onNextModal([&](QWidget* box) {
        failed = box->windowTitle().toStdString();
        QTest::keyClick(box, Qt::Key_Return);
    }, &missed);
    press(window, Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(failed, "Calculation Failed");
    EXPECT_EQ(info.field("LastCalcTimeStamp"), stamp);
    onex::applicationParameters().setField("FilterType", Array::scalar(3));

    // Slot setup, then Slot setup again on the main window while the dialog is up: nothing
    // happens to the dialog or its edit; Escape cancels it.
    const Array slotBefore = onex::applicationParameters().field("slot");
    const gui::Handle slotDialog = host::record("figureList").field("figSlotSetup").realAt(0);
    std::string gainAfterSecondPress, styleWhileUp;
    bool upAfterSecondPress = false;
    whenReady([&] { return gui::get(slotDialog, "Visible").text() == "on" ? gui::windowOf(slotDialog) : nullptr; },
              [&](QWidget* dialog) {
                  styleWhileUp = gui::get(slotDialog, "WindowStyle").text();
                  QWidget* gain = gui::widgetOf(gui::findByTag(slotDialog, "txtRAslotGain1"));
                  QTest::mouseClick(gain, Qt::LeftButton);
                  QTest::keyClick(gain, Qt::Key_A, Qt::ControlModifier);
                  QTest::keyClicks(gain, "7");
                  QTest::keyClick(gain, Qt::Key_Tab);
                  QTest::keyClick(window, Qt::Key_E, Qt::AltModifier);
                  QTest::qWait(300);  // what a second press could do would happen within its click animation
                  upAfterSecondPress = dialog->isVisible();
                  gainAfterSecondPress = gui::get(gui::findByTag(slotDialog, "txtRAslotGain1"), "String").text();
                  press(dialog, Qt::Key_Escape);
              }, &missed);
    press(window, Qt::Key_E, Qt::AltModifier);
    EXPECT_EQ(styleWhileUp, "modal");
    EXPECT_TRUE(upAfterSecondPress);
    EXPECT_EQ(gainAfterSecondPress, "7");
    EXPECT_EQ(gui::get(slotDialog, "Visible").text(), "off");
    EXPECT_EQ(onex::applicationParameters().field("slot"), slotBefore);  // Escape is Cancel

    // The main window answers again; File > Exit ends the event loop the program runs.
    EXPECT_LT(secondsUntilTheProgramEnds([&] { pickFromMenu(window, Qt::Key_F, Qt::Key_X); }), 10.0);
    EXPECT_FALSE(gui::isValid(main));
    EXPECT_FALSE(missed) << "a box the session waited for never came";
    mexio::vesk(0, {Array::int32Scalar(999)});
    BreviaTerminate();
}

namespace {

// Counts the paints a window gets.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

}  // namespace

// A Download to an instrument on the LAN that accepts and never answers: within a second the
// progress window "Instrument" is up and the main window still paints; Cancel, Escape and the
// window's frame each end the work within a second with "Download cancelled" in the error box.
TEST(Application, ADownloadToASilentInstrumentIsCancelled) {
    SimulatedLab lab("silent");
    sim::Faults silent;
    silent.silent = true;
    lab.simulator.setFaults(silent);
    QWidget* window = startApplication();
    ASSERT_NE(window, nullptr);
    const gui::Handle main = figureTagged("main");
    bool missed = false;
    host::record("configuration") = lanConfig(lab.simulator.port());
    QTest::mouseClick(gui::widgetOf(gui::findByTag(main, "pbCalculate")), Qt::LeftButton);
    ASSERT_FALSE(host::record("waveform").isEmpty());
    PaintCounter painted;
    window->installEventFilter(&painted);

    enum class Stop { Cancel, Escape, Frame };
    for (const Stop how : {Stop::Cancel, Stop::Escape, Stop::Frame}) {
        SCOPED_TRACE(how == Stop::Cancel ? "Cancel" : how == Stop::Escape ? "Escape" : "the window frame");
        QPointer<QWidget> progress;
        double upAfter = -1, endedAfter = -1;
        std::string step, title, text;
        int paintsWhileUp = 0;
        const auto clicked = std::chrono::steady_clock::now();
        const auto since = [](std::chrono::steady_clock::time_point t) {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
        };
        std::chrono::steady_clock::time_point cancelled;
        whenReady([] { return windows::app::instrumentProgressWindow(); }, [&](QWidget* w) {
            progress = w;
            upAfter = since(clicked);
            title = w->windowTitle().toStdString();
            // The main window paints while the work waits.
            const int before = painted.paints;
            window->update();
            waitUntil([&] { return painted.paints > before; }, 2);
            paintsWhileUp = painted.paints - before;
            step = w->findChild<QLabel*>("lblStep")->text().toStdString();
            onNextModal([&](QWidget* box) {
                endedAfter = since(cancelled);
                text = box->findChild<QLabel*>("qt_msgbox_label") ? box->findChild<QLabel*>("qt_msgbox_label")->text().toStdString() : "";
                title = box->windowTitle().toStdString() + " / " + title;
                QTest::keyClick(box, Qt::Key_Return);
            }, &missed);
            cancelled = std::chrono::steady_clock::now();
            if (how == Stop::Escape)
                press(w, Qt::Key_Escape);  // to whatever has the keyboard there, as a user's key goes
            else if (how == Stop::Frame)
                w->close();  // what the window manager asks when the frame's close button is pressed
            else
                QTest::mouseClick(w->findChild<QPushButton*>("pbCancel"), Qt::LeftButton);
        }, &missed);
        QTest::mouseClick(gui::widgetOf(gui::findByTag(main, "pbDownload")), Qt::LeftButton);
        EXPECT_GE(upAfter, 0);
        EXPECT_LT(upAfter, 1.0);
        EXPECT_GT(paintsWhileUp, 0);
        EXPECT_EQ(step, "Asking the instrument what it is");
        EXPECT_LT(endedAfter, 1.0);
        EXPECT_EQ(title, std::string(mexio::kDownloadFailedTitle) + " / Instrument");
        EXPECT_EQ(text, "Download cancelled");
        EXPECT_TRUE(progress.isNull() || !progress->isVisible());
    }
    EXPECT_FALSE(missed);
    window->removeEventFilter(&painted);
    pickFromMenu(window, Qt::Key_F, Qt::Key_X);
    EXPECT_TRUE(waitUntil([&] { return !gui::isValid(main); }));
    BreviaTerminate();
}

namespace {

// Alt + `key` until the control tagged `name` has the keyboard (a letter two labels share
// moves between them); whether it came to have it.
bool focusByMnemonic(QWidget* window, Qt::Key key, const char* name) {
    for (int tries = 0; tries < 4; ++tries) {
        press(window, key, Qt::AltModifier);
        if (QApplication::focusWidget() && QApplication::focusWidget()->objectName() == name) return true;
    }
    return false;
}

}  // namespace

// Coded packets set by keyboard (traffic on, coded packets, DRC 3, MAC index 9, interlaces 0,
// 2 and 3), calculated, saved and opened again: the file holds the fields, and the frame is
// the command line's for the saved file and the same seed, sample for sample.
TEST(Application, CodedPacketsByKeyboardMatchTheCommandLine) {
    SimulatedLab lab("packets");
    const std::string dir = lab.folder.string() + "/";
    QWidget* window = startApplication();
    ASSERT_NE(window, nullptr);
    const gui::Handle main = figureTagged("main");
    bool missed = false;
    const Array& p = host::record("parameters");

    ASSERT_TRUE(focusByMnemonic(window, Qt::Key_T, "chkDATAchnActive"));
    press(window, Qt::Key_Space);
    ASSERT_TRUE(focusByMnemonic(window, Qt::Key_A, "pdDATApacketMode"));
    press(window, Qt::Key_Down);
    ASSERT_TRUE(focusByMnemonic(window, Qt::Key_T, "pdDATApacketDRC"));
    press(window, Qt::Key_3);  // the item that starts with "3:"
    ASSERT_TRUE(focusByMnemonic(window, Qt::Key_X, "txtDATApacketMAC"));
    press(window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "9");
    press(window, Qt::Key_Return);
    press(window, Qt::Key_1, Qt::AltModifier);  // Interlace 1 off
    EXPECT_EQ(p.field("DATAchnActive").realAt(0), 1);
    EXPECT_EQ(p.field("DATApacketMode").realAt(0), 1);
    EXPECT_EQ(p.field("DATApacketDRC").realAt(0), 3);
    EXPECT_EQ(p.field("DATApacketMAC").realAt(0), 9);
    EXPECT_EQ(p.field("DATApacketInterlaces"), Array::row(std::vector<double>{1, 0, 1, 1}));

    host::seedRandom(5);
    press(window, Qt::Key_L, Qt::AltModifier);  // Calculate
    const Array made = host::record("waveform");
    ASSERT_EQ(made.numel(), 163840u);
    onNextModal([&](QWidget* d) { typePath(d, dir + "packets"); }, &missed);
    pickFromMenu(window, Qt::Key_F, Qt::Key_A);
    ASSERT_TRUE(std::filesystem::exists(dir + "packets.mat"));

    pickFromMenu(window, Qt::Key_F, Qt::Key_N);  // New, then Open: the fields come back
    EXPECT_EQ(p.field("DATApacketMode").realAt(0), 0);
    onNextModal([&](QWidget* d) { typePath(d, dir + "packets.mat"); }, &missed);
    pickFromMenu(window, Qt::Key_F, Qt::Key_O);
    EXPECT_EQ(p.field("DATApacketDRC").realAt(0), 3);
    EXPECT_EQ(p.field("DATApacketMAC").realAt(0), 9);
    EXPECT_EQ(p.field("DATApacketInterlaces"), Array::row(std::vector<double>{1, 0, 1, 1}));
    EXPECT_EQ(gui::get(gui::findByTag(main, "txtDATApacketMAC"), "String").text(), "9");

    const std::string command = std::string(ONEXFWD) + " generate --params " + dir + "packets.mat --seed 5 --quiet --out " + dir + "cli.mat";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const Array cli = host::loadMatFile(dir + "cli.mat").field("waveform");
    EXPECT_TRUE(cli == made) << "the window's frame differs from the command line's";
    EXPECT_FALSE(missed);
    pickFromMenu(window, Qt::Key_F, Qt::Key_X);
    EXPECT_TRUE(waitUntil([&] { return !gui::isValid(main); }));
    BreviaTerminate();
}
