// The CCDF window: how often the instantaneous power reaches each level above the average,
// against the Gaussian reference.

#include "windows/plots/plots.h"
#include "host/function_table.h"
#include "host/text.h"

namespace windows::plots {

// What each plot shows, worked out without a display (src/UI).
using namespace ::ui;

Handle SX_PlotCCDF(Handle parent, const std::string& label, const Waveform& wave) {
    const plot::CcdfData d = plot::ccdfData(wave.samples, wave.real && !wave.samples.empty());
    const Handle fig = newPlotWindow("CCDF " + label, parent, plot::Placement::Standard);
    addPlotMenus(fig, true, false);
    const Handle ax = plotAxes(fig);
    using windows::gui::set;
    windows::gui::line(ax, d.X, d.Y);
    windows::gui::line(ax, d.X, d.Y1, {.red = 0.7, .green = 0.7, .blue = 0.7});
    dressAxes(ax, {"CCDF", "dB above Average", "Frequency of occurence (%)", 0, d.maxX, d.yMin, 100});
    set(ax, "YScale", "log");
    set(ax, "XGrid", "on");
    set(ax, "YGrid", "on");
    set(ax, "XTick", {0, 2});
    set(ax, "Tag", "SX_CCDF");
    set(fig, "Visible", "on");
    return fig;
}

}  // namespace windows::plots

namespace brevia::bind {

std::vector<host::Array> SX_PlotCCDF(int, host::Arguments args) {
    constexpr const char* fn = "SX_PlotCCDF";
    const windows::plots::Handle parent = args.size() > 0 ? windows::plots::handleArgument(*args[0], fn, "hParent") : 0;
    const std::string label = args.size() > 1 ? windows::plots::labelArgument(*args[1], fn) : "Test Data";
    const windows::plots::Waveform wave = args.size() > 2 ? windows::plots::waveformArgument(*args[2], fn) : windows::plots::Waveform{};
    return {windows::plots::figureResult(windows::plots::SX_PlotCCDF(parent, label, wave))};
}

}  // namespace brevia::bind
