// The application as a user meets it, on a real display (a virtual X server): the splash
// first, the main window after at least three seconds, About from the Help menu and Exit
// from the File menu, both by their keyboard mnemonics.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <filesystem>

#include "OneX/parameters.h"
#include "brevia.h"
#include "host/records.h"
#include "host/function_table.h"
#include "windows/gui/graphics.h"

using host::Array;
namespace gui = host::gui;

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
    EXPECT_LT(seconds, 3.5);
    RecordProperty("start_seconds", std::to_string(seconds));
    const gui::Handle main = figureTagged("main");
    ASSERT_NE(main, 0);
    EXPECT_TRUE(shown("main"));
    EXPECT_FALSE(shown("SX_Splash"));
    QWidget* window = gui::windowOf(main);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));

    // Help > About: the box comes up over the main window; its OK button (Enter) closes it.
    bool aboutShown = false;
    QTimer::singleShot(500, [&] {
        aboutShown = shown("SX_About");
        if (const gui::Handle box = figureTagged("SX_About"))
            QTest::keyClick(gui::widgetOf(gui::findByTag(box, "pbOK")), Qt::Key_Space);
    });
    pickFromMenu(window, Qt::Key_H, Qt::Key_A);
    QTest::qWait(1000);
    EXPECT_TRUE(aboutShown);
    EXPECT_EQ(figureTagged("SX_About"), 0);

    // File > Exit: the configuration is saved and the window goes.
    pickFromMenu(window, Qt::Key_F, Qt::Key_X);
    QTest::qWait(200);
    EXPECT_FALSE(gui::isValid(main));
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
    bool slotShown = false, rpcShown = false;
    auto clickTagged = [](gui::Handle fig, const char* tag) {
        QTest::mouseClick(gui::widgetOf(gui::findByTag(fig, tag)), Qt::LeftButton);
    };
    QTimer::singleShot(300, [&] {
        const gui::Handle slot = host::record("figureList").field("figSlotSetup").realAt(0);
        slotShown = gui::get(slot, "Visible").text() == "on";
        QTimer::singleShot(300, [&] {
            const gui::Handle rpc = host::record("figureList").field("figRPCsetup").realAt(0);
            rpcShown = gui::get(rpc, "Visible").text() == "on";
            QWidget* gain = gui::widgetOf(gui::findByTag(rpc, "txtRPCchnGain1"));
            QTest::mouseClick(gain, Qt::LeftButton);
            QTest::keyClick(gain, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(gain, "-7");
            QTest::keyClick(gain, Qt::Key_Tab);
            clickTagged(rpc, "pbOK");
        });
        clickTagged(slot, "pbPRCslotSetup3");
        QTest::qWait(200);
        clickTagged(slot, "pbOK");
    });
    QTest::mouseClick(gui::widgetOf(gui::findByTag(main, "pbSlotSetup")), Qt::LeftButton);
    QTest::qWait(1500);
    EXPECT_TRUE(slotShown);
    EXPECT_TRUE(rpcShown);
    const Array& rpcGain = onex::applicationParameters().field("slot").field("RPCslotGain");
    EXPECT_EQ(rpcGain.pr()[0 * rpcGain.rows() + 2], -7);  // slot 3, channel 1
    EXPECT_EQ(rpcGain.pr()[0 * rpcGain.rows() + 1], -3);  // slot 2 as it was

    gui::invokeCallback(gui::findByTag(main, "menuFileExit"));
    EXPECT_FALSE(gui::isValid(main));
    BreviaTerminate();
    std::filesystem::remove_all(folder);
}
