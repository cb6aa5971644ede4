// The CCDF window: how often the instantaneous power reaches each level above the average,
// against the Gaussian reference.

#include "windows/plots/plots.h"
#include "host/function_table.h"
#include "host/text.h"

namespace ui {

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

}  // namespace ui

namespace brevia::bind {

std::vector<host::Array> SX_PlotCCDF(int, host::Arguments args) {
    constexpr const char* fn = "SX_PlotCCDF";
    const ui::Handle parent = args.size() > 0 ? ui::handleArgument(*args[0], fn, "hParent") : 0;
    const std::string label = args.size() > 1 ? ui::labelArgument(*args[1], fn) : "Test Data";
    const ui::Waveform wave = args.size() > 2 ? ui::waveformArgument(*args[2], fn) : ui::Waveform{};
    return {ui::figureResult(ui::SX_PlotCCDF(parent, label, wave))};
}

}  // namespace brevia::bind
