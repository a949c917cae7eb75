#pragma once

// The engine's constant tables, as the device holds them.

#include <array>
#include <cstdint>

namespace korva::engine
{

constexpr int kStepOrderCount = 12;

// Play order of a bar's 16 steps for each stepOrder value: paths over the
// device's 4x4 pad grid (row-wise, column-wise, snakes, spirals, reversed).
inline constexpr uint8_t kStepOrders[kStepOrderCount][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15},
    {0, 1, 2, 3, 7, 6, 5, 4, 8, 9, 10, 11, 15, 14, 13, 12}, {0, 1, 2, 3, 7, 11, 15, 14, 13, 12, 8, 4, 5, 6, 10, 9},
    {0, 4, 8, 12, 13, 14, 15, 11, 7, 3, 2, 1, 5, 9, 10, 6}, {0, 2, 1, 3, 4, 6, 5, 7, 8, 10, 9, 11, 12, 14, 13, 15},
    {3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12}, {3, 7, 11, 15, 2, 6, 10, 14, 1, 5, 9, 13, 0, 4, 8, 12},
    {3, 2, 1, 0, 4, 5, 6, 7, 11, 10, 9, 8, 12, 13, 14, 15}, {3, 2, 1, 0, 4, 8, 12, 13, 14, 15, 11, 7, 6, 5, 9, 10},
    {3, 7, 11, 15, 14, 13, 12, 8, 4, 0, 1, 2, 6, 10, 9, 5}, {3, 1, 2, 0, 7, 5, 6, 4, 11, 9, 10, 8, 15, 13, 14, 12},
};

// The row for a stepOrder value; values outside the table play in order.
constexpr const uint8_t* stepOrderRow (uint32_t stepOrder)
{
    return kStepOrders[stepOrder < kStepOrderCount ? stepOrder : 0];
}

// Scale correction codes by scaleType: two bits per pitch class above the root
// (class i in bits 2i and 2i+1): 0 keep, 1 up a semitone, 2 down two, 3 down one.
constexpr int kScaleTypeCount = 23;
inline constexpr uint32_t kScaleCodes[kScaleTypeCount] = {
    0x000000, 0x3330CC, 0xC3330C, 0xCC3330, 0x330CCC, 0xC330CC, 0xCC330C, 0xCCC330,
    0x731CCC, 0xC7331C, 0xCCCCCC, 0x30C30C, 0xC30C30, 0xCCCC30, 0x731C0C, 0xC7031C,
    0x1C3070, 0x330C70, 0x1C0730, 0x731B0C, 0x1B306C, 0x6C31B0, 0x1C330C,
};
inline constexpr int8_t kScaleShifts[4] = {0, +1, -2, -1};

// Recorded transposition codes 0 to 16 in semitones (8: none).
constexpr int kTransposeCodeCount = 17;
inline constexpr int8_t kTransposeSemitones[kTransposeCodeCount] = {5,  7,  10, 12, 1,   2,   3,  4, 0,
                                                                    -4, -3, -2, -1, -12, -10, -7, -5};

// Track clock multipliers by speed value; other values play at 1.
inline constexpr float kSpeedFactors[5] = {0.25f, 0.5f, 1.0f, 1.5f, 2.0f};
constexpr float speedFactor (uint8_t speed)
{
    return speed < 5 ? kSpeedFactors[speed] : 1.0f;
}

// The grid reload rule: for a grid length (index 0 to 12) and the fraction x of
// the current step, how many new steps (or units) ahead the next grid point
// lies and at which fraction of that step. Columns: x below 1/4, 1/3, 1/2, 2/3,
// 3/4 and from 3/4 up, 1/3 and 2/3 being single-precision values.
struct GridPoint
{
    uint8_t wait;
    float threshold;
};

constexpr float kThird = 0.33333334f;
constexpr float kTwoThirds = 0.6666667f;
constexpr int kGridLengthCount = 13;
inline constexpr GridPoint kGridReload[kGridLengthCount][6] = {
    {{8, 0}, {8, 0}, {8, 0}, {8, 0}, {8, 0}, {8, 0}},                             // 8
    {{4, 0}, {4, 0}, {4, 0}, {4, 0}, {4, 0}, {4, 0}},                             // 4
    {{2, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0}},                             // 2
    {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}},                             // 1
    {{0, 0.5f}, {0, 0.5f}, {0, 0.5f}, {1, 0}, {1, 0}, {1, 0}},                    // 1/2
    {{2, kTwoThirds}, {2, kTwoThirds}, {3, 0}, {3, 0}, {3, kThird}, {3, kThird}}, // 8/3
    {{1, kThird}, {1, kThird}, {1, kTwoThirds}, {1, kTwoThirds}, {2, 0}, {2, 0}}, // 4/3
    {{0, kTwoThirds}, {0, kTwoThirds}, {1, 0}, {1, 0}, {1, kThird}, {1, kThird}}, // 2/3
    {{0, kThird}, {0, kThird}, {0, kTwoThirds}, {0, kTwoThirds}, {1, 0}, {1, 0}}, // 1/3
    {{6, 0}, {6, 0}, {6, 0}, {6, 0}, {6, 0}, {6, 0}},                             // 6
    {{3, 0}, {3, 0}, {3, 0}, {3, 0}, {3, 0}, {3, 0}},                             // 3
    {{1, 0.5f}, {1, 0.5f}, {1, 0.5f}, {2, 0}, {2, 0}, {2, 0}},                    // 3/2
    {{0, 0.75f}, {1, 0}, {1, 0}, {1, 0.25f}, {1, 0.25f}, {1, 0.5f}},              // 3/4
};

constexpr GridPoint gridReload (int lengthIndex, float x)
{
    if (lengthIndex < 0 || lengthIndex >= kGridLengthCount)
        return {8, 0.0f};
    const int column = x < 0.25f ? 0 : x < kThird ? 1 : x < 0.5f ? 2 : x < kTwoThirds ? 3 : x < 0.75f ? 4 : 5;
    return kGridReload[lengthIndex][column];
}

// Arpeggiator rates 0 to 7 (8, 4, 3, 2, 4/3, 1, 2/3 and 1/2 steps) as grid lengths.
constexpr int kArpRateCount = 8;
inline constexpr int kArpRateGridLength[kArpRateCount] = {0, 1, 10, 2, 6, 3, 7, 4};

// Recorded loops by loop index 4 * variant + class, in steps: straight, triplet
// (two thirds) and dotted (one and a half). Loop index i uses grid length i + 1.
constexpr int kLoopIndexCount = 12;
inline constexpr float kLoopLengths[kLoopIndexCount] = {4.0f,        2.0f,        1.0f, 0.5f, 8.0f / 3.0f, 4.0f / 3.0f,
                                                        2.0f / 3.0f, 1.0f / 3.0f, 6.0f, 3.0f, 1.5f,        0.75f};

// cos(2 pi i / 128) in single precision; groove curves interpolate linearly between entries.
inline constexpr float kCosineTable[128] = {
    1.0f,          0.99879545f,   0.99518472f,   0.989176512f,   0.980785251f,    0.970031261f,     0.956940353f,
    0.941544056f,  0.923879504f,  0.903989315f,  0.881921291f,   0.857728601f,    0.831469595f,     0.803207517f,
    0.773010433f,  0.740951121f,  0.707106769f,  0.671558976f,   0.634393275f,    0.59569931f,      0.555570245f,
    0.514102757f,  0.471396744f,  0.427555084f,  0.382683426f,   0.336889863f,    0.290284663f,     0.242980182f,
    0.195090324f,  0.146730468f,  0.0980171412f, 0.0490676761f,  6.12323426e-17f, -0.0490676761f,   -0.0980171412f,
    -0.146730468f, -0.195090324f, -0.242980182f, -0.290284663f,  -0.336889863f,   -0.382683426f,    -0.427555084f,
    -0.471396744f, -0.514102757f, -0.555570245f, -0.59569931f,   -0.634393275f,   -0.671558976f,    -0.707106769f,
    -0.740951121f, -0.773010433f, -0.803207517f, -0.831469595f,  -0.857728601f,   -0.881921291f,    -0.903989315f,
    -0.923879504f, -0.941544056f, -0.956940353f, -0.970031261f,  -0.980785251f,   -0.989176512f,    -0.99518472f,
    -0.99879545f,  -1.0f,         -0.99879545f,  -0.99518472f,   -0.989176512f,   -0.980785251f,    -0.970031261f,
    -0.956940353f, -0.941544056f, -0.923879504f, -0.903989315f,  -0.881921291f,   -0.857728601f,    -0.831469595f,
    -0.803207517f, -0.773010433f, -0.740951121f, -0.707106769f,  -0.671558976f,   -0.634393275f,    -0.59569931f,
    -0.555570245f, -0.514102757f, -0.471396744f, -0.427555084f,  -0.382683426f,   -0.336889863f,    -0.290284663f,
    -0.242980182f, -0.195090324f, -0.146730468f, -0.0980171412f, -0.0490676761f,  -1.83697015e-16f, 0.0490676761f,
    0.0980171412f, 0.146730468f,  0.195090324f,  0.242980182f,   0.290284663f,    0.336889863f,     0.382683426f,
    0.427555084f,  0.471396744f,  0.514102757f,  0.555570245f,   0.59569931f,     0.634393275f,     0.671558976f,
    0.707106769f,  0.740951121f,  0.773010433f,  0.803207517f,   0.831469595f,    0.857728601f,     0.881921291f,
    0.903989315f,  0.923879504f,  0.941544056f,  0.956940353f,   0.970031261f,    0.980785251f,     0.989176512f,
    0.99518472f,   0.99879545f,
};

} // namespace korva::engine
