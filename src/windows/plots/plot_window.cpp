#include "windows/plots/plot_window.h"

#include <QWidget>

#include "host/convert.h"
#include "host/dialogs.h"
#include "host/error.h"

namespace windows::plots {

// What each plot shows, worked out without a display (src/UI).
using namespace ::ui;

namespace {
constexpr plot::Rect kDefaultAxes{0.13, 0.11, 0.775, 0.815};
const QSize kLeastPlotWindow(300, 240);
}

windows::gui::Position toPosition(const plot::Rect& r) { return {r.left, r.bottom, r.width, r.height}; }

ParentPlacement parentPlacement(Handle parent) {
    if (parent == windows::gui::kRoot) return {std::nullopt, true};
    if (!windows::gui::isValid(parent) || windows::gui::kindOf(parent) != windows::gui::Kind::Figure)
        throw host::Error("The parent " + std::to_string(parent) + " is not a figure window.");
    const host::Array p = windows::gui::get(parent, "Position");
    const bool pixels = windows::gui::get(parent, "Units").text() == "pixels";
    return {plot::Rect{p.realAt(0), p.realAt(1), p.realAt(2), p.realAt(3)}, pixels};
}

Handle newPlotWindow(const std::string& name, Handle parent, plot::Placement placement, bool standardMenuBar) {
    const ParentPlacement from = parentPlacement(parent);
    windows::gui::FigureOptions o;
    o.name = name;
    o.normalized = !from.pixels;
    o.position = toPosition(plot::plotWindowPosition(placement, from.position, from.pixels));
    o.standardMenuBar = standardMenuBar;
    const Handle fig = windows::gui::figure(o);
    // Smaller than this, tick labels overlap and the plot box vanishes behind them.
    windows::gui::windowOf(fig)->setMinimumSize(kLeastPlotWindow);
    return fig;
}

void addPlotMenus(Handle figure, bool rotateEnabled, bool separateZoomReset) {
    using windows::gui::uimenu;
    const Handle file = uimenu(figure, {.label = "&File"});
    uimenu(file, {.label = "&Print", .callback = "print"});
    uimenu(file, {.label = "Print &Setup", .callback = "print -dsetup"});
    uimenu(file, {.label = "&Close", .callback = "close(gcf)", .separator = true});
    const Handle edit = uimenu(figure, {.label = "&Edit"});
    uimenu(edit, {.label = "&Copy", .callback = "print -dmeta"});
    const Handle tools = uimenu(figure, {.label = "&Tools"});
    uimenu(tools, {.label = "&Zoom", .callback = "SX_Zoom", .tag = "SX_Zoom"});
    uimenu(tools, {.label = "&Rotate", .callback = "SX_Rotate", .tag = "SX_Rotate", .enabled = rotateEnabled});
    uimenu(tools, {.label = "Zoom Re&set", .callback = "zoom out", .tag = "SX_ZoomReset", .separator = separateZoomReset});
}

void dressAxes(Handle ax, const AxesLook& look) {
    using windows::gui::set;
    set(ax, "Title", look.title);
    set(ax, "XLabel", look.xLabel);
    set(ax, "YLabel", look.yLabel);
    set(ax, "XLim", {look.xMin, look.xMax});
    set(ax, "YLim", {look.yMin, look.yMax});
}

Handle plotAxes(Handle figure) {
    return windows::gui::axes(figure, toPosition(plot::adjustedAxesPosition(kDefaultAxes)));
}

void showPlotError(const std::string& what, const std::string& reason) {
    host::dialogs().message(what + "\n" + reason, "Plot Error", host::MessageIcon::Error);
}

Waveform waveformArgument(const host::Array& a, const char* function) {
    Waveform w;
    if (a.isEmpty() || a.isChar()) return w;
    w.samples = host::complexVector(a, {function, "iqWave"});
    for (const auto& s : w.samples)
        if (s.imag() != 0) {
            w.real = false;
            break;
        }
    return w;
}

std::string labelArgument(const host::Array& a, const char* function) {
    if (a.isEmpty()) return "";
    if (!a.isChar()) throw host::Error(std::string(function) + ": label must be text.");
    return a.text();
}

Handle handleArgument(const host::Array& a, const char* function, const char* name) {
    if (a.isEmpty()) return windows::gui::kRoot;
    return host::realScalar(a, {function, name});
}

host::Array figureResult(Handle figure) { return figure ? host::Array::scalar(figure) : host::Array(); }

}  // namespace windows::plots
