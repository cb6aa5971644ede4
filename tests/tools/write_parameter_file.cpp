// Writes the default parameter file, as File > Save As writes it, for the fixtures that other
// tools make from it (make_parameter_file_octave.sh).
//     write_parameter_file OUT.mat
#include <cstdio>

#include "MexIO/download_play.h"
#include "OneX/parameters.h"
#include "UI/file_actions.h"
#include "brevia.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_parameter_file OUT.mat\n");
        return 2;
    }
    if (!BreviaInitialize()) return 1;
    const host::Array parameters = onex::defaultParameters();
    const bool ok = ui::saveParameters(argv[1], parameters, mexio::initialSigGenSettings(parameters.field("OverSampling").realAt(0)));
    BreviaTerminate();
    return ok ? 0 : 1;
}
