// Pictures of the application's windows as a user sees them, for the README: the splash, the
// main window after a calculation, the slot and RPC dialogs, the I/O dialog, About and a plot
// window and the signal-quality window. Run on a display (scripts/screenshots uses a virtual one):
//     window_screenshots OUT_FOLDER
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "brevia.h"
#include "host/function_table.h"
#include "host/records.h"
#include "windows/gui/graphics.h"

namespace gui = host::gui;
using host::Array;

namespace {

std::string outFolder;
int failures = 0;

void save(QWidget* window, const char* name) {
    QApplication::processEvents();
    const std::string path = outFolder + "/" + name + ".png";
    if (!window || !window->grab().save(QString::fromStdString(path), "PNG")) {
        std::fprintf(stderr, "window_screenshots: could not write %s\n", path.c_str());
        ++failures;
        return;
    }
    std::printf("%s: %d x %d\n", path.c_str(), window->width(), window->height());
}

gui::Handle figureTagged(const std::string& tag) {
    const Array children = gui::get(gui::kRoot, "Children");
    for (std::size_t i = 0; i < children.numel(); ++i)
        if (gui::get(children.realAt(i), "Tag").text() == tag) return children.realAt(i);
    return 0;
}

// Pictures a modal window once it is up, then closes it with its button.
void whileOpen(std::function<gui::Handle()> window, const char* name, const char* closeTag, std::function<void(gui::Handle)> before = {}) {
    QTimer::singleShot(400, [=] {
        const gui::Handle fig = window();
        if (!fig) {
            std::fprintf(stderr, "window_screenshots: %s did not open\n", name);
            ++failures;
            return;
        }
        if (before) before(fig);
        save(gui::windowOf(fig), name);
        gui::invokeCallback(gui::findByTag(fig, closeTag));
    });
}

gui::Handle listed(const char* field) { return host::record("figureList").field(field).realAt(0); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_screenshots OUT_FOLDER\n");
        return 2;
    }
    outFolder = argv[1];
    std::error_code made;
    std::filesystem::create_directories(outFolder, made);
    if (made || !std::filesystem::is_directory(outFolder)) {
        std::fprintf(stderr, "window_screenshots: %s is not a folder I can write to\n", outFolder.c_str());
        return 1;
    }
    // The configuration saved at exit goes to a scratch folder, not the caller's.
    const auto scratch = std::filesystem::temp_directory_path() / ("brevia_screenshots_" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    outFolder = std::filesystem::absolute(outFolder).string();
    std::filesystem::current_path(scratch);
    if (!BreviaInitialize()) return 1;
    gui::ensureApplication();
    try {
        QTimer::singleShot(800, [] { save(gui::windowOf(figureTagged("SX_Splash")), "splash"); });
        host::callFunction("OneX_Fwd_b", 0, std::vector<Array>{});
        const gui::Handle main = figureTagged("main");
        // Every channel on, so that the pictures show them.
        for (const char* tag : {"chkMACchnActive", "chkDATAchnActive"}) {
            gui::set(gui::findByTag(main, tag), "Value", Array::scalar(1));
            gui::invokeCallback(gui::findByTag(main, tag));
        }
        gui::invokeCallback(gui::findByTag(main, "pbCalculate"));
        save(gui::windowOf(main), "main");

        whileOpen([] { return listed("figSlotSetup"); }, "slot-setup", "pbCancel", [](gui::Handle slot) {
            whileOpen([] { return listed("figRPCsetup"); }, "rpc-setup", "pbCancel");
            gui::invokeCallback(gui::findByTag(slot, "pbPRCslotSetup3"));
        });
        gui::invokeCallback(gui::findByTag(main, "pbSlotSetup"));
        whileOpen([] { return figureTagged("figureVisaAddress"); }, "io-connection", "pbCancel");
        gui::invokeCallback(gui::findByTag(main, "menuConfigSigGenIO"));
        whileOpen([] { return figureTagged("SX_About"); }, "about", "pbOK");
        gui::invokeCallback(gui::findByTag(main, "menuHelpAbout"));

        gui::invokeCallback(gui::findByTag(main, "menuPlotSpectrum"));
        const Array plots = host::record("appInfo").field("ClientWindows");
        if (plots.numel() == 1) {
            QWidget* plot = gui::windowOf(plots.realAt(0));
            plot->resize(900, 600);
            save(plot, "plot-frequency");
        } else {
            ++failures;
        }
        gui::invokeCallback(gui::findByTag(main, "menuPlotSignalQuality"));
        const Array windows = host::record("appInfo").field("ClientWindows");
        if (windows.numel() == 2) save(gui::windowOf(windows.realAt(1)), "signal-quality");
        else ++failures;
        gui::invokeCallback(gui::findByTag(main, "menuFileExit"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window_screenshots: %s\n", e.what());
        ++failures;
    }
    BreviaTerminate();
    std::filesystem::remove_all(scratch);
    return failures == 0 ? 0 : 1;
}
