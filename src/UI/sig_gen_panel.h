#pragma once
// What the signal generator panel makes of its entries, apart from the window: numbers in
// the unit of their list and limited, the amplitude rounded and limited, the waveform title
// cleaned to what the instrument stores, and the unit a frequency is shown in.

#include <string>
#include <string_view>
#include <vector>

#include "host/array.h"

namespace ui::panel {

// The units of the frequency boxes' lists, by their place in the list (the list's value).
enum class FrequencyUnit { Hz = 1, kHz = 2, MHz = 3, GHz = 4 };
// The unit a list's value chooses; a value off the list is Hz.
FrequencyUnit frequencyUnit(double listValue);
double hertzPer(FrequencyUnit unit);

// The number an entry stands for in the unit of its list (1 Hz, 2 kHz, 3 MHz, 4 GHz), limited
// to [low, high]; several numbers give the largest. Text with no number in it keeps
// `previous` (in Hz), rather than ending at a limit.
double scaledEntry(std::string_view text, double unitIndex, double low, double high, double previous);
double frequencyEntry(std::string_view text, double unitIndex, double previous);     // 100 kHz ... 4 GHz
double samplingRateEntry(std::string_view text, double unitIndex, double previous);  // 1 Hz ... 40 MHz
// dBm, rounded to the nearest integer (halves away from zero), -136 ... 20; no number keeps
// `previous`.
double amplitudeEntry(std::string_view text, double previous);

// Upper case; only A-Z, 0-9 and _ $ & # + - [ ] kept; at most 20; "BLANK" when none remain.
std::string cleanTitle(std::string_view text);

// A whole settings record (SigGenSettings) brought within what the panel can hold, so that
// nothing out of range reaches an instrument: Frequency 100 kHz ... 4 GHz, Amplitude -136 ...
// +20 dBm, SamplingRate 1 Hz ... 40 MHz, ReconFilter one of the list's 1 ... 4 (what the
// instrument would take as "through" becomes 4), the switches 0 or 1 as the instrument reads
// them (RFblanking on only at 1; ArbRefSource and MarkerPolarity set at anything but 0), and
// the title cleaned. `asTyped` rounds and cleans as the panel takes an entry (amplitude to
// whole dBm, the title upper case); a record read from a file keeps its fractions and a
// title's lower case, and has a title cleaned only when it holds other characters. Fields the record lacks are left out.
// Returns one line per change ("Amplitude 50 dBm limited to 20 dBm"); throws host::Error
// naming the field when one is not a number.
std::vector<std::string> limitSettings(host::Array& settings, bool asTyped);

// The unit list's index for a frequency and the number shown in that unit.
struct Shown {
    FrequencyUnit unit;
    double value;
};
Shown shownFrequency(double hertz);

}  // namespace ui::panel
