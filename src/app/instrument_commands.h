#pragma once
// onexfwd download, play, ping, query and send: the instrument from the command line, over
// the connection given by --connect, the saved configuration file, or the defaults.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "MexIO/download_action.h"
#include "host/array.h"

namespace app {

// The connection record (the structure form the instrument commands take) of a --connect
// text: lan:HOST:PORT (raw SCPI socket), tcpip:ADDRESS[:BOARD] (VISA),
// gpib:BOARD:PRIMARY[:SECONDARY], rs232:PORT:BAUD[:HANDSHAKE] with HANDSHAKE one of none,
// xon/xoff, rts/cts (default xon/xoff). Throws host::Error naming what does not fit.
host::Array parseConnectSpec(std::string_view spec);

// --connect when given; else the configuration saved in the working folder; else the
// defaults (GPIB board 0, address 19).
host::Array connectionFor(const std::optional<std::string>& spec);

// One line saying where a connection record points ("GPIB0::19", "lan 127.0.0.1:5025").
std::string describeConnection(const host::Array& config);

// What the instrument's correction file gave a download, in a line or two.
void reportCorrections(const mexio::DownloadOutcome& download, const host::Array& settings, std::ostream& out);

struct InstrumentOptions {
    std::string params;                 // parameter file; empty for the defaults
    std::vector<std::string> sets;      // --set NAME=VALUE of the parameter set
    std::vector<std::string> settings;  // --settings NAME=VALUE of the signal generator settings
    std::optional<std::uint64_t> seed;
    std::optional<std::string> connect;
    bool play = false;  // download: play it afterwards
    bool yes = false;   // answer the long-transfer question with OK
    bool quiet = false;     // only errors and the data asked for
    bool progress = false;  // what it is doing, on a terminal
};

// Each returns the exit status after printing the result on `out` or the failure on `err`.
int runDownload(const InstrumentOptions& options, std::ostream& out, std::ostream& err);
int runPlay(const InstrumentOptions& options, std::ostream& out, std::ostream& err);

enum class InstrumentCommand { Ping, Query, Send };
// `quiet`: ping and send print nothing on success (the exit status says it); a query's
// reply is printed either way.
int runInstrumentCommand(InstrumentCommand command, const std::optional<std::string>& connect, const std::string& text,
                         bool quiet, std::ostream& out, std::ostream& err);

}  // namespace app
