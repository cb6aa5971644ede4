#pragma once
// What the slot setup dialog does to its working copy of the per-slot record, apart from the
// window: the default record, the entries' rounding and limits, and the fast edits that set
// all 16 slots at once.

#include <optional>
#include <string_view>
#include <vector>

#include "host/array.h"

namespace ui::slotedit {

// All ones, gains 0 dB, every RPC channel on with bit 1 and 0 dB.
host::Array defaultSlotStruct();

// An RA bit (0 or 1) and an RA gain (-30 ... 30 dB) from a text entry: rounded to the nearest
// integer, limited above then below; several numbers give the largest, and text with no
// number in it keeps `previous`. The RPC channels' bits and gains read the same way.
double raValueEntry(std::string_view text, double previous);
double raGainEntry(std::string_view text, double previous);

// The activity pattern v (1 ... 6, 6 random) over n slots or channels: 1 all on, 2 all on
// but every fourth, 3 all on but the even ones, 4 only every fourth, 5 all off, 6 at random.
// Nothing for another v.
std::optional<std::vector<double>> activityPattern(double v, std::size_t n);
// The same as a 16 x 1 column of slots.
std::optional<host::Array> fasteditActive(double v);

// The RPC dialog's fast edits of the 59 channels' bits and gains (nothing for another v).
std::optional<std::vector<double>> rpcValuePattern(double v);
std::optional<std::vector<double>> rpcGainPattern(double v);
// Gains moved so that the active channels' linear amplitudes sum to `target` dB (limited to
// -30 ... 30); unchanged when no channel is active.
std::vector<double> normalisedGains(const std::vector<double>& active, std::vector<double> gains, double target);

// The fast edits of the modulation, RA bit, RA gain and RPC columns on `slot` (other indices
// change nothing). Random patterns come from the host's uniform generator.
void fasteditDataMod(host::Array& slot, double v);
void fasteditRaValue(host::Array& slot, double v);
void fasteditRaGain(host::Array& slot, double v);
void fasteditRpcSetup(host::Array& slot, double v);

}  // namespace ui::slotedit
