#pragma once
// onexfwd demo, the headless main job: the frame computed, downloaded into a simulated
// signal generator on a free loopback port and played, and what the instrument then holds.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace app {

struct DemoOptions {
    std::vector<std::string> sets;  // --set NAME=VALUE of the parameter set (default frame otherwise)
    bool pellar = false;            // simulate the other instrument platform
    std::optional<std::uint64_t> seed = 1;
    bool quiet = false;     // only errors and the data asked for
    bool progress = false;  // what it is doing, on a terminal
};

// Returns the exit status after printing the result on `out` or the failure on `err`.
int runDemo(const DemoOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
