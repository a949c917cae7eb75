#include "core/patterns/PatternRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace korva
{

using namespace korva;

namespace
{

PatternPayload validPayload()
{
    PatternPayload payload{};
    std::memcpy (payload.data(), "seq3", 4);
    return payload;
}

void putBytes (PatternPayload& payload, std::size_t offset, std::initializer_list<int> bytes)
{
    for (int b : bytes)
        payload[offset++] = (uint8_t)b;
}

} // namespace

TEST (PatternRecord, FormatDigitDecidesWhetherTheRestIsRead)
{
    struct Case
    {
        uint8_t digit;
        DecodeResult expected;
    };
    for (const Case& c : {Case{0x32, kDecodeDeviceDataOld}, Case{0x33, kDecodeOk}, Case{0x34, kDecodeAppDataOld}})
    {
        SCOPED_TRACE (c.digit);
        PatternPayload payload{};
        putBytes (payload, 0, {'x', 'y', 'z', c.digit, 3}); // bytes 0 to 2 are not compared
        PatternRecord record;
        std::memset (&record, 0xA5, sizeof (record));

        EXPECT_EQ (decodePattern (payload.data(), payload.size(), record), c.expected);
        EXPECT_EQ (std::memcmp (record.magic, payload.data(), 4), 0);
        EXPECT_EQ (record.block.barCount, c.expected == kDecodeOk ? 3 : 0xA5);
    }
}

TEST (PatternRecord, PayloadShorterThanTheRecordIsNotRead)
{
    const PatternPayload payload = validPayload();
    PatternRecord record;
    std::memset (&record, 0xA5, sizeof (record));
    EXPECT_EQ (decodePattern (payload.data(), kPatternRecordSize - 1, record), kDecodeTooShort);
    EXPECT_EQ (decodePattern (nullptr, 0, record), kDecodeTooShort);
    EXPECT_EQ ((uint8_t)record.magic[0], 0xA5);
}

TEST (PatternRecord, StepWordFieldsMoveBetweenTheTwoBitOrders)
{
    struct Case
    {
        const char* field;
        uint32_t payloadWord;
        uint32_t recordWord;
    };
    const Case cases[] = {
        {"enabled", 0x80000000, 0x00000001},
        {"tie", 0x40000000, 0x00000002},
        {"ratioDen", 0x30000000, 0x0000000C},
        {"ratioNum 1", 0x04000000, 0x00000010},
        {"tag 7", 0x03800000, 0x000001C0},
        {"tag 1", 0x00800000, 0x00000040},
        {"glide", 0x00400000, 0x00000200},
        {"noteMask", 0x003FC000, 0x0003FC00},
        {"noteMask slot 0", 0x00004000, 0x00000400},
        {"ccMask", 0x00003E00, 0x007C0000},
        {"reserved bits only", 0x000001FF, 0x00000000},
        {"everything", 0xFFFFFFFF, 0x007FFFFF},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.field);
        PatternPayload payload = validPayload();
        const uint32_t w = c.payloadWord;
        putBytes (payload, 8 + 4 * 5, {(int)(w >> 24), (int)(w >> 16) & 0xFF, (int)(w >> 8) & 0xFF, (int)w & 0xFF});

        PatternRecord record;
        ASSERT_EQ (decodePattern (payload.data(), payload.size(), record), kDecodeOk);
        EXPECT_EQ (record.block.steps[5], c.recordWord);
        EXPECT_EQ (record.block.steps[4], 0u);

        PatternPayload encoded;
        encodePattern (record, encoded);
        const uint32_t back =
            ((uint32_t)encoded[28] << 24) | ((uint32_t)encoded[29] << 16) | ((uint32_t)encoded[30] << 8) | encoded[31];
        EXPECT_EQ (back, w & 0xFFFFFE00u);
    }
}

TEST (PatternRecord, MultiByteFieldsAreBigEndianInThePayload)
{
    PatternPayload payload = validPayload();
    putBytes (payload, 264 + 2, {0x12, 0x34});                       // stepPresentMasks[1]
    putBytes (payload, 656 + 4 * (8 * 3 + 2), {60, 99, 0x01, 0xFF}); // notes[3][2]
    putBytes (payload, 3608, {0x01, 0x02, 0x03, 0x04});              // arpRate
    putBytes (payload, 3612, {0, 0, 0, 3});                          // arpMode
    putBytes (payload, 3624, {0, 0, 0, 11});                         // stepOrder
    putBytes (payload, 3632, {0xCA, 0xFE, 0xBA, 0xBE});              // patternOption
    putBytes (payload, 3600, {4, 12, 127, 50, 1, 2, 75});
    putBytes (payload, 3616, {8, 5, 30, 1, 1, 7});
    putBytes (payload, 3628, {1, 1});
    payload[3636 + 63] = 17;
    payload[3700] = 42;

    PatternRecord record;
    ASSERT_EQ (decodePattern (payload.data(), payload.size(), record), kDecodeOk);
    EXPECT_EQ (record.block.stepPresentMasks[1], 0x1234);
    EXPECT_EQ (record.block.notes[3][2].note, 60);
    EXPECT_EQ (record.block.notes[3][2].velocity, 99);
    EXPECT_EQ (record.block.notes[3][2].length, 511);
    const PatternSettings& s = record.settings;
    EXPECT_EQ (s.arpRate, 0x01020304u);
    EXPECT_EQ (s.arpMode, 3u);
    EXPECT_EQ (s.stepOrder, 11u);
    EXPECT_EQ (s.patternOption, 0xCAFEBABEu);
    EXPECT_EQ (std::vector<int> (
                   {s.grooveCurve, s.grooveCycle, s.grooveAmount, s.swing, s.arpEnabled, s.arpOctaves, s.arpGate}),
               std::vector<int> ({4, 12, 127, 50, 1, 2, 75}));
    EXPECT_EQ (std::vector<int> ({s.scaleType, s.scaleRoot, s.probability, s.probabilityEnabled, s.resyncEnabled,
                                  s.resyncSteps, s.linkReverse, s.linkEndFlag}),
               std::vector<int> ({8, 5, 30, 1, 1, 7, 1, 1}));
    EXPECT_EQ (s.nextLinks[63], 17);
    EXPECT_EQ (s.prevLinks[0], 42);
}

TEST (PatternRecord, RoundTripZeroesExactlyTheSkippedBytes)
{
    std::mt19937 generator (7);
    PatternPayload payload;
    for (auto& b : payload)
        b = (uint8_t)generator();
    std::memcpy (payload.data(), "seq3", 4);

    PatternRecord record;
    ASSERT_EQ (decodePattern (payload.data(), payload.size(), record), kDecodeOk);
    PatternPayload encoded;
    encodePattern (record, encoded);

    auto skipped = [] (std::size_t i)
    {
        const bool stepWordLowBits = i >= 8 && i < 264 && ((i - 8) % 4 == 3); // bits 0 to 7
        const bool stepWordBit8 = i >= 8 && i < 264 && ((i - 8) % 4 == 2);
        return i == 6 || i == 7 || i == 3607 || i == 3622 || i == 3623 || i == 3630 || i == 3631 || i >= 3764 ||
               stepWordLowBits || stepWordBit8;
    };
    for (std::size_t i = 0; i < kPatternPayloadSize; ++i)
    {
        SCOPED_TRACE (i);
        if (!skipped (i))
            ASSERT_EQ (encoded[i], payload[i]);
        else if (i >= 8 && i < 264 && (i - 8) % 4 == 2)
            ASSERT_EQ (encoded[i], payload[i] & 0xFE); // only bit 8 of the word is reserved in this byte
        else
            ASSERT_EQ (encoded[i], 0);
    }
}

TEST (PatternRecord, EmptyPatternEncodesToTheDeviceDefaults)
{
    PatternRecord record;
    makeEmptyPattern (record);
    PatternPayload payload;
    encodePattern (record, payload);

    auto bytesAt = [&payload] (std::size_t offset, std::size_t count)
    { return std::vector<int> (payload.begin() + (long)offset, payload.begin() + (long)(offset + count)); };
    EXPECT_EQ (bytesAt (0, 8), std::vector<int> ({'s', 'e', 'q', '3', 1, 2, 0, 0}));
    EXPECT_EQ (bytesAt (8 + 4 * 63, 4), std::vector<int> ({0x80, 0, 0, 0}));
    EXPECT_EQ (bytesAt (264, 8), std::vector<int> (8, 0xFF));
    EXPECT_EQ (bytesAt (272 + 6 * 10, 6), std::vector<int> ({1, 0, 0, 0, 0, 0}));
    EXPECT_EQ (bytesAt (656 + 4 * 100, 4), std::vector<int> ({60, 100, 0, 7}));
    EXPECT_EQ (bytesAt (2704, 5), std::vector<int> (5, 0));
    EXPECT_EQ (bytesAt (3024 + 9 * 63, 9), std::vector<int> ({8, 0, 0, 64, 64, 64, 64, 64, 64}));
    EXPECT_EQ (bytesAt (3600, 36), std::vector<int> ({0,  16, 64, 0,  0, 1, 100, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0,
                                                      50, 0,  0,  16, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ (bytesAt (3636, 17), std::vector<int> ({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 0}));
    EXPECT_EQ (bytesAt (3700, 17), std::vector<int> ({15, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0}));
    EXPECT_EQ (bytesAt (3764, kPatternPayloadSize - 3764), std::vector<int> (kPatternPayloadSize - 3764, 0));
}

TEST (PatternRecord, AmountTableSpansMinusOneToOne)
{
    struct Case
    {
        int index;
        float value;
    };
    for (const Case& c : {Case{0, -1.0f}, Case{32, -0.5f}, Case{63, -1.0f / 64.0f}, Case{64, 0.0f},
                          Case{65, 1.0f / 63.0f}, Case{127, 1.0f}})
    {
        SCOPED_TRACE (c.index);
        EXPECT_EQ (kAmountTable[(std::size_t)c.index], c.value);
    }
}

TEST (StepBlock, AddingNotesSharesASlotOnlyForTheSameNoteAtTheSameSubPosition)
{
    StepBlock block;
    clearPattern (block);
    struct Add
    {
        int subPosition;
        int note;
        int velocity;
        int expectedSlot;
    };
    const Add adds[] = {
        {2, 60, 90, 0}, // an empty step starts afresh, whatever its default layout
        {2, 60, 70, 0}, // same note, same sub-position: same slot, later velocity
        {3, 60, 80, 1}, // same note elsewhere: a slot of its own
        {2, 62, 80, 2},  {0, 63, 80, 3}, {0, 64, 80, 4},  {5, 65, 80, 5},
        {5, 66, 80, 6},  {1, 67, 80, 7}, {1, 68, 80, -1}, // eight different notes: full
        {2, 60, 50, -1},                                  // a full step refuses even a note it holds
    };
    for (const Add& a : adds)
    {
        SCOPED_TRACE (a.note);
        EXPECT_EQ (addNoteToStep (block, 9, a.subPosition, (uint8_t)a.note, (uint8_t)a.velocity), a.expectedSlot);
    }
    EXPECT_EQ (stepNoteMask (block, 9), 0xFF);
    EXPECT_EQ (stepSubPositionMask (block, 9, 2), 0b101);
    EXPECT_EQ (stepNote (block, 9, 0).velocity, 70);
    EXPECT_EQ (stepNote (block, 9, 0).length, 0);
    EXPECT_TRUE (slotStartsAt (block, 9, 1, 3));
    EXPECT_EQ (stepNoteMask (block, 8), 0); // neighbours untouched
    EXPECT_EQ (addNoteToStep (block, 64, 0, 60, 100), -1);
    EXPECT_EQ (addNoteToStep (block, 0, 6, 60, 100), -1);
    EXPECT_EQ (stepNoteMask (block, -1), 0);
}

} // namespace korva
