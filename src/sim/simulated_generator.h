#pragma once
// A simulated vector signal generator: a raw-socket SCPI server on 127.0.0.1 that takes
// waveform files in IEEE 488.2 blocks, answers the queries a download makes and records the
// playback settings, so that the instrument code can be exercised end to end without hardware.
// One thread serves every connection with poll(); it never blocks without a time-out.
//
// Queries answered (short or long SCPI forms, any case):
//   *IDN?                          identity; model field ends in "C" (Corvane) or "B" (Pellar)
//   *OPC?                          "1"
//   SYST:ERR?                      the oldest queued error, or +0,"No error"
//   [SOUR]:RAD:ARB[:STAT]?         "1" or "0" (also "rad:arb?")
//   [SOUR]:RAD:ARB:WAV?            the selected file, quoted, e.g. "WFM1:OneX-Fwd"
//   MMEM:CAT? "ARBI:"              used,free,"NAME,ARB,SIZE",... (bytes; names upper-cased;
//                                  free = maxStoredBytes - bytes held)
//   MMEM:DATA? "WFM1:name"         the file as a definite-length block ("#10" when missing)
//   any setting below with "?"     its value as kept, "0" when never set
// Files are written with MMEM:DATA "<catalogue>:<name>", <block> into the catalogues WFM1:,
// MKR1:, ARBI: and ARBQ:. Corvane reads ARBI: as WFM1:, so "arbi:" + name selects the WFM1:
// file there. Unknown commands, missing files and a full memory queue an SCPI error.
//
// settings() keys, each set by the commands a play sequence sends:
//   "arbState"          [SOUR]:RAD:ARB[:STAT] ON|OFF|1|0, "rad:arb 0"      -> "1" / "0"
//   "waveform"          [SOUR]:RAD:ARB:WAV "arbi:NAME"                     -> "WFM1:NAME" on
//                       Corvane, "ARBI:NAME" on Pellar (selected even if no such file is held)
//   "frequency"         [SOUR]:FREQ[:FIX|:CW] 2200000000Hz                 -> "2200000000Hz"
//   "power"             [SOUR]:POW[:LEV][:IMM][:AMPL] -30dbm               -> "-30dbm"
//   "sampleClock"       [SOUR]:RAD:ARB:CLOC:SRAT 4915200Hz                 -> "4915200Hz"
//   "reconFilter"       [SOUR]:RAD:ARB:RFIL 2.5Mhz                         -> "2.5Mhz"
//   "rfBlanking"        [SOUR]:RAD:ARB:MARK:RFBL on|off                    -> "1" / "0"
//   "markerPolarity"    [SOUR]:RAD:ARB:MARK:POL Pos                        -> "Pos"
//   "clockReference"    [SOUR]:RAD:ARB:CLOC:REF int                        -> "int"
//   "runtimeScaling"    [SOUR]:RAD:ARB:RSC 70                              -> "70"
//   "bbFilter"          [SOUR]:DM:BBF 2.1MHz                               -> "2.1MHz"
//   "iqAttenuationAuto" [SOUR]:DM:IQAT:AUTO off                            -> "0"
//   "iqAttenuation"     [SOUR]:DM:IQAT 2                                   -> "2"
//   "alc"               [SOUR]:POW:ALC[:STAT] on|off                       -> "1" / "0"
//   "outputState"       OUTP[:STAT] on|off                                 -> "1" / "0"
//   "modulationState"   OUTP:MOD[:STAT] ON|OFF                             -> "1" / "0"
// ON/OFF settings are kept as "1"/"0"; all others keep the argument as sent, trimmed.
// *RST clears the settings (not the files).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/instrument.h"
#include "sim/unique_fd.h"

namespace sim {

struct Options {
    std::uint16_t port = 0;        // 0: any free port on 127.0.0.1
    Model model = Model::Corvane;
    std::string storeDir;          // non-empty: also write received files there, named like
                                   // the files() key with unsafe characters as "_" ("WFM1_name")
    std::chrono::milliseconds idleTimeout{0};  // > 0: stop by itself after this long without a
                                               // new connection or received data
    std::size_t maxBlockBytes = 256u << 20;    // larger declared blocks are refused (connection closed)
    std::size_t maxStoredBytes = 512u << 20;   // total memory for stored files
    Faults faults;                              // injected from the start
};

class SimulatedGenerator {
public:
    explicit SimulatedGenerator(Options options = {});
    ~SimulatedGenerator();  // stops and joins
    SimulatedGenerator(const SimulatedGenerator&) = delete;
    SimulatedGenerator& operator=(const SimulatedGenerator&) = delete;

    void start();  // binds and listens; throws std::runtime_error on failure
    void stop();
    std::uint16_t port() const { return port_; }
    // False once stopped, including by the idle time-out.
    bool running() const { return running_.load(); }
    void setFaults(const Faults& f);

    // What it holds (thread-safe snapshots):
    // key e.g. "WFM1:MYWAVE" (upper-cased catalogue, name as sent)
    std::map<std::string, std::vector<std::uint8_t>> files() const;
    // every message received, in order, without the LF (empty lines included); each binary
    // block appears as "<block N bytes>". The oldest are dropped beyond 100000 entries.
    std::vector<std::string> commands() const;
    std::map<std::string, std::string> settings() const;  // keys listed above
    std::size_t connectionsAccepted() const;
    // True once `count` messages have been received in all (the first count of them).
    bool waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Connection;

    void serve();
    bool receive(Connection& connection);
    bool consume(Connection& connection, std::span<const std::uint8_t> bytes);
    void deliver(Connection& connection, ScpiMessage&& message);

    Options options_;
    UniqueFd listener_;
    UniqueFd wake_;  // written by stop()
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Instrument instrument_;  // guarded by mutex_
    std::size_t connectionsAccepted_ = 0;  // guarded by mutex_
};

// Runs a server in the foreground until SIGINT/SIGTERM or its idle time-out; prints
// "listening on 127.0.0.1:PORT (model)" first (the port is the data a caller needs, quiet or
// not), and how it stopped unless `quiet`; errors go to `err`. Returns the exit status.
int runSimulatorCommand(const Options& options, std::ostream& out, std::ostream& err, bool quiet = false);

}  // namespace sim
