#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <set>
#include <qcustomplot.h>

#include "windows/plots/plots.h"
#include "error_message.h"
#include "host/dialogs.h"
#include "host/function_table.h"

using host::Array;
using namespace windows::gui;

namespace {

class PlotWindows : public ::testing::Test {
protected:
    std::shared_ptr<host::ScriptedDialogs> dialogs = std::make_shared<host::ScriptedDialogs>();
    void SetUp() override {
        ensureApplication();
        host::setDialogProvider(dialogs);
    }
    void TearDown() override {
        closeAllFigures();
        host::setDialogProvider(nullptr);
    }
};

std::vector<double> values(const Array& a) {
    std::vector<double> v(a.numel());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = a.realAt(i);
    return v;
}

windows::plots::Waveform tone(std::size_t n, double cyclesPerSample) {
    windows::plots::Waveform w;
    w.real = false;
    w.samples.resize(n);
    for (std::size_t k = 0; k < n; ++k) w.samples[k] = std::polar(0.5, 2 * std::numbers::pi * cyclesPerSample * static_cast<double>(k));
    return w;
}

// The Tools menu every plot window has, with Rotate enabled or not.
void expectPlotMenus(Handle fig, bool rotateEnabled) {
    for (const char* tag : {"SX_Zoom", "SX_Rotate", "SX_ZoomReset"}) ASSERT_NE(findByTag(fig, tag), 0) << tag;
    EXPECT_EQ(get(findByTag(fig, "SX_Zoom"), "Callback").text(), "SX_Zoom");
    EXPECT_EQ(get(findByTag(fig, "SX_Rotate"), "Enable").text(), rotateEnabled ? "on" : "off");
    EXPECT_EQ(get(findByTag(fig, "SX_ZoomReset"), "Callback").text(), "zoom out");
}

}  // namespace

TEST_F(PlotWindows, CcdfOfTheTestSignal) {
    const auto out = host::callFunction("SX_PlotCCDF", 1, std::vector<Array>{});
    const Handle fig = out[0].realAt(0);
    EXPECT_EQ(get(fig, "Name").text(), "CCDF Test Data");
    EXPECT_EQ(values(get(fig, "Position")), (std::vector<double>{150, 150, 340, 340}));
    EXPECT_EQ(get(fig, "Visible").text(), "on");
    expectPlotMenus(fig, true);
    const Handle ax = findByTag(fig, "SX_CCDF");
    ASSERT_NE(ax, 0);
    EXPECT_EQ(values(get(ax, "XLim")), (std::vector<double>{0, 20}));
    EXPECT_EQ(values(get(ax, "YLim"))[1], 100);
    EXPECT_EQ(get(ax, "YScale").text(), "log");
    EXPECT_EQ(get(ax, "XLabel").text(), "dB above Average");
    EXPECT_EQ(get(ax, "YLabel").text(), "Frequency of occurence (%)");
    const auto lines = childrenOf(ax);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(values(get(lines[1], "Color")), (std::vector<double>{0.7, 0.7, 0.7}));  // the Gaussian reference
    EXPECT_EQ(get(lines[0], "XData").numel(), 201u);
}

TEST_F(PlotWindows, PlacedFromTheirParentWindow) {
    const Handle parent = figure({.name = "Main", .position = {100, 100, 500, 400}});
    const Handle ccdf = windows::plots::SX_PlotCCDF(parent, "x", {});
    EXPECT_EQ(values(get(ccdf, "Position")), (std::vector<double>{140, 68, 400, 320}));
    const Handle spectrum = windows::plots::SX_PlotSpectrum(parent, "x", 1, {});
    EXPECT_EQ(values(get(spectrum, "Position")), (std::vector<double>{150, 172, 400, 320}));
    const Handle waterfall = windows::plots::SX_PlotWaterfall(parent, "x", 1, 0, {});
    EXPECT_EQ(values(get(waterfall, "Position")), (std::vector<double>{180, 36, 400, 320}));
    EXPECT_NE(errorMessageOf([&] { windows::plots::SX_PlotCCDF(98765, "x", {}); }).find("is not a figure window"), std::string::npos);
}

TEST_F(PlotWindows, SpectrumAndWaterfallAxes) {
    const Handle fig = windows::plots::SX_PlotSpectrum(0, "L", 6144000, tone(4096, 0.25));
    EXPECT_EQ(get(fig, "Name").text(), "Magnitude Spectrum L");
    EXPECT_EQ(values(get(fig, "Position")), (std::vector<double>{50, 480, 300, 300}));
    expectPlotMenus(fig, true);
    const Handle ax = childrenOf(fig).back();
    EXPECT_EQ(get(ax, "XLabel").text(), "Frequency (MHz)");
    EXPECT_EQ(values(get(ax, "XLim")), (std::vector<double>{-3.072, 3.072}));
    EXPECT_EQ(values(get(ax, "YLim"))[1], 0);
    EXPECT_GE(values(get(ax, "YLim"))[0], -100);

    const Handle w = windows::plots::SX_PlotWaterfall(0, "L", 6144000, 4096.0 / 6144000 / 8, tone(4096, 0.25));
    EXPECT_EQ(get(w, "Name").text(), "Spectrum Waterfall L");
    const Handle wax = childrenOf(w).back();
    EXPECT_EQ(get(wax, "YLabel").text(), "Time (uS)");
    EXPECT_EQ(get(wax, "ZLabel").text(), "LogMag (dB)");
    EXPECT_NEAR(values(get(wax, "YLim"))[1], 7 * 512 / 6.144, 1e-9);  // (m - 1) slices of 512 samples, in us
}

TEST_F(PlotWindows, IqAgainstTimeStackedOrOverlaid) {
    const Handle stacked = windows::plots::SX_PlotIQTime(0, "L", 2457600, false, tone(65536, 0.01));
    EXPECT_EQ(get(stacked, "Name").text(), "I(t) Q(t) L");
    expectPlotMenus(stacked, false);
    const Handle i = findByTag(stacked, "SX_Iwave"), q = findByTag(stacked, "SX_Qwave");
    ASSERT_TRUE(i && q);
    EXPECT_EQ(get(i, "Title").text(), "I(t)");
    EXPECT_EQ(get(q, "XLabel").text(), "Time (mS)");
    EXPECT_EQ(get(i, "XLabel").text(), "");
    EXPECT_NEAR(values(get(q, "XLim"))[1], 26.6667, 1e-4);
    EXPECT_NEAR(values(get(i, "YLim"))[1], 0.5, 1e-12);
    // Every sample is kept; the screen decimates by pixel column keeping minimum and maximum.
    EXPECT_EQ(get(childrenOf(i)[0], "XData").numel(), 65536u);
    EXPECT_TRUE(plotOf(i)->graph(0)->adaptiveSampling());

    const Handle overlaid = windows::plots::SX_PlotIQTime(0, "L", 0, true, {});
    EXPECT_EQ(get(overlaid, "Name").text(), "I(t) Q(t) No Data");  // the test circle
    const Handle ax = findByTag(overlaid, "SX_IQwave");
    ASSERT_NE(ax, 0);
    const auto lines = childrenOf(ax);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(values(get(lines[1], "Color")), (std::vector<double>{1, 0, 1}));
    EXPECT_EQ(get(lines[0], "XData").numel(), 100u);
}

TEST_F(PlotWindows, EyeAndScatterRefusalsShowThePlotErrorBox) {
    const windows::plots::Waveform w = tone(400, 0.05);
    EXPECT_EQ(windows::plots::SX_PlotEyeDiagram(0, "L", w, 0, 1, 0), 0);  // n raised to 1, which the eye refuses
    EXPECT_EQ(windows::plots::SX_PlotEyeDiagram(0, "L", {}, 4, 1, 0), 0);
    EXPECT_EQ(windows::plots::SX_PlotEyeDiagram(0, "L", w, 4, -1, 0), 0);
    EXPECT_EQ(windows::plots::SX_PlotScatterDiagram(0, "L", {}, 4, 0, false), 0);
    ASSERT_EQ(dialogs->asked().size(), 4u);
    EXPECT_EQ(dialogs->asked()[0].title, "Plot Error");
    EXPECT_EQ(dialogs->asked()[0].text, "Unable to Plot Eye Diagram\nN must be an integer greater than 1.");
    EXPECT_EQ(dialogs->asked()[1].text, "Unable to Plot Eye Diagram\nInput variable X is empty.");
    EXPECT_EQ(dialogs->asked()[2].text, "Unable to Plot Eye Diagram\nPERIOD must be a positive number.");
    EXPECT_EQ(dialogs->asked()[3].text, "Unable to Plot Scatter Diagram\nInput variable X is empty.");
    EXPECT_EQ(dialogs->asked()[3].icon, host::MessageIcon::Error);
    // No half-built window is left behind, and the host form gives [].
    EXPECT_TRUE(get(kRoot, "Children").isEmpty());
    const auto out = host::callFunction("SX_PlotEyeDiagram", 1, {Array::scalar(0), Array::string("L"), Array(), Array::scalar(4),
                                                                  Array::scalar(1), Array::scalar(0)});
    EXPECT_TRUE(out[0].isEmpty());
}

TEST_F(PlotWindows, EyeAndScatterWindows) {
    const windows::plots::Waveform w = tone(400, 0.05);
    const Handle eye = windows::plots::SX_PlotEyeDiagram(0, "L", w, 4, 2, 10);  // offset cut to 3
    ASSERT_NE(eye, 0);
    EXPECT_EQ(get(eye, "Name").text(), "Eye Diagram L");
    EXPECT_EQ(get(eye, "MenuBar").text(), "none");
    EXPECT_EQ(values(get(eye, "Position")), (std::vector<double>{150, 150, 340, 340}));
    expectPlotMenus(eye, false);
    int axesCount = 0;
    for (Handle c : childrenOf(eye))
        if (kindOf(c) == Kind::Axes) {
            ++axesCount;
            EXPECT_EQ(values(get(c, "XLim")), (std::vector<double>{-1, 1}));
        }
    EXPECT_EQ(axesCount, 2);

    // With the trace on, the trajectory and the symbol instants share one window and axes.
    const Handle scatter = windows::plots::SX_PlotScatterDiagram(0, "L", w, 4, -3, true);
    ASSERT_NE(scatter, 0);
    EXPECT_EQ(get(scatter, "Name").text(), "Scatter Diagram L");
    Handle ax = 0;
    for (Handle c : childrenOf(scatter))
        if (kindOf(c) == Kind::Axes) ax = c;
    const auto lines = childrenOf(ax);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(get(lines[0], "XData").numel(), 400u);  // every sample
    EXPECT_EQ(get(lines[1], "XData").numel(), 100u);  // every 4th, from the first (offset raised to 0)
    EXPECT_EQ(get(lines[1], "LineStyle").text(), "none");
    // A delay with the trace on: the trajectory starts at the first symbol instant.
    const Handle delayed = windows::plots::SX_PlotScatterDiagram(0, "L", w, 4, 2, true);
    ASSERT_NE(delayed, 0);
    Handle dax = 0;
    for (Handle c : childrenOf(delayed))
        if (kindOf(c) == Kind::Axes) dax = c;
    EXPECT_EQ(get(childrenOf(dax)[0], "XData").numel(), 398u);
    EXPECT_EQ(get(childrenOf(dax)[1], "XData").numel(), 100u);
}

TEST_F(PlotWindows, ZoomAndRotateAreNeverCheckedTogether) {
    const Handle fig = windows::plots::SX_PlotCCDF(0, "L", {});
    const Handle zoom = findByTag(fig, "SX_Zoom"), rotate = findByTag(fig, "SX_Rotate");
    auto marks = [&] { return get(zoom, "Checked").text() + get(rotate, "Checked").text(); };
    invokeCallback(rotate);
    EXPECT_EQ(marks(), "offon");
    EXPECT_EQ(mode(fig), Mode::Rotate);
    invokeCallback(zoom);
    EXPECT_EQ(marks(), "onoff");
    EXPECT_EQ(mode(fig), Mode::Zoom);
    invokeCallback(zoom);
    EXPECT_EQ(marks(), "offoff");
    EXPECT_EQ(mode(fig), Mode::None);
    // Zoom Reset puts back the limits of the plot.
    set(childrenOf(fig).back(), "XLim", {0, 20});
    plotOf(findByTag(fig, "SX_CCDF"))->xAxis->setRange(3, 4);
    invokeCallback(findByTag(fig, "SX_ZoomReset"));
    EXPECT_EQ(values(get(findByTag(fig, "SX_CCDF"), "XLim")), (std::vector<double>{0, 20}));
}

TEST_F(PlotWindows, HostFormsCheckTheirArgumentCounts) {
    std::vector<Array> six(6, Array::scalar(0));
    EXPECT_EQ(errorMessageOf([&] { host::callFunction("SX_PlotIQTime", 1, six); }),
              "Run-time Error: File: SX_PlotIQTime Line: 1 Column: 1 The function \"SX_PlotIQTime\" was called with more "
              "than the declared number of inputs (5).");
    EXPECT_NE(errorMessageOf([&] { host::callFunction("SX_Zoom", 0, {Array::scalar(1)}); }).find("inputs (0)"), std::string::npos);
    const auto units = host::callFunction("DetermineTimeUnits", 1, {Array::scalar(0.0267)});
    ASSERT_TRUE(units[0].isCell());
    EXPECT_EQ(units[0].cellAt(0).text(), "mS");
    EXPECT_EQ(units[0].cellAt(1).realAt(0), 1000);
}

// Zoom and pan stay where the data can be shown: many zooms in stop at a few samples, with
// distinct tick labels; zooming or panning out stops at the whole trace and a margin. A plot
// window cannot be made smaller than its axes and labels need.
TEST_F(PlotWindows, ZoomStaysWhereTheDataCanBeShown) {
    const Handle fig = windows::plots::SX_PlotIQTime(0, "L", 2457600, false, tone(65536, 0.01));
    const Handle i = findByTag(fig, "SX_Iwave");
    QCustomPlot* plot = plotOf(i);
    const double home = values(get(i, "XLim"))[1] - values(get(i, "XLim"))[0];
    const double sample = home / 65535;
    for (int zoom = 0; zoom < 40; ++zoom) plot->xAxis->scaleRange(0.5, 13.0);  // a drag-zoom each time
    EXPECT_GE(plot->xAxis->range().size(), 3.99 * sample);
    for (int zoom = 0; zoom < 40; ++zoom) plot->yAxis->scaleRange(0.5, 0.2);
    EXPECT_GT(plot->yAxis->range().size(), 0);
    plot->replot();
    const QVector<QString> labels = plot->yAxis->tickVectorLabels();
    EXPECT_EQ(std::set<QString>(labels.begin(), labels.end()).size(), static_cast<std::size_t>(labels.size()));
    for (int out = 0; out < 200; ++out) plot->xAxis->scaleRange(3.0, plot->xAxis->range().center());  // the wheel, outwards
    EXPECT_LE(plot->xAxis->range().size(), 1.2 * home + 1e-9);
    plot->xAxis->moveRange(1e22);  // a pan far away
    EXPECT_LE(plot->xAxis->range().upper, values(get(i, "XLim"))[1] + 0.1 * home + 1e-9);
    EXPECT_GE(plot->xAxis->range().lower, values(get(i, "XLim"))[0] - 0.1 * home - 1e-9);

    set(fig, "Position", {100, 100, 1, 1});
    EXPECT_GE(windowOf(fig)->width(), 300);
    EXPECT_GE(windowOf(fig)->height(), 240);
}
