#pragma once

// The step block: the 3596-byte body of a pattern (a pattern record without its
// four magic characters). The engine's recorder writes its results in this form,
// one block per 64 steps, and the MIDI writer and reader work on it.
//
// All integers are in host order. Offsets inside the block are fixed (they are
// the device's, minus 4) and checked below, so a block may be copied as bytes.

#include <cstddef>
#include <cstdint>

namespace korva
{

constexpr int kStepCount = 64; // 4 bars of 16 steps
constexpr int kStepsPerBar = 16;
constexpr int kSlotCount = 8;        // note slots per step
constexpr int kSubPositionCount = 6; // sixths of a step
constexpr int kLaneCount = 5;        // controller lanes
constexpr int kNudgeCount = 6;

// Note lengths count eighths of a step minus one: 0 = one eighth, 7 = one step.
// Lengths from kMaxNoteLength + 1 (= 64 steps) up are never stored.
constexpr uint16_t kMaxNoteLength = 511;

struct NoteSlot
{
    uint8_t note;     // 0 to 127
    uint8_t velocity; // 1 to 127
    uint16_t length;  // eighths of a step minus one
};

// Recorded performance data of one step.
struct StepMotion
{
    uint8_t transposeCode;      // 0 to 16, 8 = none
    uint8_t repeatCode;         // recorded time effect, 0 = none
    uint8_t loopCode;           // recorded loop effect, 0 = none
    uint8_t nudge[kNudgeCount]; // per sub-position, index into the amount table, 64 = none
};

struct StepBlock
{
    uint8_t barCount;
    uint8_t speed;
    uint8_t reserved[2];
    uint32_t steps[kStepCount]; // step words, see namespace stepword
    uint16_t stepPresentMasks[4];
    uint8_t subPositionMasks[kStepCount][kSubPositionCount]; // bit n of byte k: slot n starts at sub-position k
    NoteSlot notes[kStepCount][kSlotCount];
    uint8_t ccValues[kStepCount][kLaneCount];
    StepMotion stepMotion[kStepCount];
};

constexpr std::size_t kStepBlockSize = 3596;
static_assert (sizeof (NoteSlot) == 4);
static_assert (sizeof (StepMotion) == 9);
static_assert (sizeof (StepBlock) == kStepBlockSize);
static_assert (offsetof (StepBlock, steps) == 4);
static_assert (offsetof (StepBlock, stepPresentMasks) == 260);
static_assert (offsetof (StepBlock, subPositionMasks) == 268);
static_assert (offsetof (StepBlock, notes) == 652);
static_assert (offsetof (StepBlock, ccValues) == 2700);
static_assert (offsetof (StepBlock, stepMotion) == 3020);

// The step word in its decoded (record) form: fields packed from the least
// significant bit up.
//   bit 0      enabled    the step takes part in playback
//   bit 1      tie        notes running into this step are held through it
//   bits 2-3   ratioDen   the step lasts ratioDen + 1 steps
//   bits 4-5   ratioNum   its notes are played ratioNum + 1 times within that
//   bits 6-8   tag        chord slot tag - 1 added while playing, 0 none
//   bit 9      glide
//   bits 10-17 noteMask   note slots in use
//   bits 18-22 ccMask     controller lanes with a value
//   bits 23-31 reserved, zero
namespace stepword
{
constexpr uint32_t kEnabled = 1u << 0;
constexpr uint32_t kTie = 1u << 1;
constexpr uint32_t kGlide = 1u << 9;
constexpr int kRatioDenShift = 2;
constexpr int kRatioNumShift = 4;
constexpr int kTagShift = 6;
constexpr int kNoteMaskShift = 10;
constexpr int kCcMaskShift = 18;
constexpr uint32_t kNoteMaskBits = 0xFFu << kNoteMaskShift;
constexpr uint32_t kCcMaskBits = 0x1Fu << kCcMaskShift;

constexpr bool enabled (uint32_t w)
{
    return (w & kEnabled) != 0;
}
constexpr bool tie (uint32_t w)
{
    return (w & kTie) != 0;
}
constexpr bool glide (uint32_t w)
{
    return (w & kGlide) != 0;
}
constexpr int ratioDen (uint32_t w)
{
    return (int)((w >> kRatioDenShift) & 3u);
}
constexpr int ratioNum (uint32_t w)
{
    return (int)((w >> kRatioNumShift) & 3u);
}
constexpr int tag (uint32_t w)
{
    return (int)((w >> kTagShift) & 7u);
}
constexpr uint8_t noteMask (uint32_t w)
{
    return (uint8_t)((w >> kNoteMaskShift) & 0xFFu);
}
constexpr uint8_t ccMask (uint32_t w)
{
    return (uint8_t)((w >> kCcMaskShift) & 0x1Fu);
}

constexpr uint32_t withNoteMask (uint32_t w, uint8_t mask)
{
    return (w & ~kNoteMaskBits) | ((uint32_t)mask << kNoteMaskShift);
}
constexpr uint32_t withCcMask (uint32_t w, uint8_t mask)
{
    return (w & ~kCcMaskBits) | ((uint32_t)(mask & 0x1Fu) << kCcMaskShift);
}
constexpr uint32_t withRatio (uint32_t w, int num, int den)
{
    return (w & ~(0xFu << kRatioDenShift)) | ((uint32_t)(den & 3) << kRatioDenShift) |
           ((uint32_t)(num & 3) << kRatioNumShift);
}
constexpr uint32_t withTag (uint32_t w, int t)
{
    return (w & ~(7u << kTagShift)) | ((uint32_t)(t & 7) << kTagShift);
}
} // namespace stepword

// Reading a step of a block. Step, slot, lane and sub-position indexes outside
// their ranges read as empty (0), so callers walking bad data stay inside the block.
uint32_t stepWord (const StepBlock& block, int step);
uint8_t stepNoteMask (const StepBlock& block, int step);
uint8_t stepCcMask (const StepBlock& block, int step);
uint8_t stepSubPositionMask (const StepBlock& block, int step, int subPosition);
NoteSlot stepNote (const StepBlock& block, int step, int slot);
uint8_t stepCcValue (const StepBlock& block, int step, int lane);

// Whether slot `slot` of the step starts at sub-position `subPosition` and is in use.
bool slotStartsAt (const StepBlock& block, int step, int slot, int subPosition);

// Adds a note to a step at a sub-position with length 0 ("Adding a note"):
// a note already starting there shares its slot (the later velocity wins);
// otherwise the first free slot is taken. Returns the slot, or -1 when the step
// holds 8 other notes or an index is out of range.
int addNoteToStep (StepBlock& block, int step, int subPosition, uint8_t note, uint8_t velocity);

// Sets controller lane `lane` of a step: its ccMask bit and its value.
// Nothing happens for a lane or step out of range.
void setStepCcValue (StepBlock& block, int step, int lane, uint8_t value);

// Writes the empty-pattern content into a block: bar count 1, speed 2, every
// bar present, every step enabled with slot 0 at sub-position 0, every note slot
// (60, 100, 7), no controller values, every motion record (8, 0, 0, 64 x 6).
void clearPattern (StepBlock& block);

} // namespace korva
