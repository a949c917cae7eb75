// Track timing: step orders, the step chain, swing, groove, nudges, speed,
// step ratios, resync, recorded time effects and transposition reads.

#include "core/engine/Tables.h"
#include "tests/core/engine/EngineTestSupport.h"

#include <algorithm>
#include <numeric>

namespace korva
{

using namespace korva;
using namespace korva::engine;
using namespace korva::test;

namespace
{

// The pattern steps played, one per rendered step, for a numbered pattern.
std::vector<int> playedSteps (const PatternRecord& pattern, int bars)
{
    std::vector<int> steps = noteSequence (*render (pattern, bars), bars * kStepsPerBar);
    for (int& s : steps)
        s -= 40;
    return steps;
}

std::vector<int> range (int from, int to) // inclusive, either direction
{
    std::vector<int> values;
    for (int v = from;; v += from <= to ? 1 : -1)
    {
        values.push_back (v);
        if (v == to)
            break;
    }
    return values;
}

std::vector<int> concat (std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> all;
    for (const auto& part : parts)
        all.insert (all.end(), part.begin(), part.end());
    return all;
}

} // namespace

TEST (EngineTables, StepOrderRowsArePermutationsAndTheTrackInvertsThem)
{
    for (int row = 0; row < kStepOrderCount; ++row)
    {
        SCOPED_TRACE (row);
        std::vector<int> values (kStepOrders[row], kStepOrders[row] + 16);
        std::sort (values.begin(), values.end());
        std::vector<int> expected (16);
        std::iota (expected.begin(), expected.end(), 0);
        EXPECT_EQ (values, expected);

        PatternRecord pattern = numberedPattern();
        pattern.settings.stepOrder = (uint32_t)row;
        engineInit();
        *engineState().trackPatterns[0] = pattern;
        takePattern (engineState(), 0);
        engineTick(); // the track loads the pattern on its service
        const TrackState& t = engineState().tracks[0];
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ (t.inverseOrder[t.order[x]], x);
        engineRelease();
    }
}

TEST (EngineTiming, StepOrderSetsThePlayOrderOfEachBar)
{
    for (uint32_t stepOrder : {1u, 6u, 11u, 12u, 0xFFFFFFFFu})
    {
        SCOPED_TRACE (stepOrder);
        PatternRecord pattern = numberedPattern (2);
        pattern.settings.stepOrder = stepOrder;
        const uint8_t* order = stepOrderRow (stepOrder);
        std::vector<int> expected;
        for (int bar = 0; bar < 2; ++bar)
        {
            for (int x = 0; x < 16; ++x)
                expected.push_back (16 * bar + order[x]);
        }
        EXPECT_EQ (playedSteps (pattern, 2), expected);
    }
}

TEST (EngineTiming, ChainDirectionAndEnds)
{
    struct Case
    {
        const char* name;
        int bars;
        uint32_t stepOrder;
        uint8_t linkReverse;
        uint8_t linkEndFlag;
        int renderBars;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"reverse from the last bar", 2, 0, 1, 0, 2, range (31, 0)},
        {"reverse along the order", 1, 1, 1, 0, 1, {15, 11, 7, 3, 14, 10, 6, 2, 13, 9, 5, 1, 12, 8, 4, 0}},
        // Back and forth: each end step plays once per turn, so twice in a row at a turn.
        {"back and forth", 1, 0, 0, 1, 3, concat ({range (0, 15), range (15, 0), range (0, 15)})},
        {"back and forth from the end", 2, 0, 1, 1, 4, concat ({range (31, 0), range (0, 31)})},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.name);
        PatternRecord pattern = numberedPattern (c.bars);
        pattern.settings.stepOrder = c.stepOrder;
        pattern.settings.linkReverse = c.linkReverse;
        pattern.settings.linkEndFlag = c.linkEndFlag;
        EXPECT_EQ (playedSteps (pattern, c.renderBars), c.expected);
    }
}

TEST (EngineTiming, ChainSkipsDisabledStepsAndAbsentBars)
{
    PatternRecord pattern = numberedPattern (4);
    pattern.block.steps[3] &= ~stepword::kEnabled;
    pattern.block.stepPresentMasks[1] = 0; // bar 1 is passed over, though most of its steps are enabled
    pattern.block.steps[16] &= ~stepword::kEnabled;
    EXPECT_EQ (playedSteps (pattern, 3), concat ({{0, 1, 2}, range (4, 15), range (32, 63), {0}}));
}

TEST (EngineTiming, SwingDelaysTheOddStepOfEachPair)
{
    // With swing s the odd step starts at phase 0.236 (s = 50) or 0.414 (s = 100) of its master step.
    for (const auto& [swing, subPosition] : std::vector<std::pair<int, int>>{{0, 0}, {50, 1}, {100, 2}})
    {
        SCOPED_TRACE (swing);
        PatternRecord pattern = numberedPattern();
        pattern.settings.swing = (uint8_t)swing;
        EXPECT_EQ (noteStarts (*render (pattern, 1), 3),
                   (std::vector<NoteStart>{{0, 0, 40}, {1, subPosition, 41}, {2, 0, 42}}));
    }
}

TEST (EngineTiming, SpeedStretchesOrShrinksTheSteps)
{
    struct Case
    {
        uint8_t speed;
        std::vector<NoteStart> expected; // of pattern steps 0 to 3
    };
    const Case cases[] = {
        {0, {{0, 0, 40}, {4, 0, 41}, {8, 0, 42}, {12, 0, 43}}}, {1, {{0, 0, 40}, {2, 0, 41}, {4, 0, 42}, {6, 0, 43}}},
        {3, {{0, 0, 40}, {0, 4, 41}, {1, 2, 42}, {2, 0, 43}}},  {4, {{0, 0, 40}, {0, 3, 41}, {1, 0, 42}, {1, 3, 43}}},
        {9, {{0, 0, 40}, {1, 0, 41}, {2, 0, 42}, {3, 0, 43}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE ((int)c.speed);
        PatternRecord pattern = numberedPattern();
        pattern.block.speed = c.speed;
        const auto starts = noteStarts (*render (pattern, 4));
        ASSERT_GE (starts.size(), 4u);
        EXPECT_EQ (std::vector<NoteStart> (starts.begin(), starts.begin() + 4), c.expected);
    }

    // At a quarter speed a 4-bar render plays a 1-bar pattern once.
    PatternRecord pattern = numberedPattern();
    pattern.block.speed = 0;
    EXPECT_EQ (playedSteps (pattern, 4).size(), 16u);
}

TEST (EngineTiming, StepRatiosRepeatAndStretchSteps)
{
    struct Case
    {
        const char* name;
        int ratioNum;
        int ratioDen;
        std::vector<RenderedNote> expected;
    };
    const Case cases[] = {
        // Struck twice, half a step apart, each with half its gate.
        {"1/0", 1, 0, {{0, 0, 40, 100, 3}, {0, 3, 40, 100, 3}, {1, 0, 41, 100, 7}}},
        // Lasts two steps: its sixths are a third of a step and its gates twice as long, as long as it
        // plays; gates count units of the step playing, so note 50 runs out at the pace of step 1.
        {"0/1", 0, 1, {{0, 0, 40, 100, 15}, {1, 0, 50, 100, 11}, {2, 0, 41, 100, 7}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.name);
        PatternRecord pattern = emptyPattern();
        addNote (pattern, 0, 0, 40, 7);
        if (c.ratioDen > 0)
            addNote (pattern, 0, 3, 50, 7);
        addNote (pattern, 1, 0, 41, 7);
        pattern.block.steps[0] = stepword::withRatio (pattern.block.steps[0], c.ratioNum, c.ratioDen);
        EXPECT_EQ (renderedNotes (*render (pattern, 1), 3), c.expected);
    }
}

TEST (EngineTiming, GrooveCurveFourCompressesTheCycleStart)
{
    // Curve 4 at amount 127 over 16 steps: u' = (2 - u/16) u, so pattern step s plays at
    // master time 16 - sqrt (256 - 16 s).
    PatternRecord pattern = numberedPattern();
    pattern.settings.grooveCurve = 4;
    pattern.settings.grooveAmount = 127;
    pattern.settings.grooveCycle = 16;
    const auto starts = noteStarts (*render (pattern, 1));
    auto startOf = [&starts] (int step)
    {
        for (const NoteStart& s : starts)
        {
            if (s.note == 40 + step)
                return s;
        }
        return NoteStart{-1, -1, -1};
    };
    const std::vector<NoteStart> expected = {{0, 0, 40}, {0, 3, 41},  {1, 0, 42}, {4, 4, 48},
                                             {8, 0, 52}, {10, 2, 54}, {12, 0, 55}};
    for (const NoteStart& e : expected)
        EXPECT_EQ (startOf (e.note - 40), e);
    EXPECT_EQ (starts.size(), 16u);
}

TEST (EngineTiming, GrooveSettingsBeyondTheirRangeMeanNoGroove)
{
    struct Case
    {
        uint8_t cycle;
        uint8_t amount;
    };
    for (const Case& c : {Case{0, 127}, Case{16, 128}, Case{16, 255}})
    {
        SCOPED_TRACE (c.cycle * 1000 + c.amount);
        PatternRecord pattern = numberedPattern();
        pattern.settings.grooveCurve = 4;
        pattern.settings.grooveCycle = c.cycle;
        pattern.settings.grooveAmount = c.amount;
        EXPECT_EQ (playedSteps (pattern, 1), range (0, 15));
        EXPECT_EQ (noteStarts (*render (pattern, 1), 1), (std::vector<NoteStart>{{0, 0, 40}}));
    }
}

TEST (EngineTiming, ResyncRestartsTheTrackWithoutStandingStill)
{
    PatternRecord pattern = numberedPattern();
    pattern.settings.resyncEnabled = 1;
    pattern.settings.resyncSteps = 4;
    std::vector<NoteStart> expected;
    for (int step = 0; step < 16; ++step)
        expected.push_back ({step, 0, 40 + step % 4});
    EXPECT_EQ (noteStarts (*render (pattern, 1)), expected);
}

TEST (EngineTiming, RecordedNudgeMovesTheTrackWhenItChanges)
{
    // 72 is 8/63 of a step. Read on entering step 1, it moves every later step that much earlier;
    // a nudge in force from the start only moves the origin, which the start takes back.
    struct Case
    {
        int firstNudgedStep;
        std::vector<NoteStart> expected;
    };
    for (const Case& c :
         {Case{1, {{0, 0, 40}, {1, 0, 41}, {1, 5, 42}, {2, 5, 43}}}, Case{0, {{0, 0, 40}, {1, 0, 41}, {2, 0, 42}}}})
    {
        SCOPED_TRACE (c.firstNudgedStep);
        PatternRecord pattern = numberedPattern();
        for (int step = c.firstNudgedStep; step < kStepCount; ++step)
            std::fill (std::begin (pattern.block.stepMotion[step].nudge),
                       std::end (pattern.block.stepMotion[step].nudge), 72);
        EXPECT_EQ (noteStarts (*render (pattern, 1), 3), c.expected);
    }
}

TEST (EngineTiming, RecordedTimeEffects)
{
    struct Case
    {
        const char* name;
        uint8_t code; // at step 4
        std::vector<NoteStart> expected;
    };
    const Case cases[] = {
        // Double speed from step 4: its second half, then step 5 early; at step 5 the track is back in place.
        {"double speed", 8, {{4, 0, 44}, {4, 1, 50}, {4, 3, 45}, {5, 0, 45}}},
        // A hold from sub-position 2: step 4 stands still there, so its sub-position 3 never plays.
        {"hold", 4, {{4, 0, 44}, {5, 0, 45}}},
        {"entry being recorded", 9, {{4, 0, 44}, {4, 3, 50}, {5, 0, 45}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.name);
        PatternRecord pattern = emptyPattern();
        for (int step = 0; step < 8; ++step)
            addNote (pattern, step, 0, 40 + step, 1);
        addNote (pattern, 4, 3, 50, 1);
        pattern.block.stepMotion[4].repeatCode = c.code;
        const auto starts = noteStarts (*render (pattern, 1));
        std::vector<NoteStart> fromStep4;
        for (const NoteStart& s : starts)
        {
            if (s.step >= 4 && s.step < 6)
                fromStep4.push_back (s);
        }
        EXPECT_EQ (fromStep4, c.expected);
    }
}

TEST (EngineTiming, TranspositionIsReadAtTheMotionGridSlot)
{
    struct Case
    {
        uint8_t code;
        std::vector<int> expected; // notes of steps 0, 1 (code 17: unchanged) and 2 (code 8: none)
    };
    for (const Case& c : {Case{0, {65, 65, 60}}, Case{3, {72, 72, 60}}, Case{13, {48, 48, 60}}, Case{16, {55, 55, 60}}})
    {
        SCOPED_TRACE ((int)c.code);
        PatternRecord pattern = emptyPattern();
        for (int step = 0; step < 3; ++step)
            addNote (pattern, step, 0, 60, 3);
        pattern.block.stepMotion[0].transposeCode = c.code;
        pattern.block.stepMotion[1].transposeCode = 17;
        EXPECT_EQ (noteSequence (*render (pattern, 1)), c.expected);
    }

    // Step order 6 plays step 3 first, at grid slot 0: slot 0's record applies to it.
    PatternRecord pattern = emptyPattern();
    for (int step = 0; step < 4; ++step)
        addNote (pattern, step, 0, 60, 3);
    pattern.settings.stepOrder = 6;
    pattern.block.stepMotion[0].transposeCode = 3;
    EXPECT_EQ (noteSequence (*render (pattern, 1)), (std::vector<int>{72, 60, 60, 60}));
}

TEST (EngineTiming, ChangingLinkReverseWhilePlayingMirrorsThePosition)
{
    engineInit();
    EngineState& e = engineState();
    e.outputStartTrack = 0;
    *e.trackPatterns[0] = numberedPattern();
    takePattern (e, 0);
    for (int i = 0; i < 10; ++i)
        engineTick();
    startTransport();
    while (!(e.clock.step == 5 && e.clock.phase > 0.5f))
        engineTick();
    // At the end of step 5 the track turns round in place: grid position 5 becomes 10, then it walks back.
    e.trackPatterns[0]->settings.linkReverse = 1;
    while (!(e.clock.step == 11 && e.clock.phase > 0.5f))
        engineTick();

    auto rendered = std::make_unique<RenderedSteps>();
    std::copy (e.recorder.blocks, e.recorder.blocks + kRenderedBlockCount, rendered->blocks);
    engineRelease();
    EXPECT_EQ (noteSequence (*rendered, 11), (std::vector<int>{40, 41, 42, 43, 44, 45, 49, 48, 47, 46, 45}));
}

} // namespace korva
