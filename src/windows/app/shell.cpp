// The small window functions the application's windows share: the main window's menu bar,
// the splash window, the About box, loading and centring windows, font enlargement.

#include <cmath>
#include <string>
#include <vector>

#include "UI/app_records.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"
#include "windows/gui/graphics.h"

namespace windows::app {

// The application's logic without a display (src/UI) and the plot windows, by their short names.
using namespace ::ui;

using host::Array;
using windows::gui::Handle;
namespace gui = windows::gui;

namespace {

// The menu bar: top-level menus with their items, in order. Every item calls the common
// actions' dispatcher with itself as the calling object.
struct MenuItem {
    const char* label;
    const char* tag;
    bool separator;
    bool hidden;
};
struct Menu {
    const char* field;  // the field of the result that holds the menu
    const char* label;
    const char* tag;
    bool hidden;
    std::vector<MenuItem> items;
};

const std::vector<Menu>& menuBar() {
    static const std::vector<Menu> menus = {
        {"File", "&File", "menuFile", false,
         {{"&New", "menuFileNew", false, false},
          {"&Open...", "menuFileOpen", false, false},
          {"&Save", "menuFileSave", false, false},
          {"Save &As...", "menuFileSaveAs", false, false},
          {"&Export Waveform...", "menuFileExportWaveform", false, false},
          {"E&xit", "menuFileExit", true, false}}},
        {"Plot", "&Plot", "menuPlot", false,
         {{"&Spectrum", "menuPlotSpectrum", false, false},
          {"&Waterfall", "menuPlotWaterfall", false, true},
          {"&I(t) Q(t)", "menuPlotIQTime", true, false},
          {"I(t) Q(t) &Overlayed", "menuPlotIQTimeSameAxes", false, false},
          {"&Eye Diagram", "menuPlotEyeDiagram", false, true},
          {"S&catter Diagram", "menuPlotScatterDiagram", false, true},
          {"&CCDF", "menuPlotCCDF", true, false},
          {"Signal &Quality...", "menuPlotSignalQuality", false, false}}},
        {"Config", "&Configuration", "menuConfig", false,
         {{"&Sig Gen I/O", "menuConfigSigGenIO", false, false}, {"Spec &An I/O", "menuConfigSpecAnIO", false, true}}},
        {"Special", "&Special", "menuSpecial", true, {{"Save &Wave...", "menuSpecialSaveWave", false, false}}},
        {"Help", "&Help", "menuHelp", false,
         {{"&Help", "menuHelpHelp", false, false}, {"&About", "menuHelpAbout", false, false}}},
    };
    return menus;
}

Handle handleArgument(const Array& a, const char* function, const char* name) {
    return host::realScalar(a, {function, name});
}

gui::Position positionOf(Handle h) {
    const Array p = gui::get(h, "Position");
    return {p.realAt(0), p.realAt(1), p.realAt(2), p.realAt(3)};
}

// "reuse" mode: a window of this layout that is open already is taken again.
Handle openReused(const std::string& layout) {
    const Array figures = gui::get(gui::kRoot, "Children");
    for (std::size_t i = 0; i < figures.numel(); ++i)
        if (gui::get(figures.realAt(i), "Tag").text() == layout) return figures.realAt(i);
    return gui::openfig(layout);
}

}  // namespace

Array SX_AddMenu(Handle figure) {
    if (!gui::isValid(figure) || gui::kindOf(figure) != gui::Kind::Figure)
        throw host::Error("SX_AddMenu: the argument must be a handle to a window.");
    Array headers = Array::structure();
    for (const Menu& menu : menuBar()) {
        const Handle top = gui::uimenu(figure, {.label = menu.label, .tag = menu.tag});
        for (const MenuItem& item : menu.items) {
            const Handle h = gui::uimenu(top, {.label = item.label,
                                               .callback = std::string("rfCommonUI('") + item.tag + "_Callback',gcbo,[],guidata(gcbo))",
                                               .tag = item.tag,
                                               .separator = item.separator});
            if (item.hidden) gui::set(h, "Visible", "off");
        }
        if (menu.hidden) gui::set(top, "Visible", "off");
        headers.setField(menu.field, Array::scalar(top));
    }
    return headers;
}

void positionChildWindow(Handle child, Handle parent) {
    const gui::Position c = positionOf(child);
    const Array parentPosition = parent == gui::kRoot ? gui::get(gui::kRoot, "ScreenSize") : gui::get(parent, "Position");
    const Placed p = centredOn({c.left, c.bottom, c.width, c.height},
                               {parentPosition.realAt(0), parentPosition.realAt(1), parentPosition.realAt(2), parentPosition.realAt(3)});
    gui::set(child, "Position", {p.left, p.bottom, p.width, p.height});
}

void resizeAllFonts(const Array& handles) {
    const double dpi = gui::get(gui::kRoot, "ScreenPixelsPerInch").realAt(0);
    if (enlargedFontSize(8, dpi) == 8 || !handles.isStruct()) return;
    // Every size is read before any is set: a group's controls inherit its font, and must
    // grow once, from their own size, not again from the group's grown one.
    std::vector<std::pair<Handle, double>> sizes;
    for (std::size_t f = 0; f < handles.fieldCount(); ++f) {
        const Array& field = handles.fieldAt(static_cast<int>(f), 0);
        for (std::size_t i = 0; field.isNumeric() && i < field.numel(); ++i) {
            const Handle h = field.realAt(i);
            if (gui::isValid(h) && gui::kindOf(h) == gui::Kind::Control) sizes.emplace_back(h, gui::get(h, "FontSize").realAt(0));
        }
    }
    for (const auto& [h, size] : sizes) gui::set(h, "FontSize", Array::scalar(enlargedFontSize(size, dpi)));
}

Handle loadFigure(const std::string& file, Handle parent) {
    const Handle fig = gui::openfig(file);
    gui::set(fig, "Color", gui::get(gui::kRoot, "DefaultUicontrolBackgroundColor"));
    gui::guidata(fig, gui::guihandles(fig));
    positionChildWindow(fig, parent);
    return fig;
}

Handle SX_Splash() {
    const Handle fig = openReused("SX_Splash");
    gui::guidata(fig, gui::guihandles(fig));
    positionChildWindow(fig, gui::kRoot);
    gui::setImage(gui::findByTag(fig, "txtLogo"), "splash.jpg");
    gui::set(fig, "Visible", "on");
    return fig;
}

void SX_About(Handle parent, const Array* app) {
    const Handle box = openReused("SX_About");
    if (gui::waiting(box)) {  // up already: a second one would tear it down under the first
        gui::raise(box);
        return;
    }
    gui::set(box, "Color", gui::get(gui::kRoot, "DefaultUicontrolBackgroundColor"));
    const Array handles = gui::guihandles(box);
    gui::guidata(box, handles);
    if (parent != gui::kRoot && (!gui::isValid(parent) || gui::kindOf(parent) != gui::Kind::Figure)) {
        gui::deleteObject(box);  // not left behind, hidden, for the next call to reuse half set up
        throw host::Error("Input argument must be a handle to parent");
    }
    positionChildWindow(box, parent);
    Array info = Array::structure();
    if (app && app->isStruct()) {
        info = *app;
    } else {
        for (const char* f : {"Name", "Rev", "Date", "Notes", "NotesLine2", "NotesLine3", "NotesLine4", "NotesLine5"})
            info.setField(f, Array::string(" "));
    }
    resizeAllFonts(handles);
    auto text = [&](const char* field) {
        const Array* v = info.findField(field);
        return v && v->isChar() ? v->text() : std::string(" ");
    };
    gui::set(box, "Name", text("Name"));
    const Array* release = info.findField("IsRelease");
    const bool isRelease = release && release->isNumeric() && release->numel() == 1 && release->realAt(0) != 0;
    const std::string rev = text("Rev");
    gui::set(gui::findByTag(box, "lblRevision"), "String", isRelease ? (rev + std::string(7, ' ')).substr(0, 7) : rev + "  Proto");
    gui::set(gui::findByTag(box, "lblDate"), "String", text("Date"));
    const char* notes[][2] = {{"lblNotes", "Notes"},           {"lblNotesLine2", "NotesLine2"}, {"lblNotesLine3", "NotesLine3"},
                              {"lblNotesLine4", "NotesLine4"}, {"lblNotesLine5", "NotesLine5"}};
    for (const auto& [label, field] : notes)
        if (const Handle h = gui::findByTag(box, label)) gui::set(h, "String", text(field));
    gui::setImage(gui::findByTag(box, "txtLogo"), "about_logo.jpg");
    gui::set(box, "WindowStyle", "modal");
    gui::set(box, "Visible", "on");
    gui::raise(box);
    gui::uiwait(box);
    if (gui::isValid(box)) gui::deleteObject(box);
}

}  // namespace windows::app

namespace brevia::bind {

using host::Arguments;
using host::Array;

std::vector<Array> SX_AddMenu(int, Arguments args) {
    return {windows::app::SX_AddMenu(windows::app::handleArgument(*args[0], "SX_AddMenu", "hFigure"))};
}

std::vector<Array> SX_Splash(int, Arguments) { return {Array::scalar(windows::app::SX_Splash())}; }

std::vector<Array> SX_About(int, Arguments args) {
    windows::app::SX_About(windows::app::handleArgument(*args[0], "SX_About", "parent"), args.size() > 1 ? args[1] : nullptr);
    return {};
}

std::vector<Array> loadFigure(int, Arguments args) {
    if (!args[0]->isChar()) throw host::Error("loadFigure: the layout file name must be text.");
    return {Array::scalar(windows::app::loadFigure(args[0]->text(), windows::app::handleArgument(*args[1], "loadFigure", "parent")))};
}

std::vector<Array> positionChildWindow(int, Arguments args) {
    windows::app::positionChildWindow(windows::app::handleArgument(*args[0], "positionChildWindow", "child"),
                            windows::app::handleArgument(*args[1], "positionChildWindow", "parent"));
    return {};
}

std::vector<Array> resizeAllFonts(int, Arguments args) {
    windows::app::resizeAllFonts(*args[0]);
    return {};
}

}  // namespace brevia::bind
