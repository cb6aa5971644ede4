#pragma once
// Waveform transfer to the two signal generator models: conversion of I/Q samples and
// markers into the instrument's file formats, definite-length block writes and block
// read-back.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

class HardwareIO;

// Largest block accepted from an instrument; a bigger size in a reply is refused before
// any memory is taken for it.
inline constexpr std::size_t kMaxInstrumentBlockBytes = std::size_t{256} << 20;

// Half away from zero: 0.5 is added to a value >= 0, subtracted from a negative one, and
// the result is truncated.
double roundHalfAway(double value);

// "#", the digit count, the byte count: the IEEE 488.2 definite-length block header.
std::string blockHeader(std::size_t byteCount);

class SignalGenerator {
public:
    explicit SignalGenerator(HardwareIO& session) : session_(session) {}
    virtual ~SignalGenerator();

    SignalGenerator(const SignalGenerator&) = delete;
    SignalGenerator& operator=(const SignalGenerator&) = delete;

    // I and Q hold `count` samples (nullptr counts as all zeros); the marker matrix is
    // column-major with `rows` rows and `columns` columns.
    virtual bool download(std::size_t count, const double* i, const double* q, std::size_t rows,
                          std::size_t columns, const double* markers, const std::string& name) = 0;

    void setGain(double gain);
    void setNormalize(bool normalize) { normalize_ = normalize; }
    double gain() const { return gain_; }
    bool normalize() const { return normalize_; }

    bool checkSamples(std::size_t count, std::size_t markerColumns);
    // The samples divided by the largest |I| or |Q| when normalisation is on.
    void normalizeIQ(std::size_t count, const double* i, const double* q, std::vector<double>& iOut,
                     std::vector<double>& qOut) const;
    // Whether the ARB plays the file of that quoted name. False, with the transport's
    // message, when either query failed: a download must not go on over a link that just
    // lost a reply, whose late answer would be taken for the next one.
    bool isPlaying(const std::string& quotedName, bool& playing);

    bool sendBinaryBlock(const std::string& prefix, const std::uint8_t* bytes, std::size_t count);
    // Sends the query and reads the block header of its reply; refuses a block larger than
    // kMaxInstrumentBlockBytes.
    bool readBlockHeader(const std::string& command, std::size_t& count);
    bool readBlockData(std::uint8_t* buffer, std::size_t count);

    // Whether the instrument's memory (its catalogue of `directory`, "used,free" then
    // "NAME,ARB,size" per file) holds `neededBytes` for the waveform's files, counting the
    // free bytes and what the files of that name now take: the listed file's size, scaled
    // by the waveform's files to that file (`neededBytes` / `listedFileBytes`). A reply with
    // no figures passes; a failed query or too little memory fails with the status text set.
    bool checkMemory(const char* directory, const std::string& name, std::size_t listedFileBytes, std::size_t neededBytes);

protected:
    // Switches the ARB off when it plays the file about to be replaced (switchedOff says so).
    bool stopIfPlaying(const std::string& quotedName, bool& switchedOff);
    // The ARB back on when it was switched off for the download, then the instrument's
    // confirmation that everything has arrived.
    bool finishDownload(bool switchedOff);

    HardwareIO& session_;
    double gain_ = 1.0;
    bool normalize_ = true;
};

class Corvane : public SignalGenerator {
public:
    using SignalGenerator::SignalGenerator;
    bool download(std::size_t count, const double* i, const double* q, std::size_t rows, std::size_t columns,
                  const double* markers, const std::string& name) override;

    // The instrument's two files, built in memory: I/Q words and marker bytes.
    void buildFiles(std::size_t count, const double* i, const double* q, std::size_t rows, const double* markers,
                    std::vector<std::uint8_t>& iq, std::vector<std::uint8_t>& markerBytes) const;
};

class Pellar : public SignalGenerator {
public:
    using SignalGenerator::SignalGenerator;
    bool download(std::size_t count, const double* i, const double* q, std::size_t rows, std::size_t columns,
                  const double* markers, const std::string& name) override;
    bool checkMemory(const std::string& name, std::size_t neededBytes);

    // The I file (with the marker bits) and the Q file, big-endian words.
    void buildFiles(std::size_t count, const double* i, const double* q, std::size_t rows, const double* markers,
                    std::vector<std::uint8_t>& iFile, std::vector<std::uint8_t>& qFile) const;
};

// The model named by the instrument's identification, or nullptr with the status text
// saying why: the transport's message when the query failed (and `unanswered` set), else
// what the identification names and which models are supported.
std::unique_ptr<SignalGenerator> selectModel(HardwareIO& session, bool* unanswered = nullptr);

// The model field of an identification ("maker, model, serial, firmware"): from two
// characters after the first comma up to the next one; empty when there is none.
std::string modelField(const std::string& identification);

// Why an identification selects no model, naming what it holds and the models supported.
std::string unsupportedModelText(const std::string& identification);

}  // namespace vesk
