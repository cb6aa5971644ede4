// onexfwd: the command line of the 1xEV forward-link signal generator.

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <unistd.h>

#include "app/demo.h"
#include "app/analyze_command.h"
#include "app/generate.h"
#include "app/instrument_commands.h"
#include "app/plot_command.h"
#include "app/window_program.h"
#include "brevia.h"
#include "sim/simulated_generator.h"

int main(int argc, char** argv) {
    CLI::App cli{"onexfwd: 1xEV forward-link (IS-856) test-signal generator"};
    cli.require_subcommand(0, 1);
    cli.footer("Exit status: 0 success, 1 failure (the reason on standard error), 2 a usage error.\n"
               "Every sub-command takes --quiet (-q): only errors and the data asked for.");
    cli.set_version_flag("--version", std::string(BREVIA_VERSION));

    app::DemoOptions demoOptions;
    std::string demoModel = "corvane";
    CLI::App* demo = cli.add_subcommand(
        "demo", "Compute the frame, download and play it on a simulated signal generator, and show what the instrument holds");
    demo->add_option("--set", demoOptions.sets, "Change one parameter: NAME=VALUE (e.g. OverSampling=30); repeatable");
    demo->add_option("--model", demoModel, "Instrument model to simulate")
        ->check(CLI::IsMember({"corvane", "pellar"}, CLI::ignore_case))
        ->capture_default_str();
    demo->add_option("--seed", demoOptions.seed, "Seed of the random generator (idle-slot noise)")->capture_default_str();
    demo->add_flag("--quiet,-q", demoOptions.quiet, "No progress messages (the report is the data asked for)");

    app::GenerateOptions gen;
    CLI::App* generate = cli.add_subcommand("generate", "Compute the waveform (one frame or several) and write it to a .mat, .bin or SigMF file");
    generate->add_option("--params", gen.params, "Parameter file (MAT) to start from instead of the defaults")->check(CLI::ExistingFile);
    generate->add_option("--set", gen.sets,
                         "Change one parameter: NAME=VALUE (e.g. OverSampling=8, slot.DATAslotMod=3); repeatable. "
                         "Several frames and coded packets: FrameCount (1-16 frames), DATApacketMode (0 per-slot bits, "
                         "1 coded packets), DATApacketDRC (1-12), DATApacketMAC (5-63), DATApacketInterlaces "
                         "(4 flags, e.g. \"1 0 1 1\" or 1,0,1,1)");
    generate->add_option("--seed", gen.seed, "Seed of the random generator (idle-slot noise) for a repeatable frame");
    generate->add_option("--out", gen.out, "Output file: .mat (waveform, markers, sampleRate), .bin (big-endian int16 I/Q) or .sigmf-meta / "
                         ".sigmf-data (a SigMF recording: both files, float32 I/Q and JSON with a label per slot)")->required();
    generate->add_flag("--quiet,-q", gen.quiet, "Only errors: no progress and no \"wrote\" line");
    generate->footer(
        "Examples:\n"
        "  onexfwd generate --out frame.mat\n"
        "  onexfwd generate --set OverSampling=8 --set DATAchnActive=1 --set slot.DATAslotMod=3 --seed 1 --out frame.bin\n"
        "  onexfwd generate --params saved.mat --out frame.mat\n"
        "  onexfwd generate --set OverSampling=2 --seed 1 --out frame.sigmf-meta\n"
        "  onexfwd generate --set DATAchnActive=1 --set DATApacketMode=1 --set DATApacketDRC=3 --set FrameCount=2 --out packets.mat");

    // The instrument commands share their options.
    app::InstrumentOptions inst;
    auto connectOption = [&](CLI::App* c) {
        c->add_option("--connect", inst.connect,
                      "lan:HOST:PORT | tcpip:ADDRESS[:BOARD] | gpib:BOARD:PRIMARY[:SECONDARY] | rs232:PORT:BAUD[:HANDSHAKE] "
                      "(default: the saved rfIOConfig.mat, else GPIB board 0 address 19)");
    };
    auto settingsOptions = [&](CLI::App* c) {
        c->add_option("--params", inst.params, "Parameter file (MAT) to start from instead of the defaults")->check(CLI::ExistingFile);
        c->add_option("--settings", inst.settings,
                      "Change one signal generator setting: NAME=VALUE (Frequency, Amplitude, SamplingRate, ReconFilter, "
                      "RFblanking, ArbRefSource, MarkerPolarity, Title); repeatable");
        connectOption(c);
    };
    CLI::App* download = cli.add_subcommand("download", "Compute the frame and download it into the signal generator");
    settingsOptions(download);
    download->add_option("--set", inst.sets, "Change one parameter: NAME=VALUE; repeatable");
    download->add_option("--seed", inst.seed, "Seed of the random generator (idle-slot noise)");
    download->add_flag("--play", inst.play, "Play it afterwards with the settings");
    download->add_flag("--yes,-y", inst.yes, "Answer OK to the question before a long RS-232 transfer");
    download->add_flag("--quiet,-q", inst.quiet, "Only errors");
    download->footer(
        "Examples:\n"
        "  onexfwd download --connect gpib:0:19 --play\n"
        "  onexfwd download --params saved.mat --settings Frequency=1.9e9 --settings Amplitude=-10 --connect lan:127.0.0.1:5025 --play");
    CLI::App* play = cli.add_subcommand(
        "play", "Send every play setting (frequency, power, sample clock, filter, markers, title); those not given are the defaults "
                "or the --params file's, and --set OverSampling makes the sample clock follow");
    settingsOptions(play);
    play->add_option("--set", inst.sets, "Change one parameter: NAME=VALUE (OverSampling sets the sample clock); repeatable");
    play->add_flag("--quiet,-q", inst.quiet, "Only errors");
    std::string instrumentText;
    CLI::App* ping = cli.add_subcommand("ping", "Check that the signal generator answers");
    connectOption(ping);
    ping->add_flag("--quiet,-q", inst.quiet, "Only errors: the exit status says whether it answered");
    CLI::App* query = cli.add_subcommand("query", "Send a query and print the reply");
    connectOption(query);
    query->add_flag("--quiet,-q", inst.quiet, "Only errors and the reply");
    query->add_option("TEXT", instrumentText, "The query, e.g. *IDN?")->required();
    CLI::App* send = cli.add_subcommand("send", "Send one command");
    connectOption(send);
    send->add_flag("--quiet,-q", inst.quiet, "Only errors");
    send->add_option("TEXT", instrumentText, "The command, e.g. \":OUTP ON\"")->required();

    app::PlotOptions plotOptions;
    CLI::App* plot = cli.add_subcommand("plot", "Draw one analysis plot of the frame into a PNG picture");
    plot->add_option("KIND", plotOptions.kind, "spectrum, waterfall, iq, iq-overlay, eye, scatter or ccdf")
        ->required()
        ->check(CLI::IsMember(app::kPlotKinds));
    plot->add_option("--params", plotOptions.params, "Parameter file (MAT) to compute the frame from")->check(CLI::ExistingFile);
    plot->add_option("--waveform", plotOptions.waveform, "MAT file with 'waveform' and 'sampleRate', as generate writes (without sampleRate: 6144000 samples/s)")
        ->check(CLI::ExistingFile);
    plot->add_option("--set", plotOptions.sets, "Change one parameter: NAME=VALUE; repeatable");
    plot->add_option("--seed", plotOptions.seed, "Seed of the random generator (idle-slot noise)");
    plot->add_option("--out", plotOptions.out, "PNG file to write")->required();
    plot->add_option("--width", plotOptions.width, "Picture width in pixels")->check(CLI::Range(200, 4000))->capture_default_str();
    plot->add_option("--height", plotOptions.height, "Picture height in pixels")->check(CLI::Range(200, 4000))->capture_default_str();
    plot->add_flag("--quiet,-q", plotOptions.quiet, "Only errors: no progress and no \"wrote\" line");

    app::AnalyzeOptions analyzeOptions;
    CLI::App* analyze = cli.add_subcommand("analyze", "Measure the frame: rho and EVM, adjacent-channel leakage, bandwidth, CCDF, code domain");
    analyze->add_option("--params", analyzeOptions.params, "Parameter file (MAT) the frame is made from")->check(CLI::ExistingFile);
    analyze->add_option("--set", analyzeOptions.sets, "Change one parameter: NAME=VALUE; repeatable");
    analyze->add_option("--waveform", analyzeOptions.waveform,
                        "MAT file with 'waveform' (as generate writes) to measure, made from these parameters")
        ->check(CLI::ExistingFile);
    analyze->add_option("--seed", analyzeOptions.seed, "Seed of the random generator (idle-slot noise)");
    analyze->add_option("--json", analyzeOptions.json, "Also write the report to this file as JSON");
    analyze->add_flag("--quiet,-q", analyzeOptions.quiet, "Only errors and the report");

    sim::Options simOptions;
    std::string model = "corvane";
    double idleSeconds = 0;
    CLI::App* simulator = cli.add_subcommand("sim", "Run the simulated signal generator (raw-socket SCPI on 127.0.0.1)");
    bool simQuiet = false;
    simulator->add_option("--port", simOptions.port, "TCP port; 0 picks a free one and prints it")->capture_default_str();
    simulator->add_flag("--quiet,-q", simQuiet, "Only errors and the address it listens on");
    simulator->add_option("--model", model, "Instrument model to behave like")
        ->check(CLI::IsMember({"corvane", "pellar"}, CLI::ignore_case))
        ->capture_default_str();
    simulator->add_option("--store", simOptions.storeDir, "Folder to keep the waveform files written to it");
    simulator->add_option("--idle-timeout", idleSeconds, "Stop after this many seconds without a connection (0: run until stopped)")
        ->check(CLI::Range(0.0, 86400.0));
    simulator->add_option("--memory", simOptions.maxStoredBytes, "Waveform memory in bytes (free = this less the files held)")
        ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 40))
        ->capture_default_str();
    simulator->add_option("--idn", simOptions.faults.idnOverride, "Answer *IDN? with this text instead of the model's own");
    simulator->add_option("--drop-after", simOptions.faults.dropAfterBlockBytes,
                          "Close the connection once after this many bytes of a waveform block (a lost link)");
    simulator->add_option("--drop-after-commands", simOptions.faults.dropAfterCommands,
                          "Close the connection once after carrying out this many commands");

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here with 0; every other usage error is 2, whatever code
        // the parser gives it.
        return cli.exit(e) == 0 ? 0 : 2;
    }

    if (!BreviaInitialize()) {
        std::cerr << "onexfwd: " << BreviaLastError() << "\n";
        return 1;
    }
    int status = 0;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    try {
        if (simulator->parsed()) {
            simOptions.model = CLI::detail::to_lower(model) == "pellar" ? sim::Model::Pellar : sim::Model::Corvane;
            simOptions.idleTimeout = std::chrono::milliseconds(static_cast<long long>(idleSeconds * 1000));
            status = sim::runSimulatorCommand(simOptions, std::cout, std::cerr, simQuiet);
        } else if (generate->parsed()) {
            gen.progress = !gen.quiet && terminal;
            status = app::runGenerate(gen, std::cout, std::cerr);
        } else if (analyze->parsed()) {
            analyzeOptions.progress = !analyzeOptions.quiet && terminal;
            status = app::runAnalyze(analyzeOptions, std::cout, std::cerr);
        } else if (plot->parsed()) {
            plotOptions.progress = !plotOptions.quiet && terminal;
            status = app::runPlot(plotOptions, std::cout, std::cerr);
        } else if (download->parsed()) {
            inst.progress = !inst.quiet && terminal;
            status = app::runDownload(inst, std::cout, std::cerr);
        } else if (play->parsed()) {
            inst.progress = !inst.quiet && terminal;
            status = app::runPlay(inst, std::cout, std::cerr);
        } else if (ping->parsed()) {
            status = app::runInstrumentCommand(app::InstrumentCommand::Ping, inst.connect, {}, inst.quiet, std::cout, std::cerr);
        } else if (query->parsed()) {
            status = app::runInstrumentCommand(app::InstrumentCommand::Query, inst.connect, instrumentText, inst.quiet, std::cout, std::cerr);
        } else if (send->parsed()) {
            status = app::runInstrumentCommand(app::InstrumentCommand::Send, inst.connect, instrumentText, inst.quiet, std::cout, std::cerr);
        } else if (cli.get_subcommands().empty()) {
            status = app::runWindowProgram(std::cerr);
        } else if (demo->parsed()) {
            demoOptions.pellar = CLI::detail::to_lower(demoModel) == "pellar";
            demoOptions.progress = !demoOptions.quiet && terminal;
            status = app::runDemo(demoOptions, std::cout, std::cerr);
        }
    } catch (const std::exception& e) {
        std::cerr << "onexfwd: " << e.what() << "\n";
        status = 1;
    }
    BreviaTerminate();
    return status;
}
