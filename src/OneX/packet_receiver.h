#pragma once
// The receiving end of a coded packet, as far as a check of the waveform needs: from the
// packet's data chips (despread and scaled so that a pilot chip comes back as 1) it finds
// the preamble's MAC index, undoes the Walsh covers, checks that the repeated modulation
// symbols decide as their first sending, and reads the systematic bits from the front of
// the interleaved block (they come first and are always sent whole), descrambles them and
// checks the frame check sequence. No turbo decoding is needed for that.

#include <cstddef>
#include <span>

#include "OneX/common_channels.h"

namespace onex {

struct ModParams;

struct PacketCheck {
    int preambleMacIndex = -1;  // the MAC index whose preamble the first chips match best; -1: none
    bool preambleFound = false; // that index is the one addressed, and clearly so
    bool repeatsMatch = false;  // every repeated symbol decides as its first sending
    bool fcsGood = false;
};

// `dataChips`: the packet's n x 1600 data chips in order over its slots.
PacketCheck checkPacket(std::span<const Complex> dataChips, const ModParams& mp, int macIndex);

}  // namespace onex
