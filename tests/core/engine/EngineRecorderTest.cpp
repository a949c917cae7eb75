// The recorder's queues and bars, and the output stage's budget, driven tick by tick.

#include "tests/core/engine/EngineTestSupport.h"

namespace korva
{

using namespace korva;
using namespace korva::engine;
using namespace korva::test;

namespace
{

// Ticks until the tick just run is the last one of `bar`.
void tickToLastTickOfBar (int bar)
{
    const MasterClock& c = engineState().clock;
    while (!(c.bar == bar && c.step == kStepsPerBar - 1 && c.phase + c.increment >= 1.0f))
        engineTick();
}

struct EngineFixture : ::testing::Test
{
    EngineFixture()
    {
        engineInit();
        engineState().outputStartTrack = 0;
    }
    ~EngineFixture() override { engineRelease(); }
};

using EngineRecorder = EngineFixture;
using EngineOutputStage = EngineFixture;

} // namespace

TEST_F (EngineRecorder, EventPlayedInTheLastTickOfABarStaysInThatBar)
{
    struct Case
    {
        int bar;
        int block;
        int step;
        int laterBlock; // where one bar later would put it
        int laterStep;
    };
    // Bar 31 is the last of the 32-bar ring: one bar later would be bar 0.
    for (const Case& c : {Case{0, 0, 15, 0, 31}, Case{31, 7, 63, 0, 15}})
    {
        SCOPED_TRACE (c.bar);
        engineInit();
        startTransport();
        tickToLastTickOfBar (c.bar);
        EngineState& e = engineState();
        queueNoteEvent (e, 0, 60, 100); // as the output stage does at the end of this tick
        queueCcEvent (e, 0, 2, 33);
        engineTick();
        ASSERT_EQ (e.clock.step, 0);

        const StepBlock& block = e.recorder.blocks[c.block];
        EXPECT_EQ (stepNoteMask (block, c.step), 1);
        EXPECT_EQ (stepNote (block, c.step, 0).note, 60);
        EXPECT_EQ (stepSubPositionMask (block, c.step, 5), 1);
        EXPECT_EQ (stepCcMask (block, c.step), 0b100);
        EXPECT_EQ (stepCcValue (block, c.step, 2), 33);
        EXPECT_EQ (stepNoteMask (e.recorder.blocks[c.laterBlock], c.laterStep), 0);
    }
}

TEST_F (EngineRecorder, QueuesKeepOneEntryFree)
{
    EngineState& e = engineState();
    startTransport();
    for (int i = 0; i < 200; ++i)
    {
        queueNoteEvent (e, 0, 60, 100);
        queueCcEvent (e, 0, 0, 1);
        queueGlideEvent (e, 0);
    }
    EXPECT_EQ (e.recorder.noteQueue.size(), 127);
    EXPECT_EQ (e.recorder.ccQueue.size(), 79);
    EXPECT_EQ (e.recorder.glideQueue.size(), 15);
    engineTick();
    EXPECT_EQ (e.recorder.noteQueue.size(), 0);
}

TEST_F (EngineRecorder, NoteOffMeasuresFromTheEarliestPendingInstance)
{
    EngineState& e = engineState();
    startTransport();
    engineTick();
    // Two instances of one note on track 0, then two note offs.
    queueNoteEvent (e, 0, 60, 100);
    e.clock.subPosition = 3;
    queueNoteEvent (e, 0, 60, 90);
    e.clock.step = 2;
    e.clock.eighth = 4;
    queueNoteEvent (e, 0, 60, 0);
    e.clock.step = 3;
    e.clock.eighth = 0;
    queueNoteEvent (e, 0, 60, 0);
    runRecorder (e);

    const StepBlock& block = e.recorder.blocks[0];
    EXPECT_EQ (stepNote (block, 0, 0).length, 19); // 2.5 steps
    EXPECT_EQ (stepNote (block, 0, 1).length, 23); // 3 steps
    EXPECT_EQ (e.recorder.pendingInUse[0], 0);
}

TEST_F (EngineOutputStage, BudgetOfEightPerTickAndRotatingStart)
{
    EngineState& e = engineState();
    startTransport();
    engineTick();
    e.outputStartTrack = 0; // the quiet tick moved it on
    auto runAndCount = [&e]
    {
        const int before = e.recorder.noteQueue.writeIndex;
        runOutputStage (e);
        const int emitted = (e.recorder.noteQueue.writeIndex - before + 128) % 128;
        runRecorder (e);
        return emitted;
    };

    // Eight notes struck again: 16 events over two ticks; the next tick starts where this one stopped.
    TrackState& t = e.tracks[0];
    for (int note = 60; note < 68; ++note)
    {
        t.outputRequested.set (note);
        t.outputSent.set (note);
        t.outputRetrigger.set (note);
        t.outputVelocity[note] = 100;
    }
    e.outputPendingTracks = 1u << 0; // as computing the track's output does
    const int first = e.recorder.noteQueue.writeIndex;
    EXPECT_EQ (runAndCount(), 8);
    EXPECT_EQ (e.outputStartTrack, 0);
    // A note struck again is released first, in the same tick.
    const NoteEvent& off = e.recorder.noteQueue.entries[first];
    const NoteEvent& on = e.recorder.noteQueue.entries[first + 1];
    EXPECT_EQ (std::vector<int> ({off.note, off.velocity, on.note, on.velocity}), std::vector<int> ({60, 0, 60, 100}));
    EXPECT_EQ (std::vector<int> ({off.bar, off.step, off.eighth}), std::vector<int> ({on.bar, on.step, on.eighth}));
    EXPECT_EQ (runAndCount(), 8);
    EXPECT_EQ (runAndCount(), 0);
    EXPECT_EQ (e.outputStartTrack, 8); // eight quiet tracks visited

    // Seven note ons then a re-strike: the count passes 8 within one note, so 9 events.
    for (int note = 60; note < 67; ++note)
        t.outputSent.reset (note);
    t.outputRetrigger.set (67);
    e.tracks[9].outputRequested.set (50);
    e.outputPendingTracks = (1u << 0) | (1u << 9);
    EXPECT_EQ (runAndCount(), 1); // tracks 8 to 15 first
    EXPECT_EQ (e.outputStartTrack, 0);
    EXPECT_EQ (runAndCount(), 9);
}

} // namespace korva
