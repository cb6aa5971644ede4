// onexfwd: the command line of the 1xEV forward-link signal generator.

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <unistd.h>

#include "app/demo.h"
#include "app/generate.h"
#include "brevia.h"
#include "sim/simulated_generator.h"

int main(int argc, char** argv) {
    CLI::App cli{"onexfwd: 1xEV forward-link (IS-856) test-signal generator"};
    cli.require_subcommand(0, 1);
    cli.set_version_flag("--version", std::string(BREVIA_VERSION));

    CLI::App* demo = cli.add_subcommand("demo", "Print the frame-independent results: defaults, PN chips, Walsh codes, constellations, filters");

    app::GenerateOptions gen;
    CLI::App* generate = cli.add_subcommand("generate", "Compute one frame and write it to a .mat or .bin file");
    generate->add_option("--params", gen.params, "Parameter file (MAT) to start from instead of the defaults")->check(CLI::ExistingFile);
    generate->add_option("--set", gen.sets, "Change one parameter: NAME=VALUE (e.g. OverSampling=8, slot.DATAslotMod=3); repeatable");
    generate->add_option("--seed", gen.seed, "Seed of the random generator (idle-slot noise) for a repeatable frame");
    generate->add_option("--out", gen.out, "Output file: .mat (waveform, markers, sampleRate) or .bin (big-endian int16 I/Q)")->required();
    generate->add_flag("--quiet,-q", gen.quiet, "No progress messages");
    generate->footer(
        "Examples:\n"
        "  onexfwd generate --out frame.mat\n"
        "  onexfwd generate --set OverSampling=8 --set DATAchnActive=1 --set slot.DATAslotMod=3 --seed 1 --out frame.bin\n"
        "  onexfwd generate --params saved.mat --out frame.mat");

    sim::Options simOptions;
    std::string model = "corvane";
    double idleSeconds = 0;
    CLI::App* simulator = cli.add_subcommand("sim", "Run the simulated signal generator (raw-socket SCPI on 127.0.0.1)");
    simulator->add_option("--port", simOptions.port, "TCP port; 0 picks a free one and prints it")->capture_default_str();
    simulator->add_option("--model", model, "Instrument model to behave like")
        ->check(CLI::IsMember({"corvane", "pellar"}, CLI::ignore_case))
        ->capture_default_str();
    simulator->add_option("--store", simOptions.storeDir, "Folder to keep the waveform files written to it");
    simulator->add_option("--idle-timeout", idleSeconds, "Stop after this many seconds without a connection (0: run until stopped)")
        ->check(CLI::Range(0.0, 86400.0));

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
        if (simulator->parsed()) {
            simOptions.model = CLI::detail::to_lower(model) == "pellar" ? sim::Model::Pellar : sim::Model::Corvane;
            simOptions.idleTimeout = std::chrono::milliseconds(static_cast<long long>(idleSeconds * 1000));
            status = sim::runSimulatorCommand(simOptions, std::cout);
        } else if (generate->parsed()) {
            gen.quiet = gen.quiet || !isatty(STDERR_FILENO);
            status = app::runGenerate(gen, std::cout, std::cerr);
        } else if (demo->parsed() || cli.get_subcommands().empty()) {
            status = app::runDemo(std::cout);
        }
    } catch (const std::exception& e) {
        std::cerr << "onexfwd: " << e.what() << "\n";
        status = 1;
    }
    BreviaTerminate();
    return status;
}
