#pragma once
// What the simulated signal generator knows and does, without any networking: it carries out
// one program message at a time and says what to send back. The server feeds it from its
// sockets; the fuzz target and the tests feed it directly.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scpi_stream.h"

namespace sim {

// Corvane: 16-bit I/Q files WFM1: and MKR1:, identifies with a model field ending in "C".
// Pellar: 14-bit files ARBI: and ARBQ:, identifies with a model field ending in "B".
enum class Model { Corvane, Pellar };

struct Faults {
    bool silent = false;         // read commands, never answer queries
    bool dropMidBlock = false;   // close the connection half-way through the next binary block,
                                 // received or sent (once; then the fault clears itself)
    std::size_t dropAfterBlockBytes = 0;  // > 0: close the connection once this many bytes of
                                          // the next longer block received have arrived (once)
    std::size_t dropAfterCommands = 0;    // > 0: close the connection once after carrying out
                                          // this many more messages
    bool garbageReplies = false; // answer queries with bytes that are not the expected reply
    std::string idnOverride;     // non-empty: the *IDN? reply instead of the model's own
};

const char* modelName(Model model);

class Instrument {
public:
    Instrument(Model model, std::size_t maxStoredBytes, std::string storeDir);

    // Carries out one message and returns the bytes to send back (empty: no reply).
    std::string execute(const ScpiMessage& message);

    void setFaults(const Faults& faults) { faults_ = faults; }
    const Faults& faults() const { return faults_; }
    // A drop fault acts once: the connection that saw it is gone, the next one works.
    void clearDrop() {
        faults_.dropMidBlock = false;
        faults_.dropAfterBlockBytes = 0;
        faults_.dropAfterCommands = 0;
    }
    // Counts one message carried out against dropAfterCommands; true when the connection
    // must go now.
    bool countTowardsDrop() { return faults_.dropAfterCommands > 0 && --faults_.dropAfterCommands == 0; }

    Model model() const { return model_; }
    const std::map<std::string, std::vector<std::uint8_t>>& files() const { return files_; }
    const std::map<std::string, std::string>& settings() const { return settings_; }
    std::vector<std::string> commands() const { return {commands_.begin(), commands_.end()}; }
    // Every message ever received, including those no longer kept in commands().
    std::size_t commandCount() const { return commandCount_; }
    std::size_t storedBytes() const { return storedBytes_; }

private:
    std::string run(std::string_view command, const std::vector<std::vector<std::uint8_t>>& blocks);
    std::string query(std::string_view header, std::string_view arguments);
    void set(std::string_view header, std::string_view arguments,
             const std::vector<std::vector<std::uint8_t>>& blocks);
    void record(const std::string& text);
    void pushError(std::string error);
    std::string canonicalFile(std::string_view quoted) const;
    void storeFile(const std::string& key, const std::vector<std::uint8_t>& data);
    std::string catalogue(std::string_view arguments) const;
    std::string identity() const;
    void reset();

    Model model_;
    std::size_t maxStoredBytes_;
    std::string storeDir_;
    Faults faults_;
    std::map<std::string, std::vector<std::uint8_t>> files_;
    std::size_t storedBytes_ = 0;
    std::map<std::string, std::string> settings_;
    std::deque<std::string> commands_;
    std::size_t commandLogBytes_ = 0;
    std::size_t commandCount_ = 0;
    std::deque<std::string> errors_;
};

}  // namespace sim
