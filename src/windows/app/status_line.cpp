#include "windows/app/status_line.h"

#include <ctime>

#include "UI/status_line.h"
#include "host/array.h"
#include "windows/gui/graphics.h"

namespace windows::app {

// The application's logic without a display (src/UI) and the plot windows, by their short names.
using namespace ::ui;

namespace {

namespace gui = windows::gui;

const char* tagOf(StatusPart part) {
    switch (part) {
    case StatusPart::Calculation: return "txtStatusCalculation";
    case StatusPart::File: return "txtStatusFile";
    case StatusPart::Instrument: return "txtStatusInstrument";
    case StatusPart::Error: return "txtStatusError";
    }
    return "";
}

gui::Handle mainWindow() {
    const host::Array children = gui::get(gui::kRoot, "Children");
    for (std::size_t i = 0; i < children.numel(); ++i)
        if (gui::get(children.realAt(i), "Tag").text() == "main") return children.realAt(i);
    return 0;
}

}  // namespace

void showStatus(StatusPart part, const std::string& text) {
    const gui::Handle main = mainWindow();
    if (!main) return;
    const gui::Handle label = gui::findByTag(main, tagOf(part));
    if (!label) return;
    gui::set(label, "String", text);
    gui::set(label, "TooltipString", text);
    gui::set(label, "Visible", text.empty() ? "off" : "on");
}

void showStatusNow(StatusPart part, const std::string& what, const std::string& text) {
    showStatus(part, status::line(what, std::time(nullptr), text));
}

}  // namespace windows::app
