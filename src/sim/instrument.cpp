#include "sim/instrument.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>

namespace sim {

namespace {

// Bounds on what the instrument keeps, whatever clients send.
constexpr std::size_t maxLoggedCommands = 100000;
constexpr std::size_t maxLoggedBytes = 8u << 20;
constexpr std::size_t maxErrors = 32;
constexpr std::size_t maxFiles = 4096;
constexpr std::size_t maxNameLength = 256;
constexpr std::size_t maxReplySlack = 1u << 20;  // beyond the largest file, for a line of queries

const char* const noError = "+0,\"No error\"";
// Starts neither with "#" nor with a digit and holds no comma, so no reader can take it for
// a block, a state or an identity.
const char* const garbage = "\xFF\xFE\x01garbage\x7F?";

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// One node of a command header pattern such as "[SOURce]:RADio:ARB[:STATe]": the short form is
// the upper-case part, and a node sent by a client matches either form without regard to case.
struct PatternNode {
    std::string shortForm;
    std::string longForm;
    bool optional;
};

std::vector<PatternNode> compilePattern(std::string_view pattern) {
    std::vector<PatternNode> nodes;
    std::string token;
    bool optional = false;
    const auto flush = [&] {
        if (token.empty()) return;
        std::string shortForm;
        for (char c : token)
            if (!std::islower(static_cast<unsigned char>(c))) shortForm.push_back(c);
        nodes.push_back({shortForm, upper(token), optional});
        token.clear();
    };
    for (char c : pattern) {
        if (c == '[') {
            flush();
            optional = true;
        } else if (c == ']') {
            flush();
            optional = false;
        } else if (c == ':') {
            flush();
        } else {
            token.push_back(c);
        }
    }
    flush();
    return nodes;
}

bool matchFrom(const std::vector<std::string>& nodes, std::size_t i, const std::vector<PatternNode>& pattern,
               std::size_t j) {
    if (j == pattern.size()) return i == nodes.size();
    if (pattern[j].optional && matchFrom(nodes, i, pattern, j + 1)) return true;
    return i < nodes.size() && (nodes[i] == pattern[j].shortForm || nodes[i] == pattern[j].longForm) &&
           matchFrom(nodes, i + 1, pattern, j + 1);
}

// The header's nodes, upper-cased, without the leading colon and the query mark; empty when
// the header is malformed.
std::vector<std::string> headerNodes(std::string_view header) {
    if (!header.empty() && header.back() == '?') header.remove_suffix(1);
    if (!header.empty() && header.front() == ':') header.remove_prefix(1);
    std::vector<std::string> nodes;
    while (!header.empty()) {
        const std::size_t colon = header.find(':');
        const std::string_view node = header.substr(0, colon);
        if (node.empty()) return {};
        nodes.push_back(upper(node));
        if (colon == std::string_view::npos) break;
        header.remove_prefix(colon + 1);
        if (header.empty()) return {};
    }
    return nodes;
}

enum class Action {
    Identify, Reset, Clear, OperationComplete, Error, ArbState, Waveform, Catalogue, Data, Delete, Setting
};

struct CommandSpec {
    const char* pattern;
    Action action;
    const char* setting;  // the settings key of Action::Setting
    bool boolean;         // the setting is ON/OFF, kept as "1" or "0"
};

// Play-sequence commands and the queries a download makes; the settings keys are those
// documented in simulated_generator.h.
const CommandSpec commandSpecs[] = {
    {"*IDN", Action::Identify, nullptr, false},
    {"*RST", Action::Reset, nullptr, false},
    {"*CLS", Action::Clear, nullptr, false},
    {"*OPC", Action::OperationComplete, nullptr, false},
    {"SYSTem:ERRor[:NEXT]", Action::Error, nullptr, false},
    {"[SOURce]:RADio:ARB[:STATe]", Action::ArbState, "arbState", true},
    {"[SOURce]:RADio:ARB:WAVeform", Action::Waveform, "waveform", false},
    {"MMEMory:CATalog", Action::Catalogue, nullptr, false},
    {"MMEMory:DATA", Action::Data, nullptr, false},
    {"MMEMory:DELete", Action::Delete, nullptr, false},
    {"[SOURce]:FREQuency[:FIXed]", Action::Setting, "frequency", false},
    {"[SOURce]:FREQuency:CW", Action::Setting, "frequency", false},
    {"[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]", Action::Setting, "power", false},
    {"[SOURce]:POWer:ALC[:STATe]", Action::Setting, "alc", true},
    {"[SOURce]:RADio:ARB:CLOCk:SRATe", Action::Setting, "sampleClock", false},
    {"[SOURce]:RADio:ARB:CLOCk:REFerence", Action::Setting, "clockReference", false},
    {"[SOURce]:RADio:ARB:RFILter", Action::Setting, "reconFilter", false},
    {"[SOURce]:RADio:ARB:MARKer:RFBLank", Action::Setting, "rfBlanking", true},
    {"[SOURce]:RADio:ARB:MARKer:POLarity", Action::Setting, "markerPolarity", false},
    {"[SOURce]:RADio:ARB:RSCaling", Action::Setting, "runtimeScaling", false},
    {"[SOURce]:DM:BBFilter", Action::Setting, "bbFilter", false},
    {"[SOURce]:DM:IQATtenuation:AUTO", Action::Setting, "iqAttenuationAuto", true},
    {"[SOURce]:DM:IQATtenuation", Action::Setting, "iqAttenuation", false},
    {"OUTPut[:STATe]", Action::Setting, "outputState", true},
    {"OUTPut:MODulation[:STATe]", Action::Setting, "modulationState", true},
};

struct CompiledSpec {
    const CommandSpec* spec;
    std::vector<PatternNode> pattern;
};

const std::vector<CompiledSpec>& compiledSpecs() {
    static const std::vector<CompiledSpec> compiled = [] {
        std::vector<CompiledSpec> out;
        for (const CommandSpec& spec : commandSpecs) out.push_back({&spec, compilePattern(spec.pattern)});
        return out;
    }();
    return compiled;
}

const CommandSpec* findSpec(std::string_view header) {
    const std::vector<std::string> nodes = headerNodes(header);
    if (nodes.empty()) return nullptr;
    for (const CompiledSpec& compiled : compiledSpecs())
        if (matchFrom(nodes, 0, compiled.pattern, 0)) return compiled.spec;
    return nullptr;
}

std::optional<std::string> booleanValue(std::string_view argument) {
    const std::string value = upper(trim(argument));
    if (value == "ON" || value == "1") return "1";
    if (value == "OFF" || value == "0") return "0";
    return std::nullopt;
}

// The first string parameter: quoted with " or ' (a doubled quote stands for itself), or
// failing that the first bare word.
std::optional<std::string> stringParameter(std::string_view arguments) {
    arguments = trim(arguments);
    if (arguments.empty()) return std::nullopt;
    const char quote = arguments.front();
    if (quote != '"' && quote != '\'') {
        const std::size_t end = arguments.find_first_of(", \t");
        return std::string(arguments.substr(0, end));
    }
    std::string out;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] != quote) {
            out.push_back(arguments[i]);
        } else if (i + 1 < arguments.size() && arguments[i + 1] == quote) {
            out.push_back(quote);
            ++i;
        } else {
            return out;
        }
    }
    return std::nullopt;  // unterminated
}

std::string diskName(const std::string& key) {
    std::string out = key;
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    return out;
}

std::string blockReply(const std::vector<std::uint8_t>& data) {
    const std::string count = std::to_string(data.size());
    std::string reply = "#" + std::to_string(count.size()) + count;
    reply.append(data.begin(), data.end());
    return reply;
}

}  // namespace

const char* modelName(Model model) { return model == Model::Corvane ? "Corvane" : "Pellar"; }

Instrument::Instrument(Model model, std::size_t maxStoredBytes, std::string storeDir)
    : model_(model), maxStoredBytes_(maxStoredBytes), storeDir_(std::move(storeDir)) {}

std::string Instrument::identity() const {
    // The client reads the model from two characters after the first comma to the next one
    // and looks only at its last character.
    if (model_ == Model::Corvane) return "Brevia Simulation,CV4438C,US12345678,C.01.00";
    return "Brevia Simulation,PL4437B,US87654321,B.01.00";
}

std::string Instrument::execute(const ScpiMessage& message) {
    ++commandCount_;
    record(message.text);

    std::string reply;
    if (message.blocks.empty()) {
        // Several commands may share a line, separated by semicolons outside strings.
        std::size_t start = 0;
        char quote = 0;
        const std::string& text = message.text;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            const char c = i < text.size() ? text[i] : ';';
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == ';' || i == text.size()) {
                // One short line must not make a huge reply: many queries of a large file would.
                if (reply.size() > maxStoredBytes_ + maxReplySlack) {
                    pushError("-223,\"Too much data\"");
                    break;
                }
                const std::string part = run(std::string_view(text).substr(start, i - start), message.blocks);
                if (!part.empty()) reply += (reply.empty() ? "" : ";") + part;
                start = i + 1;
            }
        }
    } else {
        reply = run(message.text, message.blocks);
    }

    if (reply.empty() || faults_.silent) return {};
    if (faults_.garbageReplies) return std::string(garbage) + "\n";
    return reply + "\n";
}

std::string Instrument::run(std::string_view command, const std::vector<std::vector<std::uint8_t>>& blocks) {
    command = trim(command);
    if (command.empty()) return {};
    const std::size_t space = command.find_first_of(" \t");
    const std::string_view header = command.substr(0, space);
    const std::string_view arguments = space == std::string_view::npos ? std::string_view{} : command.substr(space);
    if (header.back() == '?') return query(header, arguments);
    set(header, arguments, blocks);
    return {};
}

std::string Instrument::query(std::string_view header, std::string_view arguments) {
    const CommandSpec* spec = findSpec(header);
    if (!spec) {
        pushError("-113,\"Undefined header\"");
        return {};
    }
    switch (spec->action) {
    case Action::Identify:
        return faults_.idnOverride.empty() ? identity() : faults_.idnOverride;
    case Action::OperationComplete:
        return "1";
    case Action::Error: {
        if (errors_.empty()) return noError;
        std::string error = std::move(errors_.front());
        errors_.pop_front();
        return error;
    }
    case Action::Waveform: {
        const auto it = settings_.find("waveform");
        return "\"" + (it == settings_.end() ? std::string() : it->second) + "\"";
    }
    case Action::Catalogue:
        return catalogue(arguments);
    case Action::Data: {
        const auto name = stringParameter(arguments);
        const std::string key = name ? canonicalFile(*name) : std::string();
        const auto it = files_.find(key);
        if (it == files_.end()) {
            // An empty block rather than silence: the reader fails at once instead of waiting
            // for its time-out.
            pushError("-256,\"File name not found\"");
            return "#10";
        }
        return blockReply(it->second);
    }
    case Action::ArbState:
    case Action::Setting: {
        const auto it = settings_.find(spec->setting);
        return it == settings_.end() ? "0" : it->second;
    }
    default:
        pushError("-113,\"Undefined header\"");
        return {};
    }
}

void Instrument::set(std::string_view header, std::string_view arguments,
                     const std::vector<std::vector<std::uint8_t>>& blocks) {
    const CommandSpec* spec = findSpec(header);
    if (!spec) {
        pushError("-113,\"Undefined header\"");
        return;
    }
    switch (spec->action) {
    case Action::Reset:
        reset();
        return;
    case Action::Clear:
        errors_.clear();
        return;
    case Action::OperationComplete:
        return;
    case Action::Waveform: {
        const auto name = stringParameter(arguments);
        const std::string key = name ? canonicalFile(*name) : std::string();
        if (key.empty()) {
            pushError("-256,\"File name not found\"");
            return;
        }
        // Selected even when no such file is held, so that a play sequence can be checked
        // without a download; the instrument still reports the missing file.
        if (!files_.contains(key)) pushError("-256,\"File name not found\"");
        settings_["waveform"] = key;
        return;
    }
    case Action::Data: {
        const auto name = stringParameter(arguments);
        const std::string key = name ? canonicalFile(*name) : std::string();
        if (key.empty()) {
            pushError("-256,\"File name not found\"");
        } else if (blocks.empty()) {
            pushError("-109,\"Missing parameter\"");
        } else {
            storeFile(key, blocks.front());
        }
        return;
    }
    case Action::Delete: {
        const auto name = stringParameter(arguments);
        const auto it = files_.find(name ? canonicalFile(*name) : std::string());
        if (it == files_.end()) {
            pushError("-256,\"File name not found\"");
            return;
        }
        storedBytes_ -= it->second.size();
        files_.erase(it);
        return;
    }
    case Action::ArbState:
    case Action::Setting: {
        const std::string_view value = trim(arguments);
        if (value.empty()) {
            pushError("-109,\"Missing parameter\"");
            return;
        }
        if (!spec->boolean) {
            settings_[spec->setting] = std::string(value);
            return;
        }
        const auto flag = booleanValue(value);
        if (!flag) {
            pushError("-224,\"Illegal parameter value\"");
            return;
        }
        settings_[spec->setting] = *flag;
        return;
    }
    default:
        pushError("-113,\"Undefined header\"");
        return;
    }
}

// "WFM1:name" with the catalogue upper-cased and the name as sent; empty when the name is not
// a file of this instrument. Corvane reads the ARBI: catalogue as WFM1: (the naming older
// clients use), which is what lets one play sequence serve both models.
std::string Instrument::canonicalFile(std::string_view text) const {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return {};
    std::string prefix = upper(text.substr(0, colon + 1));
    const std::string_view name = text.substr(colon + 1);
    if (name.empty() || name.size() > maxNameLength) return {};
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return {};
    if (prefix != "WFM1:" && prefix != "MKR1:" && prefix != "ARBI:" && prefix != "ARBQ:") return {};
    if (model_ == Model::Corvane && prefix == "ARBI:") prefix = "WFM1:";
    return prefix + std::string(name);
}

void Instrument::storeFile(const std::string& key, const std::vector<std::uint8_t>& data) {
    const auto existing = files_.find(key);
    const std::size_t replaced = existing == files_.end() ? 0 : existing->second.size();
    if (existing == files_.end() && files_.size() >= maxFiles) {
        pushError("-250,\"Mass storage error; too many files\"");
        return;
    }
    if (data.size() > maxStoredBytes_ - (storedBytes_ - replaced)) {
        pushError("-250,\"Mass storage error; memory full\"");
        return;
    }
    files_[key] = data;
    storedBytes_ = storedBytes_ - replaced + data.size();
    if (storeDir_.empty()) return;
    std::ofstream out(storeDir_ + "/" + diskName(key), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) pushError("-250,\"Mass storage error; cannot write the store\"");
}

// "used,free" in bytes, then one "NAME,ARB,SIZE" string per file of the catalogue, names in
// upper case as the instrument lists them.
std::string Instrument::catalogue(std::string_view arguments) const {
    std::string prefix;
    if (const auto name = stringParameter(arguments)) {
        prefix = upper(*name);
        if (model_ == Model::Corvane && prefix == "ARBI:") prefix = "WFM1:";
    }
    std::string reply = std::to_string(storedBytes_) + "," + std::to_string(maxStoredBytes_ - storedBytes_);
    for (const auto& [key, data] : files_) {
        if (!key.starts_with(prefix)) continue;
        const std::size_t colon = key.find(':');
        reply += ",\"" + upper(std::string_view(key).substr(colon + 1)) + ",ARB," + std::to_string(data.size()) + "\"";
    }
    return reply;
}

void Instrument::record(const std::string& text) {
    commands_.push_back(text);
    commandLogBytes_ += text.size();
    while (commands_.size() > maxLoggedCommands || commandLogBytes_ > maxLoggedBytes) {
        commandLogBytes_ -= commands_.front().size();
        commands_.pop_front();
    }
}

void Instrument::pushError(std::string error) {
    if (errors_.size() < maxErrors) {
        errors_.push_back(std::move(error));
    } else {
        errors_.back() = "-350,\"Error queue overflow\"";
    }
}

void Instrument::reset() { settings_.clear(); }

}  // namespace sim
