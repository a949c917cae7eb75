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
    // Each track plays eight notes, five controller values and a glide in one tick: 128, 80 and 16
    // events for queues of as many entries. The last event of each kind finds its queue full and is
    // dropped; everything before it is recorded.
    EngineState& e = engineState();
    startTransport();
    for (int track = 0; track < kTrackCount; ++track)
    {
        for (int slot = 0; slot < kSlotCount; ++slot)
            queueNoteEvent (e, track, 60 + slot, 100);
        for (int lane = 0; lane < kLaneCount; ++lane)
            queueCcEvent (e, track, lane, 10 + lane);
        queueGlideEvent (e, track);
    }
    engineTick();

    for (int track = 0; track < kTrackCount; ++track)
    {
        SCOPED_TRACE (track);
        const bool last = track == kTrackCount - 1;
        const StepBlock& block = e.recorder.blocks[track * kRecordBlockCount / kTrackCount];
        EXPECT_EQ (stepNoteMask (block, 0), last ? 0x7F : 0xFF);
        EXPECT_EQ (stepCcMask (block, 0), last ? 0x0F : 0x1F);
        EXPECT_EQ (stepword::glide (stepWord (block, 0)), !last);
    }
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

    // Both instances are let go: the track has room for eight new notes.
    e.clock.step = 4;
    for (int note = 70; note < 78; ++note)
        queueNoteEvent (e, 0, note, 100);
    runRecorder (e);
    EXPECT_EQ (stepNoteMask (block, 4), 0xFF);
}

TEST_F (EngineOutputStage, BudgetOfEightPerTickAndRotatingStart)
{
    EngineState& e = engineState();
    startTransport();
    // Each pass of the output stage plays at a step of its own, so the recorded
    // steps tell which pass sent what.
    int step = 0;
    const auto pass = [&]
    {
        e.clock.step = (uint8_t)step++;
        runOutputStage (e);
        runRecorder (e);
    };
    const auto request = [&e] (int track, int note, int velocity)
    {
        e.tracks[track].outputRequested.set (note);
        e.tracks[track].outputVelocity[note] = (uint8_t)velocity;
    };
    TrackState& t = e.tracks[0];

    // Step 0: eight new notes, an event each, all in one pass.
    for (int note = 60; note < 68; ++note)
        request (0, note, 100);
    e.outputPendingTracks = 1u << 0; // as computing the track's output does
    pass();

    // Steps 1 and 2: the eight struck again, a note off and a note on each, so four a pass. The note
    // off comes first: with eight notes held the track would have no room for the new one.
    for (int note = 60; note < 68; ++note)
        t.outputRetrigger.set (note);
    e.outputPendingTracks = 1u << 0;
    pass();
    pass();

    // Step 3: nothing to send; the pass looks at eight tracks, so the next one starts at track 8.
    pass();

    // Steps 4 and 5: track 9 strikes a note and track 0 releases seven and strikes the eighth again,
    // nine events. Track 9 goes first; track 0 sends all nine, the budget being checked between notes.
    for (int note = 60; note < 67; ++note)
        t.outputRequested.reset (note);
    t.outputRetrigger.set (67);
    request (9, 50, 90);
    e.outputPendingTracks = (1u << 0) | (1u << 9);
    pass();
    pass();

    std::vector<RenderedNote> expected;
    for (int note = 60; note < 68; ++note)
        expected.push_back ({0, 0, note, 100, note < 64 ? 7 : 15});
    for (int note = 60; note < 64; ++note)
        expected.push_back ({1, 0, note, 100, 31});
    for (int note = 64; note < 68; ++note)
        expected.push_back ({2, 0, note, 100, 23});
    expected.push_back ({5, 0, 67, 100, 0}); // still sounding
    EXPECT_EQ (recordedNotes (e.recorder.blocks[0]), expected);
    EXPECT_EQ (recordedNotes (e.recorder.blocks[9 * kRecordBlockCount / kTrackCount]),
               (std::vector<RenderedNote>{{4, 0, 50, 90, 0}}));
}

} // namespace korva
