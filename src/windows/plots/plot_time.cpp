// I and Q against time, the eye diagram and the scatter diagram, and the Zoom and Rotate
// toggles of every plot window's Tools menu.

#include <algorithm>
#include <cmath>
#include <limits>

#include "windows/plots/plots.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"

namespace windows::plots {

// What each plot shows, worked out without a display (src/UI).
using namespace ::ui;

namespace {

using windows::gui::set;

// The default positions of the two rows of a stacked layout, before the plots move them.
constexpr plot::Rect kUpperRow{0.13, 0.5838, 0.775, 0.3412};
constexpr plot::Rect kLowerRow{0.13, 0.11, 0.775, 0.3412};

Handle rowAxes(Handle fig, const plot::Rect& p) { return windows::gui::axes(fig, toPosition(p)); }

// Symmetric limits around the largest magnitude, with a little room; [-1, 1] for silence.
std::pair<double, double> amplitudeLimits(const std::vector<double>& a, const std::vector<double>& b) {
    double peak = 0;
    for (const auto* v : {&a, &b})
        for (double x : *v)
            if (std::isfinite(x)) peak = std::max(peak, std::fabs(x));
    if (!(peak > 0)) peak = 1;
    return {-1.05 * peak, 1.05 * peak};
}

// Traces one after the other, joined into one polyline broken by NaN between traces: one
// plottable instead of hundreds of thousands.
void tracesWithBreaks(const plot::EyeData& d, const std::vector<double>& values, std::vector<double>& x, std::vector<double>& y) {
    const std::size_t per = d.pointsPerTrace;
    x.clear();
    y.clear();
    x.reserve(d.traces * (per + 1));
    y.reserve(d.traces * (per + 1));
    for (std::size_t t = 0; t < d.traces; ++t) {
        for (std::size_t k = 0; k < per; ++k) {
            x.push_back(d.time[k]);
            y.push_back(values[t * per + k]);
        }
        x.push_back(std::numeric_limits<double>::quiet_NaN());
        y.push_back(std::numeric_limits<double>::quiet_NaN());
    }
}

}  // namespace

// The library eye diagram: a window with the in-phase traces above the quadrature ones.
Handle eyediagram(const host::ComplexVector& x, double n, double period, double offset) {
    const plot::EyeData d = plot::eyeDiagramData(x, n, period, offset);
    const Handle fig = windows::gui::figure({});
    std::vector<double> tx, ty;
    const auto [low, high] = amplitudeLimits(d.iTraces, d.qTraces);
    const struct {
        const plot::Rect& row;
        const std::vector<double>& values;
        const char* title;
    } rows[] = {{kUpperRow, d.iTraces, "Eye Diagram for In-Phase Signal"}, {kLowerRow, d.qTraces, "Eye Diagram for Quadrature Signal"}};
    for (const auto& r : rows) {
        const Handle ax = rowAxes(fig, r.row);
        tracesWithBreaks(d, r.values, tx, ty);
        windows::gui::line(ax, tx, ty, {.keepOrder = true});
        dressAxes(ax, {r.title, "Time", "Amplitude", -period / 2, period / 2, low, high});
    }
    return fig;
}

// The library scatter plot: the points x(offset + 1), x(offset + 1 + n), ... in the line
// style given ("b." dots, "c-" a joined trajectory), into `target` when it is a figure.
Handle scatterplot(const host::ComplexVector& x, double n, double offset, const std::string& style, Handle target) {
    const plot::ScatterData d = plot::scatterData(x, n, offset);
    Handle fig = target;
    Handle ax = 0;
    if (fig && windows::gui::isValid(fig)) {
        for (Handle c : windows::gui::childrenOf(fig))
            if (windows::gui::kindOf(c) == windows::gui::Kind::Axes) ax = c;
    } else {
        fig = windows::gui::figure({});
    }
    if (!ax) ax = plotAxes(fig);
    windows::gui::LineOptions o{.keepOrder = true};
    if (style.size() >= 1 && style[0] == 'c') o = {.red = 0, .green = 0.75, .blue = 0.75, .keepOrder = true};
    if (style.size() >= 1 && style[0] == 'b') o = {.red = 0, .green = 0, .blue = 1, .keepOrder = true};
    const bool dots = style.find('.') != std::string::npos;
    if (dots) {
        o.lineStyle = "none";
        o.marker = ".";
    }
    windows::gui::line(ax, d.i, d.q, o);
    const auto [low, high] = amplitudeLimits(d.i, d.q);
    // The first call sets the square view; a later one into the same axes widens it if needed.
    double lo = low, hi = high;
    if (target) {
        const host::Array old = windows::gui::get(ax, "XLim");
        lo = std::min(lo, old.realAt(0));
        hi = std::max(hi, old.realAt(1));
    }
    dressAxes(ax, {"Scatter plot", "In-Phase", "Quadrature", lo, hi, lo, hi});
    return fig;
}

Handle SX_PlotIQTime(Handle parent, std::string label, double sampleRate, bool overlay, const Waveform& wave) {
    const plot::IqTimeData d = plot::iqTimeData(sampleRate, wave.samples);
    if (d.testCircle) label = "No Data";
    const Handle fig = newPlotWindow("I(t) Q(t) " + label, parent, plot::Placement::Standard);
    addPlotMenus(fig, false, true);
    const std::string timeLabel = "Time (" + d.units.unit + ")";
    const double iMax = d.iMax > 0 ? d.iMax : 1;  // silence still gets an amplitude axis
    const double tMax = d.tMax > 0 ? d.tMax : 1;
    if (overlay) {
        const Handle ax = plotAxes(fig);
        windows::gui::line(ax, d.t, d.i);
        windows::gui::line(ax, d.t, d.q, {.red = 1, .green = 0, .blue = 1});
        dressAxes(ax, {"I(t) Q(t)", timeLabel, "Amplitude (V)", 0, tMax, -iMax, iMax});
        set(ax, "Tag", "SX_IQwave");
    } else {
        const Handle upper = rowAxes(fig, {kUpperRow.left * 1.2, kUpperRow.bottom, kUpperRow.width, kUpperRow.height / 1.1});
        const Handle lower = rowAxes(fig, {kLowerRow.left * 1.2, kLowerRow.bottom * 1.2, kLowerRow.width, kLowerRow.height / 1.1});
        windows::gui::line(upper, d.t, d.i);
        windows::gui::line(lower, d.t, d.q);
        set(upper, "Tag", "SX_Iwave");
        set(lower, "Tag", "SX_Qwave");
        dressAxes(upper, {"I(t)", "", "Amplitude (V)", 0, tMax, -iMax, iMax});
        dressAxes(lower, {"Q(t)", timeLabel, "Amplitude (V)", 0, tMax, -iMax, iMax});
    }
    set(fig, "Visible", "on");
    return fig;
}

namespace {

// Gives a library plot its window's name, place and menus.
void dressLibraryPlot(Handle fig, const std::string& name, Handle parent) {
    const ParentPlacement from = parentPlacement(parent);
    set(fig, "MenuBar", "none");
    set(fig, "Units", from.pixels ? "pixels" : "normalized");
    set(fig, "Position", host::Array::row([&] {
            const plot::Rect r = plot::plotWindowPosition(plot::Placement::Standard, from.position, from.pixels);
            return std::vector<double>{r.left, r.bottom, r.width, r.height};
        }()));
    set(fig, "Name", name);
    set(fig, "NumberTitle", "off");
    addPlotMenus(fig, false, true);
    set(fig, "Visible", "on");
}

}  // namespace

Handle SX_PlotEyeDiagram(Handle parent, const std::string& label, const Waveform& wave, double n, double period, double offset) {
    const plot::EyeArguments a = plot::clampEyeArguments(n, period, offset);
    Handle fig = 0;
    try {
        fig = eyediagram(wave.samples, a.n, a.period, a.offset);
        dressLibraryPlot(fig, "Eye Diagram " + label, parent);
        return fig;
    } catch (const std::exception& e) {
        if (fig && windows::gui::isValid(fig)) windows::gui::deleteObject(fig);
        showPlotError("Unable to Plot Eye Diagram", e.what());
        return 0;
    }
}

Handle SX_PlotScatterDiagram(Handle parent, const std::string& label, const Waveform& wave, double n, double offset, bool traceOn) {
    const plot::ScatterArguments a = plot::clampScatterArguments(n, offset);
    Handle fig = 0;
    try {
        if (!traceOn) {
            fig = scatterplot(wave.samples, a.n, a.offset, "b.", 0);
        } else {
            fig = scatterplot(wave.samples, 1, a.offset, "c-", 0);
            fig = scatterplot(wave.samples, a.n, a.offset, "b.", fig);
        }
        dressLibraryPlot(fig, "Scatter Diagram " + label, parent);
        return fig;
    } catch (const std::exception& e) {
        if (fig && windows::gui::isValid(fig)) windows::gui::deleteObject(fig);
        showPlotError("Unable to Plot Scatter Diagram", e.what());
        return 0;
    }
}

namespace {

// The Zoom and Rotate items of the current figure; a figure without them is an error.
std::pair<Handle, Handle> toolItems(const char* function) {
    const Handle fig = windows::gui::gcf();
    if (!fig) throw host::Error(std::string(function) + ": there is no current figure.");
    const Handle zoom = windows::gui::findByTag(fig, "SX_Zoom"), rotate = windows::gui::findByTag(fig, "SX_Rotate");
    if (!zoom || !rotate) throw host::Error(std::string(function) + ": the current figure has no Zoom and Rotate menu items.");
    return {zoom, rotate};
}

bool checked(Handle item) { return windows::gui::get(item, "Checked").text() == "on"; }

void toggle(const char* function, windows::gui::Mode mode) {
    const auto [zoom, rotate] = toolItems(function);
    const Handle mine = mode == windows::gui::Mode::Zoom ? zoom : rotate;
    const Handle other = mine == zoom ? rotate : zoom;
    const Handle fig = windows::gui::gcf();
    if (checked(mine)) {
        windows::gui::setMode(fig, mode, false);
        set(mine, "Checked", "off");
    } else {
        windows::gui::setMode(fig, mode, true);  // switches the other mode off
        set(mine, "Checked", "on");
        set(other, "Checked", "off");
    }
}

}  // namespace

void SX_Zoom() { toggle("SX_Zoom", windows::gui::Mode::Zoom); }
void SX_Rotate() { toggle("SX_Rotate", windows::gui::Mode::Rotate); }

}  // namespace windows::plots

namespace brevia::bind {

using host::Array;

std::vector<Array> SX_PlotIQTime(int, host::Arguments args) {
    constexpr const char* fn = "SX_PlotIQTime";
    return {windows::plots::figureResult(windows::plots::SX_PlotIQTime(windows::plots::handleArgument(*args[0], fn, "hParent"), windows::plots::labelArgument(*args[1], fn),
                                               host::realScalar(*args[2], {fn, "sampleRate"}),
                                               host::realScalar(*args[3], {fn, "overlay"}) != 0, windows::plots::waveformArgument(*args[4], fn)))};
}

std::vector<Array> SX_PlotEyeDiagram(int, host::Arguments args) {
    constexpr const char* fn = "SX_PlotEyeDiagram";
    return {windows::plots::figureResult(windows::plots::SX_PlotEyeDiagram(
        windows::plots::handleArgument(*args[0], fn, "hParent"), windows::plots::labelArgument(*args[1], fn), windows::plots::waveformArgument(*args[2], fn),
        host::realScalar(*args[3], {fn, "n"}), host::realScalar(*args[4], {fn, "period"}), host::realScalar(*args[5], {fn, "offset"})))};
}

std::vector<Array> SX_PlotScatterDiagram(int, host::Arguments args) {
    constexpr const char* fn = "SX_PlotScatterDiagram";
    return {windows::plots::figureResult(windows::plots::SX_PlotScatterDiagram(
        windows::plots::handleArgument(*args[0], fn, "hParent"), windows::plots::labelArgument(*args[1], fn), windows::plots::waveformArgument(*args[2], fn),
        host::realScalar(*args[3], {fn, "n"}), host::realScalar(*args[4], {fn, "offset"}), host::realScalar(*args[5], {fn, "traceOn"}) != 0))};
}

std::vector<Array> SX_Zoom(int, host::Arguments) {
    windows::plots::SX_Zoom();
    return {};
}

std::vector<Array> SX_Rotate(int, host::Arguments) {
    windows::plots::SX_Rotate();
    return {};
}

}  // namespace brevia::bind
