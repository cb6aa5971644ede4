// Pictures of the application's windows as a user sees them, for the README: the splash, the
// main window after a calculation, the slot and RPC dialogs, the I/O dialog, About, the export
// dialog, the progress window of a download (to a simulated instrument that never answers),
// the main window set for coded packets, a plot window and the signal-quality window with
// its packets. Run on a display (scripts/screenshots uses a virtual one):
//     window_screenshots OUT_FOLDER
#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "brevia.h"
#include "host/function_table.h"
#include "host/records.h"
#include "sim/simulated_generator.h"
#include "windows/gui/graphics.h"

namespace gui = windows::gui;
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

// Pictures the next modal window of Qt's own that `pick` accepts, once it is up (unless no
// `picture` is wanted), then lets `close` end it; polls for up to ten seconds.
void whenModal(std::function<QWidget*(QWidget*)> pick, const char* name, std::function<void(QWidget*)> close, int settleMs = 300,
               bool picture = true) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* w = QApplication::activeModalWidget() ? pick(QApplication::activeModalWidget()) : nullptr;
        if (!w && ++*tries < 200) return;
        timer->stop();
        timer->deleteLater();
        if (!w) {
            std::fprintf(stderr, "window_screenshots: %s did not open\n", name);
            ++failures;
            return;
        }
        QTimer::singleShot(settleMs, [=] {
            if (picture) save(w, name);
            close(w);
        });
    });
    timer->start(50);
}

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

        whileOpen([] { return listed("figSlotSetup"); }, "slot-setup", "pbCancel", [](gui::Handle slot) {
            whileOpen([] { return listed("figRPCsetup"); }, "rpc-setup", "pbCancel");
            gui::invokeCallback(gui::findByTag(slot, "pbPRCslotSetup3"));
        });
        gui::invokeCallback(gui::findByTag(main, "pbSlotSetup"));
        whileOpen([] { return figureTagged("figureVisaAddress"); }, "io-connection", "pbCancel");
        gui::invokeCallback(gui::findByTag(main, "menuConfigSigGenIO"));
        whileOpen([] { return figureTagged("SX_About"); }, "about", "pbOK");
        gui::invokeCallback(gui::findByTag(main, "menuHelpAbout"));

        // From here on coded packets (DRC 3 to MAC index 9 on interlaces 0, 2 and 3), so that
        // the main window and the quality window show them.
        const auto choose = [&](const char* tag, double v) {
            gui::set(gui::findByTag(main, tag), "Value", Array::scalar(v));
            gui::invokeCallback(gui::findByTag(main, tag));
        };
        choose("pdDATApacketMode", 2);
        choose("pdDATApacketDRC", 3);
        gui::set(gui::findByTag(main, "txtDATApacketMAC"), "String", "9");
        gui::invokeCallback(gui::findByTag(main, "txtDATApacketMAC"));
        choose("chkDATApacketInterlace2", 0);
        gui::invokeCallback(gui::findByTag(main, "pbCalculate"));

        // File > Export Waveform...: the save dialog with its file types.
        whenModal([](QWidget* w) { return qobject_cast<QFileDialog*>(w); }, "export-dialog", [](QWidget* w) {
            qobject_cast<QDialog*>(w)->reject();
        });
        QTimer::singleShot(0, [] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->resize(760, 440);
        });
        gui::invokeCallback(gui::findByTag(main, "menuFileExportWaveform"));

        // Download to an instrument that takes the connection and never answers: the
        // progress window, then Cancel, then the box that says so.
        sim::Options options;
        options.idleTimeout = std::chrono::seconds(30);
        sim::SimulatedGenerator silent(options);
        silent.start();
        sim::Faults faults;
        faults.silent = true;
        silent.setFaults(faults);
        Array lan = Array::structure();
        lan.setField("address", Array::string("127.0.0.1"));
        lan.setField("port", Array::int32Scalar(silent.port()));
        Array& configuration = host::record("configuration");
        configuration.setField("type", Array::string("LAN"));
        configuration.setField("LAN", lan);
        whenModal([](QWidget* w) { return w->objectName() == "instrumentProgress" ? w : nullptr; }, "progress", [](QWidget* w) {
            whenModal([](QWidget* box) { return box->objectName() == "instrumentProgress" ? nullptr : box; }, "download-cancelled",
                      [](QWidget* box) { qobject_cast<QDialog*>(box)->accept(); }, 100, false);
            w->findChild<QPushButton*>("pbCancel")->click();
        }, 800);
        gui::invokeCallback(gui::findByTag(main, "pbDownload"));
        silent.stop();
        // The main window with its status line: the calculation, and the download cancelled.
        save(gui::windowOf(main), "main");

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
