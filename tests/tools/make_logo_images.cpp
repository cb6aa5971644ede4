// Makes the splash picture and the About box logo from the program's own spectrum plot of
// the default frame, with the application's name over it:
//     make_logo_images layouts/splash.jpg layouts/about_logo.jpg
#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <sstream>

#include "app/plot_command.h"
#include "brevia.h"

namespace {

void title(QImage& image, const QString& text, int pointSize, const QRect& area) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(area, QColor(10, 30, 70, 210));
    QFont f("DejaVu Sans", pointSize, QFont::Bold);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_logo_images SPLASH.jpg LOGO.jpg\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    BreviaInitialize();
    app::PlotOptions o;
    o.kind = "spectrum";
    o.seed = 1;
    o.sets = {"OverSampling=8", "DATAchnActive=1", "MACchnActive=1"};
    o.out = "/tmp/brevia_logo_spectrum.png";
    o.width = 960;
    o.height = 600;
    o.quiet = true;
    std::ostringstream out, err;
    if (app::runPlot(o, out, err) != 0) {
        std::fprintf(stderr, "%s", err.str().c_str());
        return 1;
    }
    const QImage spectrum(QString::fromStdString(o.out));
    QImage splash = spectrum.scaled(480, 300, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    title(splash, "1xEV Forward Link\nSignal Generation", 16, QRect(0, 100, 480, 90));
    QImage logo = spectrum.scaled(160, 160, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    title(logo, "1xEV\nFwd", 14, QRect(0, 50, 160, 60));
    if (!splash.save(argv[1], "JPG", 90) || !logo.save(argv[2], "JPG", 90)) {
        std::fprintf(stderr, "make_logo_images: cannot write the pictures\n");
        return 1;
    }
    BreviaTerminate();
    return 0;
}
