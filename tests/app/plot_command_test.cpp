#include "app/plot_command.h"

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <sstream>

#include "host/mat_file.h"

namespace fs = std::filesystem;

TEST(PlotCommand, DrawsAFrameFromAFileAndRefusesWhatItCannotDraw) {
    const fs::path dir = fs::temp_directory_path() / ("onexfwd_plot_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    host::Array w = host::Array::numeric(host::ClassId::Double, 1, 4096, true);
    for (std::size_t k = 0; k < 4096; ++k) w.setComplex(k, std::polar(1.0, 0.1 * static_cast<double>(k)));
    host::saveMatFile((dir / "frame.mat").string(), {{"waveform", w}, {"sampleRate", host::Array::scalar(2457600)}});

    app::PlotOptions o;
    o.kind = "spectrum";
    o.waveform = (dir / "frame.mat").string();
    o.out = (dir / "spectrum.png").string();
    o.width = 400;
    o.height = 300;
    std::ostringstream out, err;
    ASSERT_EQ(app::runPlot(o, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), "wrote " + o.out + ": spectrum of 4096 samples\n");
    EXPECT_EQ(QImage(QString::fromStdString(o.out)).width(), 400);

    auto failure = [&](app::PlotOptions bad) {
        std::ostringstream o2, e2;
        EXPECT_EQ(app::runPlot(bad, o2, e2), 1);
        return e2.str();
    };
    app::PlotOptions jpeg = o;
    jpeg.out = (dir / "x.jpg").string();
    EXPECT_NE(failure(jpeg).find("give a name ending in .png"), std::string::npos);
    host::saveMatFile((dir / "other.mat").string(), {{"samples", w}});
    app::PlotOptions other = o;
    other.waveform = (dir / "other.mat").string();
    EXPECT_NE(failure(other).find("holds no variable 'waveform'"), std::string::npos);
    app::PlotOptions both = o;
    both.params = o.waveform;
    EXPECT_NE(failure(both).find("not both"), std::string::npos);
    fs::remove_all(dir);
}
