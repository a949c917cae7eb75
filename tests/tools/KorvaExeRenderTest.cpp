// The Windows build's engine against the Linux build's: korva.exe (MinGW,
// run under Wine) and korva render the same patterns into the same bytes.
// Each pattern turns on a group of the engine's features over four bars of
// seeded random notes; the last one turns on all of them.

#include "core/patterns/PatternRecord.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WindowsTool.h"
#include "tests/tools/ToolProcess.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace korva
{

using namespace korva::test;

namespace
{
using Random = std::mt19937;

int pick (Random& random, int low, int high)
{
    return std::uniform_int_distribution<int> (low, high) (random);
}

// Four bars, most steps on, one to three notes each at random sub-positions.
PatternRecord randomNotes (Random& random)
{
    PatternRecord record;
    makeEmptyPattern (record);
    record.block.barCount = 4;
    for (int step = 0; step < kStepCount; ++step)
    {
        if (pick (random, 0, 5) == 0)
            continue;
        for (int n = pick (random, 1, 3); n > 0; --n)
        {
            const int slot = addNoteToStep (record.block, step, pick (random, 0, kSubPositionCount - 1),
                                            (uint8_t) pick (random, 24, 100), (uint8_t) pick (random, 1, 127));
            if (slot >= 0)
                record.block.notes[step][slot].length = (uint16_t) pick (random, 0, 40);
        }
    }
    return record;
}

void groove (PatternRecord& r, Random& random)
{
    r.settings.grooveCurve = (uint8_t) pick (random, 1, 5);
    r.settings.grooveCycle = (uint8_t) pick (random, 2, 16);
    r.settings.grooveAmount = (uint8_t) pick (random, 0, 127);
    r.settings.swing = (uint8_t) pick (random, 1, 100);
    for (auto& motion : r.block.stepMotion)
        for (auto& nudge : motion.nudge)
            nudge = (uint8_t) pick (random, 0, 127);
}

void arpeggiator (PatternRecord& r, Random& random)
{
    r.settings.arpEnabled = 1;
    r.settings.arpOctaves = (uint8_t) pick (random, 1, 4);
    r.settings.arpGate = (uint8_t) pick (random, 10, 100);
    r.settings.arpRate = (uint32_t) pick (random, 0, 7);
    r.settings.arpMode = 3; // random: the generator's sequence matters too
}

void scaleAndProbability (PatternRecord& r, Random& random)
{
    r.settings.scaleType = (uint8_t) pick (random, 1, 22);
    r.settings.scaleRoot = (uint8_t) pick (random, 0, 11);
    r.settings.probabilityEnabled = 1;
    r.settings.probability = (uint8_t) pick (random, 20, 80);
}

void orderAndLinks (PatternRecord& r, Random& random)
{
    r.settings.resyncEnabled = 1;
    r.settings.resyncSteps = (uint8_t) pick (random, 3, 64);
    r.settings.stepOrder = (uint32_t) pick (random, 1, 11);
    r.settings.linkReverse = 1;
    r.settings.linkEndFlag = 1;
}

void stepWords (PatternRecord& r, Random& random)
{
    for (auto& word : r.block.steps)
    {
        word = stepword::withRatio (word, pick (random, 0, 3), pick (random, 0, 3));
        word = stepword::withTag (word, pick (random, 0, 4));
        if (pick (random, 0, 3) == 0)
            word |= stepword::kTie;
        if (pick (random, 0, 3) == 0)
            word |= stepword::kGlide;
    }
}

void speedAndRecordedEffects (PatternRecord& r, Random& random)
{
    r.block.speed = (uint8_t) pick (random, 0, 4);
    for (auto& motion : r.block.stepMotion)
    {
        motion.transposeCode = (uint8_t) pick (random, 0, 16);
        motion.repeatCode = (uint8_t) (pick (random, 0, 2) == 0 ? pick (random, 1, 8) : 0);
        motion.loopCode = (uint8_t) (pick (random, 0, 2) == 0 ? pick (random, 1, 0x15) : 0);
    }
}

void controllers (PatternRecord& r, Random& random)
{
    for (int step = 0; step < kStepCount; ++step)
        for (int lane = 0; lane < kLaneCount; ++lane)
            if (pick (random, 0, 2) == 0)
                setStepCcValue (r.block, step, lane, (uint8_t) pick (random, 0, 127));
}

struct Feature
{
    const char* name;
    std::function<void (PatternRecord&, Random&)> apply;
};

const std::vector<Feature> kFeatures{
    {"plain", [] (PatternRecord&, Random&) {}},
    {"groove", groove},
    {"arpeggiator", arpeggiator},
    {"scale-probability", scaleAndProbability},
    {"order-links", orderAndLinks},
    {"step-words", stepWords},
    {"speed-effects", speedAndRecordedEffects},
    {"controllers", controllers},
    {"everything",
     [] (PatternRecord& r, Random& random)
     {
         for (auto* apply : {groove, arpeggiator, scaleAndProbability, orderAndLinks, stepWords,
                             speedAndRecordedEffects, controllers})
             apply (r, random);
     }},
};

juce::MemoryBlock contentOf (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    return data;
}
} // namespace

TEST (KorvaExeRender, MakesTheSameMidiAsTheLinuxBuildForEveryEngineFeature)
{
    KORVA_REQUIRE_WINDOWS_TOOL();
    const WindowsTool windows;
    ASSERT_EQ (windows.getError(), "");
    TempFolder folder;

    for (size_t i = 0; i < kFeatures.size(); ++i)
    {
        const auto& feature = kFeatures[i];
        SCOPED_TRACE (feature.name);
        Random random ((unsigned) (1000 + i));
        auto record = randomNotes (random);
        feature.apply (record, random);
        PatternPayload payload;
        encodePattern (record, payload);
        const auto pattern = std::string (feature.name) + ".bin";
        ASSERT_TRUE ((folder / pattern).replaceWithData (payload.data(), payload.size()));

        for (const char* bars : {"4", "32"})
        {
            const auto linuxMidi = std::string (feature.name) + "-" + bars + "-linux.mid";
            const auto windowsMidi = std::string (feature.name) + "-" + bars + "-windows.mid";
            const auto onLinux = runProcess (KORVA_TOOL_BINARY, {"render", pattern, "-o", linuxMidi, "--bars", bars},
                                             folder.get());
            ASSERT_EQ (onLinux.exitCode, 0) << onLinux.err;
            const auto onWindows = windows.run ({"render", pattern, "-o", windowsMidi, "--bars", bars}, folder.get());
            ASSERT_EQ (onWindows.exitCode, 0) << onWindows.err;
            EXPECT_EQ (onWindows.out, onLinux.out);

            const auto expected = contentOf (folder / linuxMidi);
            EXPECT_GT (expected.getSize(), 100u) << bars << " bars: the pattern plays nothing";
            EXPECT_TRUE (contentOf (folder / windowsMidi) == expected) << bars << " bars";
        }
    }
}

} // namespace korva
