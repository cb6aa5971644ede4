// The window library's entry point: what the core calls once it has loaded this library.

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <vector>

#include "windows/gui/graphics.h"
#include "host/window_part.h"

namespace {

void savePng(double figure, const std::string& path, int width, int height) { windows::gui::savePng(figure, path, width, height); }
void deleteObject(double figure) { windows::gui::deleteObject(figure); }

// The application has ended when the windows it showed have gone. Qt's own end, at the last
// window closed, never comes for a window that is deleted rather than closed, and dialogs kept
// hidden for reuse must not hold the process either; so the windows shown at the start are
// watched, and only they count.
void runUntilClosed() {
    windows::gui::ensureApplication();
    std::vector<QPointer<QWidget>> shown;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) shown.emplace_back(w);
    auto anyShown = [&shown] {
        for (const QPointer<QWidget>& w : shown)
            if (w && w->isVisible()) return true;
        return false;
    };
    if (!anyShown()) return;
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (!anyShown()) loop.quit();
    });
    watch.start(100);
    loop.exec();
}

bool displayAvailable() {
    windows::gui::ensureApplication();
    return !windows::gui::offscreen();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const host::window::Interface* breviaWindowInterface() {
    static const host::window::Interface interface{host::window::kInterfaceVersion, host::window::windowBindings(), &savePng,
                                                   &deleteObject, &runUntilClosed, &displayAvailable};
    return &interface;
}
