// The fit report the reader fills as it reads: hand-made files that lose notes
// and controller changes for each reason, with the counts and the examples the
// report must give, the timing errors, and the one-line summary.

#include "core/midi/MidiFitReport.h"
#include "core/midi/MidiFileReader.h"
#include "tests/core/midi/MidiTestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace korva
{

using namespace korva;
using namespace korva::test;

namespace
{

// 480 ticks per quarter: a step is 120 ticks, a sub-position 20.
constexpr uint32_t kStep = 120;

MidiFitReport fitOf (const Bytes& file, int bars, const CcNumbers& cc = {})
{
    auto record = std::make_unique<PatternRecord>();
    makeEmptyPattern (*record);
    MidiFitReport report;
    EXPECT_TRUE (readMidiFile (file.data(), file.size(), bars, cc, *record, &report));
    EXPECT_TRUE (report.read);
    return report;
}

// "5.2.3 C4" for each example of the reason.
std::vector<std::string> examplesOf (const MidiFitReport& report, FitReason reason)
{
    std::vector<std::string> texts;
    for (const FitExample& example : report.losses[(std::size_t)reason].examples)
        texts.push_back ((positionText (example) + " " + exampleSubject (reason, example)).toStdString());
    return texts;
}

std::map<FitReason, int> countsOf (const MidiFitReport& report)
{
    std::map<FitReason, int> counts;
    for (int r = 0; r < kFitReasonCount; ++r)
        if (report.losses[(std::size_t)r].count > 0)
            counts[(FitReason)r] = report.losses[(std::size_t)r].count;
    return counts;
}

TrackBytes& note (TrackBytes& track, uint32_t tick, int number, uint32_t length = 60)
{
    return track.noteOn (tick, number).noteOff (tick + length, number);
}

// Past bar 1: C4 at step 16, D4 two sixths into step 17, E4 and F4 in bars 3
// and 4; a controller change in bar 2. G4 in step 15 is kept.
Bytes afterTheLastBar()
{
    TrackBytes t;
    note (t, 15 * kStep, 67);
    note (t, 16 * kStep, 60);
    note (t, 17 * kStep + 40, 62).controller (17 * kStep + 100, 7, 1);
    note (t, 40 * kStep, 64);
    note (t, 50 * kStep, 65);
    return midiFile ({t.endOfTrack (50 * kStep + 60)});
}

// Ten notes start in step 2 (two at its fourth sixth): the last two are lost.
Bytes tenNotesInAStep()
{
    TrackBytes t;
    for (int n = 0; n < 10; ++n)
        t.noteOn (2 * kStep + (n < 8 ? 0 : 60), 48 + n);
    for (int n = 0; n < 10; ++n)
        t.noteOff (3 * kStep, 48 + n);
    return midiFile ({t.endOfTrack (3 * kStep)});
}

// The first note track has no end-of-track event, so the next track is read
// too; step 3 is full by then.
Bytes aFullStepFromTheTrackBefore()
{
    TrackBytes first;
    for (int n = 0; n < 8; ++n)
        first.noteOn (3 * kStep, 60 + n);
    for (int n = 0; n < 8; ++n)
        first.noteOff (4 * kStep, 60 + n);
    TrackBytes second;
    second.controller (0, 7, 1);
    note (second, 3 * kStep + 20, 72);
    note (second, 4 * kStep, 74);
    return midiFile ({first, second.endOfTrack (5 * kStep)});
}

// C4 struck again within the same sixth of step 0 takes the first one's slot.
Bytes theSameNoteTwice()
{
    TrackBytes t;
    note (t, 0, 60, 5);
    note (t, 10, 60, 50);
    note (t, kStep, 60);
    return midiFile ({t.endOfTrack (2 * kStep)});
}

// Tracks 3 and 4 follow the first track with notes and are not read.
Bytes laterTracks()
{
    TrackBytes tempo;
    tempo.at (0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}).controller (0, 7, 5).endOfTrack (0);
    TrackBytes lead;
    note (lead, 0, 60).endOfTrack (kStep);
    TrackBytes bass;
    note (bass, kStep, 36);
    note (bass, 17 * kStep + 20, 38).endOfTrack (18 * kStep);
    TrackBytes pad;
    pad.controller (4 * kStep, 7, 9);
    note (pad, 5 * kStep, 72).endOfTrack (6 * kStep);
    return midiFile ({tempo, lead, bass, pad});
}

// Lanes take controllers 7 and 10; 74 and 1 go nowhere.
Bytes controllersWithoutALane()
{
    TrackBytes t;
    t.controller (0, 7, 1).controller (0, 74, 2);
    note (t, 0, 60).controller (kStep, 10, 3).controller (2 * kStep + 60, 1, 4);
    return midiFile ({t.endOfTrack (3 * kStep)});
}

} // namespace

TEST (MidiFitReport, CountsAndExamplesForEachReason)
{
    struct Case
    {
        const char* what;
        Bytes file;
        int bars;
        CcNumbers cc;
        int notesSeen;
        int notesKept;
        int controllersSeen;
        int controllersKept;
        std::map<FitReason, int> losses;
        FitReason shown;
        std::vector<std::string> examples;
    };
    const Case cases[] = {
        {"after the last bar",
         afterTheLastBar(),
         1,
         {7, 0, 0, 0, 0},
         5,
         1,
         1,
         0,
         {{kNotesAfterLastBar, 4}, {kControllersAfterLastBar, 1}},
         kNotesAfterLastBar,
         {"2.1.1 C4", "2.1.2+2/6 D4", "3.3.1 E4"}},
        {"the same file read to bar 4", afterTheLastBar(), 4, {7, 0, 0, 0, 0}, 5, 5, 1, 1, {}, kNotesAfterLastBar, {}},
        {"beyond 8 notes in a step",
         tenNotesInAStep(),
         4,
         {},
         10,
         8,
         0,
         0,
         {{kNotesBeyondStepLimit, 2}},
         kNotesBeyondStepLimit,
         {"1.1.3+3/6 G#3", "1.1.3+3/6 A3"}},
        {"no free slot",
         aFullStepFromTheTrackBefore(),
         4,
         {},
         10,
         9,
         1,
         0,
         {{kNotesWithoutSlot, 1}, {kControllersWithoutLane, 1}},
         kNotesWithoutSlot,
         {"1.1.4+1/6 C5"}},
        {"the same note again",
         theSameNoteTwice(),
         4,
         {},
         3,
         2,
         0,
         0,
         {{kNotesReplaced, 1}},
         kNotesReplaced,
         {"1.1.1 C4"}},
        {"later tracks",
         laterTracks(),
         1,
         {7, 0, 0, 0, 0},
         4,
         1,
         2,
         1,
         {{kNotesInLaterTracks, 3}, {kControllersInLaterTracks, 1}},
         kNotesInLaterTracks,
         {"1.1.2 C2", "2.1.2+1/6 D2", "1.2.2 C5"}},
        {"controllers no lane takes",
         controllersWithoutALane(),
         4,
         {7, 10, 0, 0, 0},
         1,
         1,
         4,
         2,
         {{kControllersWithoutLane, 2}},
         kControllersWithoutLane,
         {"1.1.1 CC 74", "1.1.3+3/6 CC 1"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.what);
        const MidiFitReport report = fitOf (c.file, c.bars, c.cc);
        EXPECT_EQ (report.barCount, c.bars);
        EXPECT_EQ (report.notesSeen, c.notesSeen);
        EXPECT_EQ (report.notesKept, c.notesKept);
        EXPECT_EQ (report.controllersSeen, c.controllersSeen);
        EXPECT_EQ (report.controllersKept, c.controllersKept);
        EXPECT_EQ (countsOf (report), c.losses);
        EXPECT_EQ (examplesOf (report, c.shown), c.examples);
    }
}

TEST (MidiFitReport, LargestTimingErrorsInTicksAndAtTheFilesFirstTempo)
{
    // 96 ticks per quarter: a step is 24 ticks, a sixth 4, an eighth 3.
    // Tick 7 is placed at 4 (3 ticks early); 10 ticks become 3 eighths (1 short);
    // 1 tick becomes the shortest length, an eighth (2 long).
    TrackBytes notes;
    notes.noteOn (7, 60).noteOff (17, 60).noteOn (24, 62).noteOff (25, 62);
    const TrackBytes noTempo = TrackBytes (notes).endOfTrack (48);

    TrackBytes tempi; // 60 BPM, then 120 BPM, which is not the first
    tempi.at (0, {0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40}).at (24, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}).endOfTrack (24);

    struct Case
    {
        const char* what;
        Bytes file;
        double beatsPerMinute;
        double startMilliseconds;
        double lengthMilliseconds;
    };
    const Case cases[] = {
        {"no tempo event: 120 BPM", midiFile ({noTempo}, 96), 120.0, 15.625, 10.4167},
        {"the first tempo event: 60 BPM", midiFile ({tempi, noTempo}, 96), 60.0, 31.25, 20.8333},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.what);
        const MidiFitReport report = fitOf (c.file, 4);
        EXPECT_EQ (report.ticksPerQuarter, 96);
        EXPECT_DOUBLE_EQ (report.beatsPerMinute(), c.beatsPerMinute);
        EXPECT_DOUBLE_EQ (report.largestStartErrorTicks, 3.0);
        EXPECT_DOUBLE_EQ (report.largestLengthErrorTicks, 2.0);
        EXPECT_NEAR (report.ticksToMilliseconds (report.largestStartErrorTicks), c.startMilliseconds, 1e-3);
        EXPECT_NEAR (report.ticksToMilliseconds (report.largestLengthErrorTicks), c.lengthMilliseconds, 1e-3);
        EXPECT_EQ (report.notesLost(), 0);
    }
}

TEST (MidiFitReport, SummaryLineSaysHowMuchAndWhy)
{
    auto with = [] (int bars, std::map<FitReason, int> counts)
    {
        MidiFitReport report;
        report.read = true;
        report.barCount = bars;
        for (const auto& [reason, count] : counts)
            report.losses[(std::size_t)reason].count = count;
        return report;
    };
    struct Case
    {
        MidiFitReport report;
        const char* expected;
    };
    const Case cases[] = {
        {with (4, {}), ""},
        {with (4, {{kNotesAfterLastBar, 8}, {kNotesBeyondStepLimit, 4}}),
         "12 notes did not fit: 8 after bar 4, 4 beyond 8 notes in a step."},
        {with (2, {{kNotesReplaced, 1}}), "1 note did not fit: 1 replaced by the same note at the same position."},
        {with (4, {{kNotesOutOfRange, 2}, {kNotesAfterLastBar, 1}}),
         "3 notes did not fit: 1 after bar 4, 2 with a note number or velocity above 127."},
        {with (1, {{kNotesWithoutSlot, 2}, {kNotesInLaterTracks, 3}}),
         "5 notes did not fit: 2 with no free slot in their step, 3 in tracks after the first one with notes."},
        {with (4, {{kControllersWithoutLane, 2}}),
         "2 controller changes did not fit: 2 on a controller no lane takes."},
        {with (2, {{kNotesInLaterTracks, 3}, {kControllersAfterLastBar, 1}}),
         "3 notes did not fit: 3 in tracks after the first one with notes. "
         "1 controller change did not fit: 1 after bar 2."},
    };
    for (const Case& c : cases)
        EXPECT_EQ (describeLosses (c.report), c.expected);
}

TEST (MidiFitReport, NoteNamesPutMiddleCAtC4)
{
    const std::pair<int, const char*> cases[] = {{60, "C4"},  {61, "C#4"}, {69, "A4"},  {0, "C-1"},
                                                 {11, "B-1"}, {127, "G9"}, {188, "188"}};
    for (const auto& [number, name] : cases)
        EXPECT_EQ (noteName (number), name) << number;
}

} // namespace korva
