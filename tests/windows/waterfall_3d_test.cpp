// The three-dimensional waterfall, which needs OpenGL: run under a virtual X display.

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <filesystem>

#include "windows/plots/plots.h"

using namespace windows::gui;

TEST(Waterfall3d, DrawsTurnsAndRendersIntoAPicture) {
    ensureApplication();
    ASSERT_TRUE(threeDimensionalViewsAvailable()) << "run under xvfb-run with QT_QPA_PLATFORM=xcb";
    windows::plots::Waveform w;
    w.real = false;
    for (int k = 0; k < 8192; ++k) w.samples.push_back(std::polar(1.0, 0.3 * k) + std::polar(0.01, -1.1 * k));
    const Handle fig = windows::plots::SX_PlotWaterfall(0, "3-D", 6144000, 8192.0 / 6144000 / 20, w);
    Handle ax = 0;
    for (Handle c : childrenOf(fig))
        if (kindOf(c) == Kind::Axes) ax = c;
    ASSERT_NE(ax, 0);
    EXPECT_NE(view3dOf(ax), nullptr);
    EXPECT_EQ(plotOf(ax), nullptr);
    EXPECT_EQ(get(ax, "ZLabel").text(), "LogMag (dB)");

    setCurrentFigure(fig);
    windows::plots::SX_Rotate();
    EXPECT_EQ(mode(fig), Mode::Rotate);
    EXPECT_EQ(get(findByTag(fig, "SX_Rotate"), "Checked").text(), "on");

    const std::string path = (std::filesystem::temp_directory_path() / "brevia_waterfall_3d.png").string();
    savePng(fig, path, 480, 360);
    const QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    // The surface is drawn in colour over the white figure: count the coloured pixels.
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - c.green()) > 30 || std::abs(c.green() - c.blue()) > 30) ++coloured;
        }
    EXPECT_GT(coloured, 200);
    std::filesystem::remove(path);
    closeAllFigures();
}
