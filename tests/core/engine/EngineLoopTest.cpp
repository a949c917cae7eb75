// The recorded loop effect: loop codes in the step-motion records.

#include "tests/core/engine/EngineTestSupport.h"

namespace korva
{

using namespace korva;
using namespace korva::engine;
using namespace korva::test;

namespace
{

struct LoopCase
{
    const char* name;
    std::vector<std::pair<int, uint8_t>> codes; // step, loopCode
    std::vector<NoteStart> expected;            // in rendered steps 3 to 8
};

std::vector<NoteStart> startsWithLoop (const LoopCase& c, PatternRecord pattern)
{
    for (const auto& [step, code] : c.codes)
        pattern.block.stepMotion[step].loopCode = code;
    std::vector<NoteStart> starts;
    for (const NoteStart& s : noteStarts (*render (pattern, 1)))
    {
        if (s.step >= 3 && s.step <= 8)
            starts.push_back (s);
    }
    return starts;
}

} // namespace

TEST (EngineLoop, LoopCodesRepeatStepsAsLongAsTheyLast)
{
    const LoopCase cases[] = {
        // A straight loop of one step: step 4 plays three more times, then the track is back at step 8.
        {"one step",
         {{4, 3}, {5, 3}, {6, 3}, {7, 3}},
         {{3, 0, 43}, {4, 0, 44}, {5, 0, 44}, {6, 0, 44}, {7, 0, 44}, {8, 0, 48}}},
        // Ended by the next code without a class.
        {"ended at once", {{4, 3}}, {{3, 0, 43}, {4, 0, 44}, {5, 0, 45}, {6, 0, 46}, {7, 0, 47}, {8, 0, 48}}},
        // 0x15 (an entry being recorded) leaves the loop running; its low bits (5) let the 0 end it.
        {"0x15 then 0", {{4, 3}, {5, 0x15}}, {{3, 0, 43}, {4, 0, 44}, {5, 0, 44}, {6, 0, 46}, {7, 0, 47}, {8, 0, 48}}},
        // A code above 0x15 changes nothing, not even the bits the next code is compared with.
        {"above 0x15", {{4, 3}, {5, 0x1B}}, {{3, 0, 43}, {4, 0, 44}, {5, 0, 44}, {6, 0, 46}, {7, 0, 47}, {8, 0, 48}}},
        // A two-step loop from step 4 held over four steps.
        {"two steps",
         {{4, 2}, {5, 2}, {6, 2}, {7, 2}},
         {{3, 0, 43}, {4, 0, 44}, {5, 0, 45}, {6, 0, 44}, {7, 0, 45}, {8, 0, 48}}},
    };
    for (const LoopCase& c : cases)
    {
        SCOPED_TRACE (c.name);
        EXPECT_EQ (startsWithLoop (c, numberedPattern()), c.expected);
    }
}

TEST (EngineLoop, ShortLoopsReplayTheStartOfTheirStep)
{
    PatternRecord pattern = numberedPattern();
    addNote (pattern, 4, 3, 60, 0); // inside the loop's step, beyond a half step
    addNote (pattern, 4, 4, 61, 0); // beyond two thirds of a step

    const LoopCase cases[] = {
        // Half a step: the first half of step 4 again and again; sub-positions 3 to 5 never play.
        {"half step",
         {{4, 4}, {5, 4}},
         {{3, 0, 43}, {4, 0, 44}, {4, 3, 44}, {5, 0, 44}, {5, 3, 44}, {6, 0, 46}, {7, 0, 47}, {8, 0, 48}}},
        // A triplet step lasts two thirds of a step, so its half-step note still plays; each jump back
        // keeps the overshoot, so the loop keeps its period: step 4 restarts at 4 2/3 and 5 1/3.
        {"triplet step",
         {{4, 0x0B}, {5, 0x0B}},
         {{3, 0, 43},
          {4, 0, 44},
          {4, 3, 60},
          {4, 4, 44},
          {5, 1, 60},
          {5, 2, 44},
          {5, 5, 60},
          {6, 0, 46},
          {7, 0, 47},
          {8, 0, 48}}},
    };
    for (const LoopCase& c : cases)
    {
        SCOPED_TRACE (c.name);
        EXPECT_EQ (startsWithLoop (c, pattern), c.expected);
    }
}

TEST (EngineLoop, EmptyRecordsLeaveThePlayPositionAlone)
{
    PatternRecord pattern = numberedPattern();
    std::vector<NoteStart> expected;
    for (int step = 3; step <= 8; ++step)
        expected.push_back ({step, 0, 40 + step});
    EXPECT_EQ (startsWithLoop ({"none", {}, {}}, pattern), expected);
}

} // namespace korva
