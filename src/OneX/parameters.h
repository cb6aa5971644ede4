#pragma once
// The waveform parameter set `parameters`: every setting that shapes the frame, as a
// struct array with the fields, shapes and defaults that parameter files store, and the
// rules by which the main window's text boxes turn what the user typed into a value.

#include <cstddef>
#include <optional>
#include <string_view>

#include "host/array.h"

namespace onex {

inline constexpr const char* kParameterFileFormatId = "OneX-Fwd - Format 1.2";
inline constexpr std::size_t kSlotsPerFrame = 16;
inline constexpr std::size_t kChipsPerSlot = 2048;
inline constexpr std::size_t kChipsPerFrame = kSlotsPerFrame * kChipsPerSlot;  // 32768
inline constexpr double kChipRate = 1228800.0;

// A new record with every default, fields in the order parameter files keep them.
host::Array defaultParameters();
// The per-slot record `parameters.slot` with its defaults.
host::Array defaultSlotParameters();
// Fills the application's `parameters` record with the defaults.
void InitializeParameters();
// The application's `parameters` record; headless use that never initialised it gets the
// defaults.
host::Array& applicationParameters();

// How a text entry becomes a number: the largest number of the text, optionally truncated
// toward zero, then clamped to [low, high]. Never refuses: text with no number in it (NaN
// included) keeps `previous`, rather than ending at a limit.
enum class Rounding { None, TowardZero };
double clampEntry(std::string_view text, double low, double high, Rounding rounding, double previous);

// The three text boxes of the main window.
double pilotOffsetIndexEntry(std::string_view text, double previous);  // truncated, 0 ... 511
double overSamplingEntry(std::string_view text, double previous);      // truncated, 2 ... 30
double idleSlotGainEntry(std::string_view text, double previous);      // dB, -80 ... 0, not rounded

// Stores a new oversampling ratio and keeps ProjectedLength, the waveform's sample count.
void setOverSampling(host::Array& parameters, double overSampling);

// The fields for several frames and coded packets, added after LastPath with their defaults
// where a record (of an older file) lacks them: FrameCount 1, DATApacketMode 0,
// DATApacketDRC 6, DATApacketMAC 5, DATApacketInterlaces [1 1 1 1].
void addMissingFields(host::Array& parameters);

// The defaults with the fields of `given` put in (the slot record field by field), so a
// caller names only what differs. A field the record does not know is an error naming it.
host::Array completedParameters(const host::Array& given, std::string_view function);

// The frames a record's waveform has: FrameCount, raised in packet mode to whole packets on
// every interlace; and ProjectedLength set to OverSampling x 32768 x that.
std::size_t waveformFrames(const host::Array& parameters);
void updateProjectedLength(host::Array& parameters);

// An entry for one of those fields as every entry is taken: rounded half away from zero, then
// limited (FrameCount 1 ... 16, DATApacketMode 0 or 1, DATApacketDRC 1 ... 12, DATApacketMAC
// 5 ... 63, each interlace flag 0 or 1). Nothing for another field.
std::optional<double> packetFieldEntry(std::string_view name, double value);
// The same for text typed into the field's box: text without a number keeps `previous`.
double packetFieldEntry(std::string_view name, std::string_view text, double previous);

}  // namespace onex
