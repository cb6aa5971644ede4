// onexfwd: the command line of the 1xEV forward-link signal generator.

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "app/demo.h"
#include "brevia.h"
#include "host/error.h"

int main(int argc, char** argv) {
    CLI::App cli{"onexfwd: 1xEV forward-link (IS-856) test-signal generator"};
    cli.require_subcommand(0, 1);
    cli.set_version_flag("--version", std::string(BREVIA_VERSION));
    CLI::App* demo = cli.add_subcommand("demo", "Print the frame-independent results: defaults, PN chips, Walsh codes, constellations");

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return cli.exit(e);
    }

    if (!BreviaInitialize()) {
        std::cerr << "onexfwd: " << BreviaLastError() << "\n";
        return 1;
    }
    int status = 0;
    try {
        if (demo->parsed() || cli.get_subcommands().empty()) status = app::runDemo(std::cout);
    } catch (const std::exception& e) {
        std::cerr << "onexfwd: " << e.what() << "\n";
        status = 1;
    }
    BreviaTerminate();
    return status;
}
