#include "app/window_program.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "host/function_table.h"
#include "host/window_part.h"

namespace app {

bool displayPresent() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform && std::string(platform) == "offscreen") return false;
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

int runWindowProgram(std::ostream& err) {
    if (!displayPresent()) {
        err << "onexfwd: there is no display to show the window on; the sub-commands work without one "
               "(generate, download, play, plot, demo, sim, ...: see onexfwd --help).\n";
        return 2;
    }
    try {
        const host::window::Interface& windows = host::window::load();
        host::callFunction("OneX_Fwd_b", 0, std::vector<host::Array>{});
        windows.runUntilClosed();
        return 0;
    } catch (const std::exception& e) {
        err << "onexfwd: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace app
