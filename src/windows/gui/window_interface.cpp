// The window library's entry point: what the core calls once it has loaded this library.

#include <QApplication>

#include "windows/gui/graphics.h"
#include "host/window_part.h"

namespace {

void savePng(double figure, const std::string& path, int width, int height) { host::gui::savePng(figure, path, width, height); }
void deleteObject(double figure) { host::gui::deleteObject(figure); }

void runUntilClosed() {
    host::gui::ensureApplication();
    QApplication::exec();
}

bool displayAvailable() {
    host::gui::ensureApplication();
    return !host::gui::offscreen();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const host::window::Interface* breviaWindowInterface() {
    static const host::window::Interface interface{host::window::kInterfaceVersion, host::window::windowBindings(), &savePng,
                                                   &deleteObject, &runUntilClosed, &displayAvailable};
    return &interface;
}
