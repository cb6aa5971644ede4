// Renders a window layout, opened by name as the program opens it, into a PNG picture: for
// looking at layouts while making them.
//     layout_snapshot OneX_Fwd_GUI_b main.png
#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "brevia.h"
#include "windows/gui/graphics.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: layout_snapshot LAYOUT OUT.png\n");
        return 2;
    }
    if (const char* p = std::getenv("QT_QPA_PLATFORM"); !p || !*p) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    BreviaInitialize();
    try {
        const windows::gui::Handle fig = windows::gui::openfig(argv[1]);
        QWidget* window = windows::gui::windowOf(fig);
        window->show();
        QApplication::processEvents();
        if (!window->grab().save(argv[2], "PNG")) throw std::runtime_error(std::string("cannot write ") + argv[2]);
        std::printf("%s: %d x %d\n", argv[2], window->width(), window->height());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "layout_snapshot: %s\n", e.what());
        return 1;
    }
    BreviaTerminate();
    return 0;
}
