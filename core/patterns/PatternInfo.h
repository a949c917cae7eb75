#pragma once

// What the device says about its current pattern (the 20-byte pattern-information
// payload): where the pattern sits, which controller number each lane sends and
// the chord slots the pattern's chord steps refer to.
//
//   offset 0   1 byte   track number
//   offset 1   1 byte   pattern number
//   offset 2   5 bytes  controller numbers of lanes 0 to 4
//   offset 7   1 byte   extra byte, kept but not used by any conversion
//   offset 8   12 bytes six chord slots, u16 big-endian each

#include "core/patterns/StepBlock.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace korva
{

constexpr std::size_t kPatternInfoSize = 20;

// The six chord slots a pattern's chord steps refer to.
constexpr int kChordSlotCount = 6;
using ChordSlots = std::array<uint16_t, kChordSlotCount>;

using CcNumbers = std::array<int, kLaneCount>;

struct PatternInfo
{
    int trackNumber = -1;
    int patternNumber = -1;
    CcNumbers ccNumbers{}; // before any pattern information every lane sends controller 0
    int extra = 0;
    ChordSlots chordSlots{};
};

// Fills `info` from a pattern-information payload; false (and `info` untouched)
// unless the payload is exactly 20 bytes.
bool parsePatternInfo (const uint8_t* payload, std::size_t size, PatternInfo& info);

} // namespace korva
