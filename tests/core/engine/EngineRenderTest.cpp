// Renders of straight patterns: the driver, the recorder, the clock and step play.

#include "tests/core/engine/EngineTestSupport.h"

#include <cstring>

namespace korva
{

using namespace korva;
using namespace korva::engine;
using namespace korva::test;

TEST (EngineRender, OneBarRenderCapturesOnlyTheFirstBar)
{
    PatternRecord pattern = emptyPattern();
    addNote (pattern, 0, 0, 60, 7);
    addNote (pattern, 15, 0, 62, 3, 90);
    addNote (pattern, 7, 3, 64, 0, 80);

    const auto rendered = render (pattern, 1);
    EXPECT_EQ (renderedNotes (*rendered),
               (std::vector<RenderedNote>{{0, 0, 60, 100, 7}, {7, 3, 64, 80, 0}, {15, 0, 62, 90, 3}}));
}

TEST (EngineRender, ThirtyTwoBarsFillTheBlocksInOrder)
{
    PatternRecord pattern = emptyPattern();
    pattern.block.barCount = 4;
    for (int bar = 0; bar < 4; ++bar)
        addNote (pattern, 16 * bar, 0, 40 + bar, 7);
    addNote (pattern, 63, 0, 70, 7);

    const auto rendered = render (pattern, 32);
    std::vector<RenderedNote> expected;
    for (int bar = 0; bar < 32; ++bar)
    {
        expected.push_back ({16 * bar, 0, 40 + bar % 4, 100, 7});
        if (bar % 4 == 3)
            expected.push_back ({16 * bar + 15, 0, 70, 100, 7});
    }
    EXPECT_EQ (renderedNotes (*rendered), expected);
    // Bar 31, step 15 is step 63 of the last block.
    EXPECT_TRUE (slotStartsAt (rendered->blocks[7], 63, 0, 0));
}

TEST (EngineRender, NoteStillSoundingAtTheCaptureEndsWithTheLastBar)
{
    struct Case
    {
        int step;
        int subPosition;
        int length;
        int bars;
        std::vector<RenderedNote> expected;
    };
    const Case cases[] = {
        {15, 0, 63, 1, {{15, 0, 60, 100, 7}}},
        {8, 0, 511, 1, {{8, 0, 60, 100, 63}}},
        {0, 3, 511, 1, {{0, 3, 60, 100, 123}}}, // from eighth 4: 15.5 steps
        // The second bar strikes it again: the first instance ends there.
        {15, 0, 511, 2, {{15, 0, 60, 100, 127}, {31, 0, 60, 100, 7}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.step * 1000 + c.length);
        PatternRecord pattern = emptyPattern();
        addNote (pattern, c.step, c.subPosition, 60, c.length);
        EXPECT_EQ (renderedNotes (*render (pattern, c.bars)), c.expected);
    }
}

TEST (EngineRender, NoteStruckAgainWhileSoundingIsReleasedFirst)
{
    PatternRecord pattern = emptyPattern();
    addNote (pattern, 0, 0, 60, 15);
    addNote (pattern, 0, 0, 62, 15);
    addNote (pattern, 1, 0, 60, 7);

    EXPECT_EQ (renderedNotes (*render (pattern, 1)),
               (std::vector<RenderedNote>{{0, 0, 60, 100, 7}, {0, 0, 62, 100, 15}, {1, 0, 60, 100, 7}}));
}

TEST (EngineRender, EmptyPatternRendersEightClearedBlocks)
{
    StepBlock cleared;
    clearPattern (cleared);
    const auto rendered = render (emptyPattern(), 32);
    for (int b = 0; b < kRenderedBlockCount; ++b)
        EXPECT_EQ (std::memcmp (&rendered->blocks[b], &cleared, sizeof (cleared)), 0) << "block " << b;
}

TEST (EngineRender, EightNotesStartTogetherAndANinthIsRefused)
{
    struct Case
    {
        int ninth;
        std::vector<int> expectedLengths; // of notes 60 to 67 at step 0
        bool ninthRecorded;
    };
    const Case cases[] = {
        {70, {15, 15, 15, 15, 15, 15, 15, 15}, false},
        {63, {15, 15, 15, 7, 15, 15, 15, 15}, true}, // one of the eight: struck again
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.ninth);
        PatternRecord pattern = emptyPattern();
        for (int note = 60; note < 68; ++note)
            addNote (pattern, 0, 0, note, 15);
        addNote (pattern, 1, 0, c.ninth, 7);

        std::vector<RenderedNote> expected;
        for (int i = 0; i < 8; ++i)
            expected.push_back ({0, 0, 60 + i, 100, c.expectedLengths[(std::size_t)i]});
        if (c.ninthRecorded)
            expected.push_back ({1, 0, c.ninth, 100, 7});
        EXPECT_EQ (renderedNotes (*render (pattern, 1)), expected);
    }
}

TEST (EngineRender, TieStepsHoldANoteStepByStep)
{
    struct Case
    {
        int length;
        std::vector<int> tieSteps;
        int expectedLength;
    };
    const Case cases[] = {
        {7, {1}, 15}, {7, {1, 2}, 23}, {7, {2}, 7}, // runs into step 1, which does not hold it
        {3, {1}, 11},                               // ends inside step 0: the following step's tie counts
        {3, {2}, 3},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.expectedLength);
        PatternRecord pattern = emptyPattern();
        addNote (pattern, 0, 0, 60, c.length);
        for (int step : c.tieSteps)
            pattern.block.steps[step] |= stepword::kTie;
        EXPECT_EQ (renderedNotes (*render (pattern, 1)),
                   (std::vector<RenderedNote>{{0, 0, 60, 100, c.expectedLength}}));
    }
}

TEST (EngineRender, RandomGeneratorIsTheCRuntimesStartingAtOnePerThread)
{
    std::vector<int> values;
    onFreshThread (
        [&values]
        {
            for (int i = 0; i < 5; ++i)
                values.push_back (nextRandom());
        });
    EXPECT_EQ (values, (std::vector<int>{41, 18467, 6334, 26500, 19169}));
}

TEST (EngineRender, ProbabilityDrawsOneValuePerNote)
{
    // Notes on steps 0 to 4 draw 41, 18467, 6334, 26500, 19169: percentages 0, 56, 19, 80, 58.
    // Each case runs on a fresh thread, so its generator starts at 1 whatever ran before.
    struct Case
    {
        int enabled;
        int probability;
        std::vector<int> played;
    };
    const Case cases[] = {
        {1, 0, {0}}, {1, 100, {0, 1, 2, 3, 4}}, {1, 56, {0, 1, 2}}, {1, 58, {0, 1, 2, 4}}, {0, 0, {0, 1, 2, 3, 4}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.probability);
        PatternRecord pattern = emptyPattern();
        pattern.settings.probabilityEnabled = (uint8_t)c.enabled;
        pattern.settings.probability = (uint8_t)c.probability;
        for (int step = 0; step < 5; ++step)
            addNote (pattern, step, 0, 60, 3);
        std::vector<int> played;
        onFreshThread ([&] { played = stepsOfNote (*render (pattern, 1), 60); });
        EXPECT_EQ (played, c.played);
    }
}

TEST (EngineRender, GeneratorCarriesOverFromOneRenderToTheNext)
{
    // The second render draws the 6th to 10th values: 47, 35, 89, 82, 74 percent.
    PatternRecord pattern = emptyPattern();
    pattern.settings.probabilityEnabled = 1;
    pattern.settings.probability = 56;
    for (int step = 0; step < 5; ++step)
        addNote (pattern, step, 0, 60, 3);
    std::vector<int> first, second;
    onFreshThread (
        [&]
        {
            first = stepsOfNote (*render (pattern, 1), 60);
            second = stepsOfNote (*render (pattern, 1), 60);
        });
    EXPECT_EQ (first, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ (second, (std::vector<int>{0, 1}));
}

TEST (EngineRender, ControllerValuesAreSentOncePerStep)
{
    // Step 0 plays notes at two sub-positions; step 1 has values but no notes.
    PatternRecord pattern = emptyPattern();
    addNote (pattern, 0, 0, 60, 7);
    addNote (pattern, 0, 2, 62, 3);
    setStepCcValue (pattern.block, 0, 0, 10);
    setStepCcValue (pattern.block, 0, 3, 20);
    setStepCcValue (pattern.block, 1, 1, 127);
    setStepCcValue (pattern.block, 2, 4, 5);

    struct Case
    {
        uint8_t speed;
        std::vector<std::tuple<int, int, int>> expected; // rendered step, lane, value
    };
    const Case cases[] = {
        {2, {{0, 0, 10}, {0, 3, 20}, {1, 1, 127}, {2, 4, 5}}},
        // At half speed a step lasts two rendered steps: its values are not sent again in the second.
        {1, {{0, 0, 10}, {0, 3, 20}, {2, 1, 127}, {4, 4, 5}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE ((int)c.speed);
        pattern.block.speed = c.speed;
        EXPECT_EQ (renderedCcs (*render (pattern, 1)), c.expected);
    }
}

TEST (EngineRender, PatternBarCountIsBoundedToFourBars)
{
    struct Case
    {
        int barCount;
        std::vector<int> played;
    };
    const Case cases[] = {
        {0, {}},
        {1, {0, 16, 32, 48, 64, 80, 96, 112}},
        {9, {0, 63, 64, 127}}, // counts as 4
        {255, {0, 63, 64, 127}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.barCount);
        PatternRecord pattern = emptyPattern();
        pattern.block.barCount = (uint8_t)c.barCount;
        addNote (pattern, 0, 0, 60, 3);
        addNote (pattern, 63, 0, 60, 3);
        EXPECT_EQ (stepsOfNote (*render (pattern, 8), 60), c.played);
    }
}

TEST (EngineRender, DisabledStepsAndAbsentBarsPlayNothing)
{
    struct Case
    {
        const char* name;
        void (*edit) (PatternRecord&);
        std::vector<int> played;
    };
    const Case cases[] = {
        // Passed over without time: step 2 plays where step 1 would have, and the bar has 15 steps.
        {"disabled step", [] (PatternRecord& p) { p.block.steps[1] &= ~stepword::kEnabled; }, {0, 1, 15, 16, 30, 31}},
        {"no enabled step",
         [] (PatternRecord& p)
         {
             for (auto& w : p.block.steps)
                 w &= ~stepword::kEnabled;
         },
         {}},
        {"no bar present", [] (PatternRecord& p) { p.block.stepPresentMasks[0] = 0; }, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.name);
        PatternRecord pattern = emptyPattern();
        addNote (pattern, 0, 0, 60, 3);
        addNote (pattern, 1, 0, 60, 3);
        addNote (pattern, 2, 0, 60, 3);
        c.edit (pattern);
        EXPECT_EQ (stepsOfNote (*render (pattern, 2), 60), c.played);
    }
}

TEST (EngineRender, RenderRefusesWhatItCannotPlay)
{
    RenderedSteps rendered;
    engineRelease();
    EXPECT_FALSE (renderPattern (emptyPattern(), {}, 1, rendered));
    engineInit();
    EXPECT_FALSE (renderPattern (emptyPattern(), {}, 0, rendered));
    EXPECT_FALSE (renderPattern (emptyPattern(), {}, 33, rendered));
    engineRelease();
}

TEST (EngineInit, BuildsTheDefaultPatternAndKeepsWhatCarriesOver)
{
    engineInit();
    engineState().outputStartTrack = 5;
    setTempo (1500);
    engineInit();
    EXPECT_EQ (engineState().outputStartTrack, 5);
    EXPECT_EQ (engineState().tempoTenths, 1500);

    PatternRecord expected;
    makeEmptyPattern (expected);
    EXPECT_EQ (std::memcmp (&defaultPattern(), &expected, sizeof (expected)), 0);

    setTempo (10);
    EXPECT_EQ (engineState().tempoTenths, 300);
    setTempo (1200);
    engineState().outputStartTrack = 0;
    engineRelease();
    engineRelease(); // twice is harmless
}

TEST (EngineRender, GlideMarksTheRecordedStep)
{
    PatternRecord pattern = emptyPattern();
    addNote (pattern, 2, 0, 60, 3);
    pattern.block.steps[2] |= stepword::kGlide;
    pattern.block.steps[5] |= stepword::kGlide; // without notes
    const auto rendered = render (pattern, 1);
    for (int step = 0; step < 8; ++step)
        EXPECT_EQ (stepword::glide (rendered->blocks[0].steps[step]), step == 2 || step == 5) << step;
}

} // namespace korva
