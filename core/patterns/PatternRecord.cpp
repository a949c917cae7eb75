#include "core/patterns/PatternRecord.h"

#include <cstring>

namespace korva
{

namespace
{

// Where each step-word field sits: in the payload from the top bit down, in the
// record from the bottom bit up. Within a field the bit order is the same.
struct StepField
{
    int payloadShift;
    int recordShift;
    uint32_t mask;
};

constexpr StepField kStepFields[] = {
    {31, 0, 0x1},   // enabled
    {30, 1, 0x1},   // tie
    {28, 2, 0x3},   // ratioDen
    {26, 4, 0x3},   // ratioNum
    {23, 6, 0x7},   // tag
    {22, 9, 0x1},   // glide
    {14, 10, 0xFF}, // noteMask
    {9, 18, 0x1F},  // ccMask
};

constexpr std::size_t kStepsOffset = 8;
constexpr std::size_t kPresentMasksOffset = 264;
constexpr std::size_t kSubPositionsOffset = 272;
constexpr std::size_t kNotesOffset = 656;
constexpr std::size_t kCcValuesOffset = 2704;
constexpr std::size_t kMotionOffset = 3024;
constexpr std::size_t kSettingsOffset = 3600;

uint16_t readU16 (const uint8_t* p)
{
    return (uint16_t)((p[0] << 8) | p[1]);
}
uint32_t readU32 (const uint8_t* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}
void writeU16 (uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}
void writeU32 (uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

uint32_t stepWordFromPayload (uint32_t payloadWord)
{
    uint32_t word = 0;
    for (const auto& field : kStepFields)
        word |= ((payloadWord >> field.payloadShift) & field.mask) << field.recordShift;
    return word;
}

uint32_t stepWordToPayload (uint32_t word)
{
    uint32_t payloadWord = 0;
    for (const auto& field : kStepFields)
        payloadWord |= ((word >> field.recordShift) & field.mask) << field.payloadShift;
    return payloadWord;
}

// The single-byte settings at 3600 to 3606, 3616 to 3621, 3628 and 3629.
template <typename Record, typename Visit>
void forEachByteSetting (Record& s, Visit&& visit)
{
    visit (0, s.grooveCurve);
    visit (1, s.grooveCycle);
    visit (2, s.grooveAmount);
    visit (3, s.swing);
    visit (4, s.arpEnabled);
    visit (5, s.arpOctaves);
    visit (6, s.arpGate);
    visit (16, s.scaleType);
    visit (17, s.scaleRoot);
    visit (18, s.probability);
    visit (19, s.probabilityEnabled);
    visit (20, s.resyncEnabled);
    visit (21, s.resyncSteps);
    visit (28, s.linkReverse);
    visit (29, s.linkEndFlag);
}

template <typename Record, typename Visit>
void forEachWordSetting (Record& s, Visit&& visit)
{
    visit (8, s.arpRate);
    visit (12, s.arpMode);
    visit (24, s.stepOrder);
    visit (32, s.patternOption);
}

} // namespace

DecodeResult decodePattern (const uint8_t* payload, std::size_t payloadSize, PatternRecord& record)
{
    if (payload == nullptr || payloadSize < kPatternRecordSize)
        return kDecodeTooShort;

    std::memcpy (record.magic, payload, 4);
    const uint8_t formatDigit = payload[3];
    if (formatDigit < (uint8_t)kPatternFormatDigit)
        return kDecodeDeviceDataOld;
    if (formatDigit > (uint8_t)kPatternFormatDigit)
        return kDecodeAppDataOld;

    StepBlock& block = record.block;
    block.barCount = payload[4];
    block.speed = payload[5];
    block.reserved[0] = block.reserved[1] = 0;

    for (int step = 0; step < kStepCount; ++step)
    {
        // Byte 3 of the word holds only reserved bits.
        const uint8_t* p = payload + kStepsOffset + 4 * step;
        block.steps[step] =
            stepWordFromPayload (((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8));
    }
    for (int bar = 0; bar < 4; ++bar)
        block.stepPresentMasks[bar] = readU16 (payload + kPresentMasksOffset + 2 * bar);
    std::memcpy (block.subPositionMasks, payload + kSubPositionsOffset, sizeof (block.subPositionMasks));
    for (int step = 0; step < kStepCount; ++step)
    {
        for (int slot = 0; slot < kSlotCount; ++slot)
        {
            const uint8_t* p = payload + kNotesOffset + 4 * (kSlotCount * step + slot);
            block.notes[step][slot] = {p[0], p[1], readU16 (p + 2)};
        }
    }
    std::memcpy (block.ccValues, payload + kCcValuesOffset, sizeof (block.ccValues));
    std::memcpy (block.stepMotion, payload + kMotionOffset, sizeof (block.stepMotion));

    PatternSettings& settings = record.settings;
    std::memset (&settings, 0, sizeof (settings));
    const uint8_t* s = payload + kSettingsOffset;
    forEachByteSetting (settings, [s] (int offset, uint8_t& field) { field = s[offset]; });
    forEachWordSetting (settings, [s] (int offset, uint32_t& field) { field = readU32 (s + offset); });
    std::memcpy (settings.nextLinks, s + offsetof (PatternSettings, nextLinks), kStepCount);
    std::memcpy (settings.prevLinks, s + offsetof (PatternSettings, prevLinks), kStepCount);
    return kDecodeOk;
}

void encodePattern (const PatternRecord& record, PatternPayload& payload)
{
    payload.fill (0);
    uint8_t* out = payload.data();

    std::memcpy (out, record.magic, 4);
    const StepBlock& block = record.block;
    out[4] = block.barCount;
    out[5] = block.speed;
    for (int step = 0; step < kStepCount; ++step)
        writeU32 (out + kStepsOffset + 4 * step, stepWordToPayload (block.steps[step]));
    for (int bar = 0; bar < 4; ++bar)
        writeU16 (out + kPresentMasksOffset + 2 * bar, block.stepPresentMasks[bar]);
    std::memcpy (out + kSubPositionsOffset, block.subPositionMasks, sizeof (block.subPositionMasks));
    for (int step = 0; step < kStepCount; ++step)
    {
        for (int slot = 0; slot < kSlotCount; ++slot)
        {
            uint8_t* p = out + kNotesOffset + 4 * (kSlotCount * step + slot);
            const NoteSlot& note = block.notes[step][slot];
            p[0] = note.note;
            p[1] = note.velocity;
            writeU16 (p + 2, note.length);
        }
    }
    std::memcpy (out + kCcValuesOffset, block.ccValues, sizeof (block.ccValues));
    std::memcpy (out + kMotionOffset, block.stepMotion, sizeof (block.stepMotion));

    const PatternSettings& settings = record.settings;
    uint8_t* s = out + kSettingsOffset;
    forEachByteSetting (settings, [s] (int offset, const uint8_t& field) { s[offset] = field; });
    forEachWordSetting (settings, [s] (int offset, const uint32_t& field) { writeU32 (s + offset, field); });
    std::memcpy (s + offsetof (PatternSettings, nextLinks), settings.nextLinks, kStepCount);
    std::memcpy (s + offsetof (PatternSettings, prevLinks), settings.prevLinks, kStepCount);
}

void makeEmptyPattern (PatternRecord& record)
{
    std::memcpy (record.magic, "seq3", 4);
    clearPattern (record.block);

    PatternSettings& s = record.settings;
    std::memset (&s, 0, sizeof (s));
    s.grooveCycle = 16;
    s.grooveAmount = kNeutralAmount;
    s.arpOctaves = 1;
    s.arpGate = 100;
    s.arpRate = 5;
    s.probability = 50;
    s.resyncSteps = 16;
    // A closed ring over the first bar in both directions.
    for (int i = 0; i < kStepsPerBar; ++i)
    {
        s.nextLinks[i] = (uint8_t)((i + 1) % kStepsPerBar);
        s.prevLinks[i] = (uint8_t)((i + kStepsPerBar - 1) % kStepsPerBar);
    }
}

} // namespace korva
