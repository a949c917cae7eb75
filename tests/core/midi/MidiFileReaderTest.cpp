#include "core/midi/MidiFileReader.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace korva
{

using namespace korva;
using namespace korva::test;

namespace
{

struct PatternNote
{
    int step;
    int subPosition;
    int note;
    int velocity;
    int length;

    bool operator== (const PatternNote& o) const
    {
        return std::tie (step, subPosition, note, velocity, length) ==
               std::tie (o.step, o.subPosition, o.note, o.velocity, o.length);
    }
};

std::ostream& operator<< (std::ostream& out, const PatternNote& n)
{
    return out << "{step " << n.step << ", sub " << n.subPosition << ", note " << n.note << ", vel " << n.velocity
               << ", len " << n.length << "}";
}

std::vector<PatternNote> notesOf (const PatternRecord& record)
{
    std::vector<PatternNote> notes;
    for (int step = 0; step < kStepCount; ++step)
        for (int k = 0; k < kSubPositionCount; ++k)
            for (int slot = 0; slot < kSlotCount; ++slot)
                if (slotStartsAt (record.block, step, slot, k))
                {
                    const NoteSlot n = stepNote (record.block, step, slot);
                    notes.push_back ({step, k, n.note, n.velocity, n.length});
                }
    return notes;
}

struct ReadResult
{
    bool ok;
    juce::String reason;
    std::unique_ptr<PatternRecord> record;
};

ReadResult read (const Bytes& file, int bars = 4, const CcNumbers& cc = {})
{
    ReadResult result{false, {}, std::make_unique<PatternRecord>()};
    makeEmptyPattern (*result.record);
    // An exactly sized copy, so that a read past the end is a read past the allocation.
    const std::unique_ptr<uint8_t[]> bytes (new uint8_t[file.size()]);
    std::memcpy (bytes.get(), file.data(), file.size());
    const MidiReadResult read = readMidiFile (bytes.get(), file.size(), bars, cc, *result.record);
    result.ok = read.ok;
    result.reason = read.reason;
    return result;
}

Bytes oneTrack (const TrackBytes& track, int division = 480)
{
    return midiFile ({track}, division);
}

} // namespace

TEST (MidiFileReader, TheSmallestFileIsAcceptedAndSetsOnlyTheBarCount)
{
    const Bytes empty = oneTrack (TrackBytes().endOfTrack (0));
    ASSERT_EQ (empty.size(), 26u);

    for (int bars : {1, 2, 4})
    {
        const ReadResult r = read (empty, bars);
        ASSERT_TRUE (r.ok);
        PatternRecord expected;
        makeEmptyPattern (expected);
        expected.block.barCount = (uint8_t)bars;
        EXPECT_EQ (std::memcmp (r.record.get(), &expected, sizeof (expected)), 0) << bars;
    }

    EXPECT_FALSE (read (Bytes (empty.begin(), empty.end() - 1)).ok);
    // A track count of 0: nothing is read, the chunk that follows included.
    const ReadResult none = read (midiFile ({TrackBytes().noteOn (0, 60).noteOff (120, 60)}, 480, 0, 0));
    ASSERT_TRUE (none.ok);
    EXPECT_TRUE (notesOf (*none.record).empty());
    EXPECT_EQ (none.record->block.barCount, 4);
}

TEST (MidiFileReader, NotesAreQuantisedOntoStepsSubPositionsAndEighths)
{
    struct Case
    {
        const char* what;
        uint32_t on;
        uint32_t off;
        int division;
        PatternNote expected;
    };
    const Case cases[] = {
        {"one step from tick 0", 0, 120, 480, {0, 0, 60, 100, 7}},
        {"tick 119 is the last sixth of step 0", 119, 134, 480, {0, 5, 60, 100, 0}},
        {"tick 120 starts step 1", 120, 150, 480, {1, 0, 60, 100, 1}},
        {"sub-positions are truncated", 39, 100, 480, {0, 1, 60, 100, 3}},
        {"lengths are truncated to eighths", 0, 29, 480, {0, 0, 60, 100, 0}},
        {"a note shorter than an eighth keeps length 0", 0, 3, 480, {0, 0, 60, 100, 0}},
        {"division 96", 24, 48, 96, {1, 0, 60, 100, 7}},
        {"division 4: one tick per step", 1, 3, 4, {1, 0, 60, 100, 15}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.what);
        const ReadResult r =
            read (oneTrack (TrackBytes().noteOn (c.on, 60).noteOff (c.off, 60).endOfTrack (c.off), c.division));
        ASSERT_TRUE (r.ok);
        EXPECT_EQ (notesOf (*r.record), std::vector<PatternNote>{c.expected});
    }
}

TEST (MidiFileReader, VelocityZeroNoteOnEndsTheNoteLikeANoteOff)
{
    const ReadResult r = read (oneTrack (
        TrackBytes().noteOn (0, 60, 90).at (60, {0x90, 60, 0}).at (240, {0x99, 62, 70}).at (480, {0x90, 62, 0})));
    ASSERT_TRUE (r.ok);
    EXPECT_EQ (notesOf (*r.record), (std::vector<PatternNote>{{0, 0, 60, 90, 3}, {2, 0, 62, 70, 15}}));
}

TEST (MidiFileReader, RunningStatusCarriesNoteEvents)
{
    TrackBytes track;
    track.at (0, {0x90, 60, 100}).raw ({0, 64, 100, 0x78, 60, 0, 0, 64, 0}).endOfTrack (120);
    const ReadResult r = read (oneTrack (track));
    ASSERT_TRUE (r.ok);
    EXPECT_EQ (notesOf (*r.record), (std::vector<PatternNote>{{0, 0, 60, 100, 7}, {0, 0, 64, 100, 7}}));
}

TEST (MidiFileReader, AStepTakesEightNotesAndNoMore)
{
    TrackBytes track;
    for (int i = 0; i < 10; ++i)
        track.noteOn ((uint32_t)i * 10, 50 + i);
    for (int i = 0; i < 10; ++i)
        track.noteOff (200, 50 + i);
    const ReadResult r = read (oneTrack (track.endOfTrack (200)));
    ASSERT_TRUE (r.ok);

    const std::vector<PatternNote> notes = notesOf (*r.record);
    ASSERT_EQ (notes.size(), 8u);
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ (notes[(std::size_t)i].note, 50 + i);
        // Started at tick 10 i, ended at 200: (200 - 10 i) / 15 eighths.
        EXPECT_EQ (notes[(std::size_t)i].length, (200 - 10 * i) / 15 - 1);
    }
    EXPECT_EQ (stepNoteMask (r.record->block, 0), 0xFF);
}

TEST (MidiFileReader, DropBarCountCutsNotesAndControllers)
{
    TrackBytes track;
    track
        .noteOn (14 * 120, 60)        // step 14, still sounding at the end of bar 1
        .controller (15 * 120, 7, 50) // step 15: taken
        .noteOn (16 * 120, 62)        // step 16: beyond a 1-bar pattern
        .controller (17 * 120, 7, 51)
        .noteOff (20 * 120, 60)
        .noteOff (21 * 120, 62)
        .endOfTrack (21 * 120);

    const ReadResult one = read (oneTrack (track), 1, {7, 0, 0, 0, 0});
    ASSERT_TRUE (one.ok);
    EXPECT_EQ (one.record->block.barCount, 1);
    // The note off past the end is not read: the note ends with bar 1.
    EXPECT_EQ (notesOf (*one.record), (std::vector<PatternNote>{{14, 0, 60, 100, 15}}));
    EXPECT_EQ (stepCcMask (one.record->block, 15), 1);
    EXPECT_EQ (stepCcValue (one.record->block, 15, 0), 50);
    for (int step = 16; step < kStepCount; ++step)
        EXPECT_EQ (stepCcMask (one.record->block, step), 0) << step;

    const ReadResult two = read (oneTrack (track), 2, {7, 0, 0, 0, 0});
    ASSERT_TRUE (two.ok);
    EXPECT_EQ (two.record->block.barCount, 2);
    EXPECT_EQ (notesOf (*two.record), (std::vector<PatternNote>{{14, 0, 60, 100, 47}, {16, 0, 62, 100, 39}}));
    EXPECT_EQ (stepCcValue (two.record->block, 17, 0), 51);
}

TEST (MidiFileReader, NoteSoundingAtTheEndOfItsTrackEndsWithItsBar)
{
    // A note on in step 20 and no note off: ended at tick 32 steps.
    const ReadResult r = read (oneTrack (TrackBytes().noteOn (20 * 120 + 60, 60).endOfTrack (22 * 120)));
    ASSERT_TRUE (r.ok);
    EXPECT_EQ (notesOf (*r.record), (std::vector<PatternNote>{{20, 3, 60, 100, (32 * 120 - 20 * 120 - 60) / 15 - 1}}));
}

TEST (MidiFileReader, ControllersGoToEveryLaneOnTheirNumber)
{
    TrackBytes track;
    track.controller (0, 74, 20).controller (130, 1, 127).at (240, {0xB3, 74, 0}).controller (360, 9, 9);
    const ReadResult r = read (oneTrack (track.endOfTrack (400)), 4, {74, 1, 74, 0, 200});
    ASSERT_TRUE (r.ok);

    EXPECT_EQ (stepCcMask (r.record->block, 0), 0b00101);
    EXPECT_EQ (stepCcValue (r.record->block, 0, 0), 20);
    EXPECT_EQ (stepCcValue (r.record->block, 0, 2), 20);
    EXPECT_EQ (stepCcMask (r.record->block, 1), 0b00010);
    EXPECT_EQ (stepCcValue (r.record->block, 1, 1), 127);
    EXPECT_EQ (stepCcMask (r.record->block, 2), 0b00101);
    EXPECT_EQ (stepCcValue (r.record->block, 2, 2), 0);
    EXPECT_EQ (stepCcMask (r.record->block, 3), 0) << "controller 9 has no lane";
    EXPECT_TRUE (notesOf (*r.record).empty());
}

TEST (MidiFileReader, ReadingStopsAfterTheFirstTrackWithNotes)
{
    // Format 1: a tempo map first (its controller is taken), then the notes,
    // then a track that is never read.
    TrackBytes tempo;
    tempo.at (0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20})
        .at (0, {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08})
        .controller (240, 10, 64)
        .endOfTrack (480);
    TrackBytes notes;
    notes.at (0, {0xFF, 0x03, 0x04, 'L', 'e', 'a', 'd'})
        .at (0, {0xF0, 0x03, 0x43, 0x12, 0xF7})
        .at (0, {0xC0, 5})
        .noteOn (120, 60)
        .at (180, {0xE0, 0, 64})
        .noteOff (240, 60)
        .endOfTrack (240);
    TrackBytes ignored;
    ignored.noteOn (0, 72).noteOff (120, 72).controller (120, 10, 1).endOfTrack (120);

    const ReadResult r = read (midiFile ({tempo, notes, ignored}), 4, {10, 0, 0, 0, 0});
    ASSERT_TRUE (r.ok);
    EXPECT_EQ (notesOf (*r.record), (std::vector<PatternNote>{{1, 0, 60, 100, 7}}));
    EXPECT_EQ (stepCcValue (r.record->block, 2, 0), 64);
    EXPECT_EQ (stepCcMask (r.record->block, 1), 0);
}

TEST (MidiFileReader, MalformedFilesAreRejectedWithWhatIsWrongAndWhere)
{
    const TrackBytes note = TrackBytes().noteOn (0, 60).noteOff (120, 60).endOfTrack (120);
    const Bytes good = oneTrack (note);
    const ReadResult accepted = read (good);
    ASSERT_TRUE (accepted.ok);
    EXPECT_TRUE (accepted.reason.isEmpty()) << accepted.reason;
    const Bytes twoTracks = midiFile ({TrackBytes().endOfTrack (0), note});

    auto withLength = [&] (uint32_t length)
    {
        Bytes b = good;
        b[18] = (uint8_t)(length >> 24);
        b[19] = (uint8_t)(length >> 16);
        b[20] = (uint8_t)(length >> 8);
        b[21] = (uint8_t)length;
        return b;
    };

    // A single track's events begin at byte 22.
    struct Case
    {
        const char* what;
        Bytes file;
        const char* reason;
    };
    const Case cases[] = {
        {"no header", Bytes (10, 0), "not a Standard MIDI File (no MThd header)"},
        {"header without a whole track", Bytes (good.begin(), good.begin() + 25),
         "the file ends after 25 bytes, before a header and one track (26 bytes): cut short?"},
        {"chunk longer than the file", withLength ((uint32_t)note.events().size() + 1),
         "track 1 claims 13 bytes but the file ends after 12: cut short?"},
        {"chunk length with the top bit set", withLength (0x80000010u),
         "track 1 claims 2147483664 bytes but the file ends after 12: cut short?"},
        {"second chunk longer than the file", Bytes (twoTracks.begin(), twoTracks.end() - 2),
         "track 2 claims 12 bytes but the file ends after 10: cut short?"},
        {"second chunk missing", midiFile ({TrackBytes().endOfTrack (0)}, 480, 1, 2),
         "the header names 2 tracks but the file ends before track 2: cut short?"},
        {"event cut by the end of its chunk", oneTrack (TrackBytes().noteOn (0, 60).raw ({0x00, 0x80, 60})),
         "the file ends inside an event of track 1 at byte 26: cut short?"},
        {"meta event longer than its chunk", oneTrack (TrackBytes().at (0, {0xFF, 0x01, 0x10, 'a'})),
         "the file ends inside an event of track 1 at byte 22: cut short?"},
        {"end of track without its length byte", oneTrack (TrackBytes().noteOn (0, 60).raw ({0x00, 0xFF, 0x2F})),
         "the file ends inside an event of track 1 at byte 26: cut short?"},
        {"delta time running off the chunk", oneTrack (TrackBytes().noteOn (0, 60).raw ({0x81, 0x80})),
         "the file ends inside an event of track 1 at byte 26: cut short?"},
        {"delta time of five bytes", oneTrack (TrackBytes().raw ({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1})),
         "track 1: the variable-length number at byte 22 runs over 4 bytes"},
        {"division 3", oneTrack (note, 3), "time division of 3 ticks per beat: at least 4 are needed"},
        {"division 1", oneTrack (note, 1), "time division of 1 tick per beat: at least 4 are needed"},
        {"division 0", oneTrack (note, 0), "time division of 0 ticks per beat: at least 4 are needed"},
        {"SMPTE division", oneTrack (note, 0xE728), "SMPTE time division: only files in beats can be converted"},
        {"status F1", oneTrack (TrackBytes().at (0, {0xF1, 0x00}).endOfTrack (0)),
         "track 1: status byte 0xF1 at byte 23 is not allowed"},
        {"status FE after a note", oneTrack (TrackBytes().noteOn (0, 60).at (0, {0xFE}).endOfTrack (0)),
         "track 1: status byte 0xFE at byte 27 is not allowed"},
        {"data byte before any status", oneTrack (TrackBytes().at (0, {0x3C, 0x64}).endOfTrack (0)),
         "track 1: data byte 0x3C at byte 23 has no status before it"},
        {"data byte before any status of the second track",
         midiFile ({TrackBytes().controller (0, 7, 1).endOfTrack (0), TrackBytes().at (0, {0x3C, 0x64})}),
         "track 2: data byte 0x3C at byte 39 has no status before it"},
    };
    for (const Case& c : cases)
    {
        const ReadResult r = read (c.file);
        EXPECT_FALSE (r.ok) << c.what;
        EXPECT_EQ (r.reason, c.reason) << c.what;
    }
}

TEST (MidiFileReader, AnEventRunningPastItsChunkIntoTheFileIsRead)
{
    const Bytes header = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 0x60};
    // The chunk says 11 bytes and holds 12: the end of track's last byte lies past it.
    Bytes shortTrack = header;
    shortTrack.insert (shortTrack.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0x0B, 0x00, 0x90, 0x3C, 0x64, 0x78, 0x80, 0x3C,
                                          0x00, 0x00, 0xFF, 0x2F, 0x00});
    const ReadResult a = read (shortTrack);
    ASSERT_TRUE (a.ok);
    EXPECT_EQ (notesOf (*a.record), (std::vector<PatternNote>{{0, 0, 60, 100, 39}}));

    // A tempo track whose name claims 8 bytes in a chunk of 6: the next chunk is
    // still found from the declared length, and the name's bytes lie inside the file.
    Bytes format1 = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0, 0x60};
    format1.insert (format1.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 6, 0x00, 0xFF, 0x03, 0x08, 'L', 'e'});
    format1.insert (format1.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0x0C, 0x00, 0x90, 0x3C, 0x64, 0x78, 0x80, 0x3C, 0x00,
                                    0x00, 0xFF, 0x2F, 0x00});
    const ReadResult b = read (format1);
    ASSERT_TRUE (b.ok);
    EXPECT_EQ (notesOf (*b.record), (std::vector<PatternNote>{{0, 0, 60, 100, 39}}));

    // The same claim running past the end of the file is refused.
    const ReadResult cut = read (Bytes (format1.begin(), format1.begin() + 14 + 14));
    EXPECT_FALSE (cut.ok);
    EXPECT_EQ (cut.reason, "the file ends inside an event of track 1 at byte 22: cut short?");
}

TEST (MidiFileReader, DataBytesWithTheTopBitSetAreReadAsData)
{
    // Controller 0 with value 0x80: every lane's bit is set, no value stored.
    const ReadResult cc = read (oneTrack (TrackBytes().raw ({0x00, 0xB0, 0x00, 0x80, 0x00, 0x90, 0x3C, 0x64, 0x78, 0x80,
                                                               0x3C, 0x00}).endOfTrack (0), 0x60),
                                4, {0, 0, 0, 0, 0});
    ASSERT_TRUE (cc.ok);
    EXPECT_EQ (stepCcMask (cc.record->block, 0), 0b11111);
    for (int lane = 0; lane < kLaneCount; ++lane)
        EXPECT_EQ (stepCcValue (cc.record->block, 0, lane), 0) << lane;
    EXPECT_EQ (notesOf (*cc.record), (std::vector<PatternNote>{{0, 0, 60, 100, 39}}));

    // Note 0xBC has no pending entry; a velocity of 0x90 places nothing but ends
    // the earlier note 62.
    TrackBytes track;
    track.at (0, {0x90, 0xBC, 0x64}).noteOn (0, 62).at (240, {0x90, 62, 0x90}).noteOn (480, 64).noteOff (600, 64);
    const ReadResult notes = read (oneTrack (track.endOfTrack (600)));
    ASSERT_TRUE (notes.ok);
    EXPECT_EQ (notesOf (*notes.record), (std::vector<PatternNote>{{0, 0, 62, 100, 15}, {4, 0, 64, 100, 7}}));
}

TEST (MidiFileReader, CurrentStepCarriedIntoTheNextTrackNeverPlacesBeyondTheEnd)
{
    // A track without notes leaves the reader at step 70 (or 20); the next track
    // starts with events at that very step.
    for (int bars : {4, 1})
    {
        SCOPED_TRACE (bars);
        const uint32_t step = bars == 4 ? 70 : 20;
        TrackBytes first;
        first.controller (step * 120, 7, 1).endOfTrack (step * 120);
        TrackBytes second;
        second.controller (step * 120, 7, 99)
            .noteOn (step * 120, 60)
            .noteOff (step * 120 + 120, 60)
            .endOfTrack (step * 120 + 120);

        const ReadResult r = read (midiFile ({first, second}), bars, {7, 0, 0, 0, 0});
        ASSERT_TRUE (r.ok);
        EXPECT_TRUE (notesOf (*r.record).empty());
        PatternRecord untouched;
        makeEmptyPattern (untouched);
        untouched.block.barCount = (uint8_t)bars;
        EXPECT_EQ (std::memcmp (r.record.get(), &untouched, sizeof (untouched)), 0);
    }
}

TEST (MidiFileReader, FilesOnDiskAreReadWholeOrRejected)
{
    TempFolder folder;
    const Bytes bytes = oneTrack (TrackBytes().noteOn (0, 60).noteOff (120, 60).endOfTrack (120));
    const juce::File file = folder / "in.mid";
    ASSERT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));

    PatternRecord record;
    makeEmptyPattern (record);
    EXPECT_TRUE (readMidiFile (file, 1, {}, record));
    EXPECT_EQ (notesOf (record), (std::vector<PatternNote>{{0, 0, 60, 100, 7}}));

    // A file above the limit is refused before a byte of it is read (this one is sparse).
    const juce::File large = folder / "large.mid";
    ASSERT_TRUE (large.replaceWithData (bytes.data(), bytes.size()));
    std::filesystem::resize_file (large.getFullPathName().toStdString(), kMaxMidiFileSize + 1);
    const juce::File huge = folder / "huge.mid";
    ASSERT_TRUE (huge.replaceWithData (bytes.data(), bytes.size()));
    std::filesystem::resize_file (huge.getFullPathName().toStdString(), 70 * 1024 * 1024);

    struct Case
    {
        juce::File file;
        int bars;
        const char* reason;
    };
    const Case cases[] = {
        {folder / "missing.mid", 1, "the file does not exist"},
        {folder.get(), 1, "a folder, not a file"},
        {large, 1, "the file is 64.1 MB: files above 64 MB are not read"},
        {huge, 1, "the file is 70 MB: files above 64 MB are not read"},
        {file, 0, "drop bar count 0: only 1 to 4 bars can be taken"},
        {file, 5, "drop bar count 5: only 1 to 4 bars can be taken"},
        {file, -1, "drop bar count -1: only 1 to 4 bars can be taken"},
    };
    for (const Case& c : cases)
    {
        const MidiReadResult r = readMidiFile (c.file, c.bars, {}, record);
        EXPECT_FALSE (r.ok) << c.reason;
        EXPECT_EQ (r.reason, c.reason);
    }
}

} // namespace korva
