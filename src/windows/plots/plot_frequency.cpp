// The magnitude spectrum of the whole waveform and the spectrum waterfall of its slices.

#include <algorithm>
#include <cmath>

#include "windows/plots/plots.h"
#include "host/convert.h"
#include "host/error.h"
#include "host/function_table.h"

namespace windows::plots {

// What each plot shows, worked out without a display (src/UI).
using namespace ::ui;

namespace {

std::string frequencyLabel(const plot::FrequencyUnits& u) { return "Frequency (" + u.unit + ")"; }

// A 3-D view of thousands of bins per slice would be slower to turn than the screen can show;
// neighbouring bins are merged keeping their highest level, so that no peak is lost.
struct DisplayGrid {
    std::vector<double> x, z;
};
DisplayGrid mergeBins(const plot::WaterfallData& d, std::size_t maxBins) {
    const std::size_t group = (d.n + maxBins - 1) / maxBins;
    DisplayGrid g;
    if (group <= 1) {
        g.x = d.f;
        g.z = d.levels;
        return g;
    }
    const std::size_t bins = (d.n + group - 1) / group;
    g.x.resize(bins);
    for (std::size_t b = 0; b < bins; ++b) g.x[b] = d.f[std::min(d.n - 1, b * group + group / 2)];
    g.z.resize(bins * d.m);
    for (std::size_t s = 0; s < d.m; ++s)
        for (std::size_t b = 0; b < bins; ++b) {
            double peak = -HUGE_VAL;
            for (std::size_t k = b * group; k < std::min(d.n, (b + 1) * group); ++k) peak = std::max(peak, d.levels[s * d.n + k]);
            g.z[s * bins + b] = peak;
        }
    return g;
}

}  // namespace

Handle SX_PlotSpectrum(Handle parent, const std::string& label, double sampleRate, const Waveform& wave) {
    const plot::SpectrumData d = plot::spectrumData(sampleRate, wave.samples);
    const Handle fig = newPlotWindow("Magnitude Spectrum " + label, parent, plot::Placement::Spectrum);
    addPlotMenus(fig, true, false);
    const Handle ax = plotAxes(fig);
    using windows::gui::set;
    windows::gui::line(ax, d.f, d.magSignal);
    dressAxes(ax, {"Spectrum", frequencyLabel(d.units), "LogMag (dB)", d.fMin, d.fMax, d.mMin, d.mMax});
    set(ax, "XGrid", "on");
    set(ax, "YGrid", "on");
    set(fig, "Visible", "on");
    return fig;
}

Handle SX_PlotWaterfall(Handle parent, const std::string& label, double sampleRate, double period, const Waveform& wave) {
    const plot::WaterfallData d = plot::waterfallData(sampleRate, period, wave.samples);
    const Handle fig = newPlotWindow("Spectrum Waterfall " + label, parent, plot::Placement::Waterfall, true);
    addPlotMenus(fig, true, true);
    const Handle ax = windows::gui::axes(fig);
    DisplayGrid grid = mergeBins(d, 1024);
    // Levels below the floor of the level axis would hang below the view as needles.
    for (double& z : grid.z) z = std::clamp(std::isfinite(z) ? z : d.mMin, d.mMin, d.mMax);
    windows::gui::waterfall(ax, grid.x, d.sliceTime, grid.z);
    using windows::gui::set;
    set(ax, "XLabel", frequencyLabel(d.fUnits));
    set(ax, "YLabel", "Time (" + d.tUnits.unit + ")");
    set(ax, "ZLabel", "LogMag (dB)");
    set(ax, "Title", "Spectrum");
    set(ax, "XLim", {d.fMin, d.fMax});
    // One slice has no extent in time: show it on a span of its own duration.
    set(ax, "YLim", {0, d.tMax > 0 ? d.tMax : (d.n * d.tUnits.multiplier / std::max(sampleRate, 1.0))});
    set(ax, "ZLim", {d.mMin, d.mMax > d.mMin ? d.mMax : d.mMin + 10});
    set(fig, "Visible", "on");
    return fig;
}

}  // namespace windows::plots

namespace brevia::bind {

std::vector<host::Array> SX_PlotSpectrum(int, host::Arguments args) {
    constexpr const char* fn = "SX_PlotSpectrum";
    return {windows::plots::figureResult(windows::plots::SX_PlotSpectrum(windows::plots::handleArgument(*args[0], fn, "hParent"), windows::plots::labelArgument(*args[1], fn),
                                                 host::realScalar(*args[2], {fn, "sampleRate"}),
                                                 windows::plots::waveformArgument(*args[3], fn)))};
}

std::vector<host::Array> SX_PlotWaterfall(int, host::Arguments args) {
    constexpr const char* fn = "SX_PlotWaterfall";
    return {windows::plots::figureResult(windows::plots::SX_PlotWaterfall(windows::plots::handleArgument(*args[0], fn, "hParent"), windows::plots::labelArgument(*args[1], fn),
                                                  host::realScalar(*args[2], {fn, "sampleRate"}),
                                                  host::realScalar(*args[3], {fn, "period"}), windows::plots::waveformArgument(*args[4], fn)))};
}

}  // namespace brevia::bind
