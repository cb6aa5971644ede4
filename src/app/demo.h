#pragma once
#include <ostream>

namespace app {
// Prints the results that do not depend on a computed frame: the default parameter set,
// the start of both short PN sequences, the MAC index to Walsh code map and the
// constellations. Returns the exit status.
int runDemo(std::ostream& out);
}  // namespace app
