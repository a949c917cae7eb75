#pragma once

// The pattern record: the KORVA's current pattern as the application works on it.
//
// The device hands a pattern over as a 4096-byte payload: bytes 0 to 3763 hold
// the record with big-endian integers and step words packed from the top bit
// down; the rest is unused. The decoded record keeps every field at the same
// offset as the payload, with integers in host order and step words re-packed
// from the lowest bit up (see stepword in StepBlock.h).
//
//   offset 0     magic        "seq3"; the last character is the format digit
//   offset 4     block        the 3596-byte step block (StepBlock.h)
//   offset 3600  settings     play settings and the step chain
//   offset 3764  end

#include "core/patterns/StepBlock.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace korva
{

constexpr std::size_t kPatternPayloadSize = 4096;
constexpr std::size_t kPatternRecordSize = 3764;
constexpr char kPatternFormatDigit = '3';

using PatternPayload = std::array<uint8_t, kPatternPayloadSize>;

struct PatternSettings
{
    uint8_t grooveCurve;  // 0 to 5
    uint8_t grooveCycle;  // groove cycle in steps (16)
    uint8_t grooveAmount; // index into the amount table, 64 = no groove
    uint8_t swing;        // 0 to 100 percent
    uint8_t arpEnabled;   // non-zero: arpeggiator on
    uint8_t arpOctaves;   // octave range, at least 1
    uint8_t arpGate;      // 0 to 100 percent of the time between arpeggiator notes
    uint8_t reserved7;
    uint32_t arpRate;           // 0 to 7
    uint32_t arpMode;           // 0 up, 1 down, 2 up and down, 3 random
    uint8_t scaleType;          // 0 to 22, 0 = chromatic
    uint8_t scaleRoot;          // root pitch class 0 to 11
    uint8_t probability;        // 0 to 100 percent
    uint8_t probabilityEnabled; // non-zero: notes play with `probability`
    uint8_t resyncEnabled;      // non-zero: restart every resyncSteps master steps
    uint8_t resyncSteps;        // 1 to 64
    uint8_t reserved22[2];
    uint32_t stepOrder;  // play order of a bar's 16 steps, 0 to 11
    uint8_t linkReverse; // non-zero: the step chain is walked backwards
    uint8_t linkEndFlag; // non-zero: back and forth
    uint8_t reserved30[2];
    uint32_t patternOption; // carried unchanged
    uint8_t nextLinks[kStepCount];
    uint8_t prevLinks[kStepCount];
};

struct PatternRecord
{
    char magic[4];
    StepBlock block;
    PatternSettings settings;
};

static_assert (sizeof (PatternRecord) == kPatternRecordSize);
static_assert (offsetof (PatternRecord, block) == 4);
static_assert (offsetof (PatternRecord, settings) == 3600);
static_assert (offsetof (PatternRecord, settings) + offsetof (PatternSettings, arpRate) == 3608);
static_assert (offsetof (PatternRecord, settings) + offsetof (PatternSettings, scaleType) == 3616);
static_assert (offsetof (PatternRecord, settings) + offsetof (PatternSettings, stepOrder) == 3624);
static_assert (offsetof (PatternRecord, settings) + offsetof (PatternSettings, patternOption) == 3632);
static_assert (offsetof (PatternRecord, settings) + offsetof (PatternSettings, nextLinks) == 3636);
static_assert (offsetof (PatternRecord, settings) + offsetof (PatternSettings, prevLinks) == 3700);

// Results of decodePattern.
enum DecodeResult
{
    kDecodeOk = 0,
    kDecodeDeviceDataOld = 1, // format digit below '3': the device's firmware is older
    kDecodeAppDataOld = 2,    // format digit above '3': this application is older
    kDecodeTooShort = 3       // fewer than 3764 bytes (callers check for 4096 first)
};

// Decodes the first 3764 bytes of a payload into `record`. On kDecodeDeviceDataOld
// and kDecodeAppDataOld only `magic` has been written; on kDecodeTooShort nothing.
DecodeResult decodePattern (const uint8_t* payload, std::size_t payloadSize, PatternRecord& record);

// Encodes `record` into a full payload: big-endian integers, step words re-packed,
// reserved bytes, step-word bits 0 to 8 and bytes 3764 to 4095 zero.
void encodePattern (const PatternRecord& record, PatternPayload& payload);

// The empty pattern: magic "seq3", the cleared step block and the default
// settings (16-step ring in both link arrays, groove cycle 16, amount 64,
// arpeggiator 1 octave / gate 100 / rate 5, probability 50, resync every 16 steps).
void makeEmptyPattern (PatternRecord& record);

// Groove amounts and nudges index this table: (i - 64) / 64 below 64, 0 at 64,
// (i - 64) / 63 above, so 0 is -1.0 and 127 is +1.0. Single precision, as on the device.
constexpr std::array<float, 128> makeAmountTable()
{
    std::array<float, 128> table{};
    for (int i = 0; i < 128; ++i)
        table[(std::size_t)i] = i < 64 ? (float)(i - 64) / 64.0f : i == 64 ? 0.0f : (float)(i - 64) / 63.0f;
    return table;
}
inline constexpr std::array<float, 128> kAmountTable = makeAmountTable();
constexpr uint8_t kNeutralAmount = 64;

} // namespace korva
