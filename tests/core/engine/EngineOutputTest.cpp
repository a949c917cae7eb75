// From held notes to output notes: chords, the scale and the arpeggiator.

#include "core/engine/Tables.h"
#include "tests/core/engine/EngineTestSupport.h"

namespace korva
{

using namespace korva;
using namespace korva::engine;
using namespace korva::test;

TEST (EngineOutput, ChordTagsAddTheSlotsIntervalsAtTheRootsVelocity)
{
    const ChordSlots slots = {0x4700, 0x47A0, 0, 0, 0, 0x0C00};
    struct Case
    {
        int tag;
        int root;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {1, 60, {60, 64, 67}},     // 0x4700: 7 and 4 above
        {2, 60, {60, 64, 67, 70}}, // 0x47A0
        {6, 60, {60, 72}},
        {7, 60, {60}}, // slot 6 stays empty
        {0, 60, {60}},
        {1, 122, {122, 126}}, // 129 is beyond the notes
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.tag * 1000 + c.root);
        PatternRecord pattern = emptyPattern();
        addNote (pattern, 0, 0, c.root, 7, 90);
        pattern.block.steps[0] = stepword::withTag (pattern.block.steps[0], c.tag);
        std::vector<RenderedNote> expected;
        for (int note : c.expected)
            expected.push_back ({0, 0, note, 90, 7});
        EXPECT_EQ (renderedNotes (*render (pattern, 1, slots)), expected);
    }
}

TEST (EngineOutput, ChordNotesAreAddedOnlyUpToEightNotes)
{
    struct Case
    {
        std::vector<int> held;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{60, 62, 65, 69}, {60, 62, 64, 65, 67, 69, 70}},                 // 0x47A2: 62 is held already
        {{60, 61, 62, 63, 65, 66, 68}, {60, 61, 62, 63, 65, 66, 68, 70}}, // room for the first only
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.held.size());
        PatternRecord pattern = emptyPattern();
        for (int note : c.held)
            addNote (pattern, 0, 0, note, 7);
        pattern.block.steps[0] = stepword::withTag (pattern.block.steps[0], 1);
        EXPECT_EQ (noteSequence (*render (pattern, 1, {0x47A2})), c.expected);
    }
}

TEST (EngineOutput, ScaleMovesNotesOntoTheScale)
{
    struct Case
    {
        uint8_t scaleType;
        uint8_t scaleRoot;
        std::vector<int> played;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {1, 0, {60, 61, 66, 71}, {60, 60, 65, 71}},
        {8, 0, {60, 66, 71, 63}, {60, 67, 72, 62}}, // 6 and 11 go up, 3 down
        {1, 2, {62, 63, 68, 61}, {62, 62, 67, 61}}, // D major
        {0, 0, {61, 66}, {61, 66}},
        {40, 0, {61, 66}, {61, 66}}, // unknown type: the previous (chromatic) code stays
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.scaleType * 100 + c.scaleRoot);
        PatternRecord pattern = emptyPattern();
        pattern.settings.scaleType = c.scaleType;
        pattern.settings.scaleRoot = c.scaleRoot;
        for (std::size_t i = 0; i < c.played.size(); ++i)
            addNote (pattern, (int)i, 0, c.played[i], 3, 50 + (int)i);
        const auto notes = renderedNotes (*render (pattern, 1));
        std::vector<int> numbers;
        for (std::size_t i = 0; i < notes.size(); ++i)
        {
            numbers.push_back (notes[i].note);
            EXPECT_EQ (notes[i].velocity, 50 + (int)i); // the velocity follows the note
        }
        EXPECT_EQ (numbers, c.expected);
    }
}

TEST (EngineTables, ScaleCodesKeepTheirScalesPitchClassesAndMoveTheRestOntoThem)
{
    const std::vector<std::vector<int>> kept = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
        {0, 2, 4, 5, 7, 9, 11},
        {0, 2, 3, 5, 7, 9, 10},
        {0, 1, 3, 5, 7, 8, 10},
        {0, 2, 4, 6, 7, 9, 11},
        {0, 2, 4, 5, 7, 9, 10},
        {0, 2, 3, 5, 7, 8, 10},
        {0, 1, 3, 5, 6, 8, 10},
        {0, 2, 4, 7, 9},
        {0, 3, 5, 7, 10},
        {0, 2, 4, 6, 8, 10},
        {0, 2, 3, 5, 6, 8, 9, 11},
        {0, 1, 3, 4, 6, 7, 9, 10},
        {0, 1, 3, 4, 6, 8, 10},
        {0, 2, 3, 4, 7, 9},
        {0, 3, 5, 6, 7, 10},
        {0, 1, 4, 5, 7, 8, 11},
        {0, 1, 4, 6, 7, 9, 11},
        {0, 1, 3, 6, 7, 8, 11},
        {0, 2, 3, 7, 9},
        {0, 4, 5, 7, 11},
        {0, 1, 5, 7, 8},
        {0, 2, 3, 5, 7, 8, 11},
    };
    ASSERT_EQ (kept.size(), (std::size_t)kScaleTypeCount);
    for (int type = 0; type < kScaleTypeCount; ++type)
    {
        SCOPED_TRACE (type);
        std::vector<int> keeps;
        for (int pitchClass = 0; pitchClass < 12; ++pitchClass)
        {
            const int action = (kScaleCodes[type] >> (2 * pitchClass)) & 3;
            if (action == 0)
            {
                keeps.push_back (pitchClass);
                continue;
            }
            const int target = (pitchClass + kScaleShifts[action] + 12) % 12;
            EXPECT_EQ ((kScaleCodes[type] >> (2 * target)) & 3, 0u) << "class " << pitchClass;
        }
        EXPECT_EQ (keeps, kept[(std::size_t)type]);
    }
}

namespace
{

PatternRecord arpeggioPattern (std::initializer_list<int> held, uint32_t mode, uint8_t octaves)
{
    PatternRecord pattern = emptyPattern();
    for (int note : held)
        addNote (pattern, 0, 0, note, 511);
    pattern.settings.arpEnabled = 1;
    pattern.settings.arpMode = mode;
    pattern.settings.arpOctaves = octaves;
    pattern.settings.arpRate = 5; // one step
    pattern.settings.arpGate = 100;
    return pattern;
}

} // namespace

TEST (EngineArpeggiator, ModesWalkTheHeldNotesAndOctaves)
{
    struct Case
    {
        const char* name;
        PatternRecord pattern;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"up", arpeggioPattern ({60, 64}, 0, 2), {60, 64, 72, 76, 60, 64, 72, 76}},
        // The first choice finds nothing below "none" and wraps: the octave moves on first.
        {"down", arpeggioPattern ({60, 64}, 1, 2), {76, 72, 64, 60, 76, 72, 64, 60}},
        // Each end once; the octave moves on where the descent reaches the lowest note.
        {"up and down", arpeggioPattern ({60, 64, 67}, 2, 2), {60, 64, 67, 64, 72, 76, 79, 76}},
        {"up and down with two notes", arpeggioPattern ({60, 64}, 2, 1), {60, 64, 60, 64, 60, 64, 60, 64}},
        // The generator from 1: 41, 18467 -> note 1, octave 1; 6334, 26500 -> 0, 0; 19169, 15724 -> 1, 0 ...
        {"random", arpeggioPattern ({60, 64}, 3, 2), {76, 60, 64, 60, 60, 76, 76, 76}},
        {"no octave range counts as one", arpeggioPattern ({60, 64}, 0, 0), {60, 64, 60, 64, 60, 64, 60, 64}},
        {"octaves beyond the notes", arpeggioPattern ({120}, 0, 3), {120, 120, 120, 120, 120, 120, 120, 120}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.name);
        std::vector<NoteStart> starts;
        // A fresh thread, so that the random mode's generator starts at 1.
        onFreshThread ([&] { starts = noteStarts (*render (c.pattern, 1), 8); });
        std::vector<NoteStart> expected;
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            expected.push_back ({(int)i, 0, c.expected[i]});
        EXPECT_EQ (starts, expected);
    }
}

TEST (EngineArpeggiator, DownStartsAnOctaveUpWhenThereAreTwo)
{
    // One held note, 69, struck at step 15, going down over two octaves: the
    // first choice wraps from "none", takes the highest note and moves the
    // octave on, so the first arpeggiated note is 81.
    PatternRecord pattern = arpeggioPattern ({}, 1, 2);
    addNote (pattern, 15, 0, 69, 511);
    EXPECT_EQ (noteStarts (*render (pattern, 1)), (std::vector<NoteStart>{{15, 0, 81}}));

    // With one octave there is nothing to move on to.
    pattern.settings.arpOctaves = 1;
    EXPECT_EQ (noteStarts (*render (pattern, 1)), (std::vector<NoteStart>{{15, 0, 69}}));
}

TEST (EngineArpeggiator, RatesFireOnTheirGrid)
{
    struct Case
    {
        uint32_t rate;
        std::vector<NoteStart> expected; // the first four
    };
    const Case cases[] = {
        {5, {{0, 0, 60}, {1, 0, 60}, {2, 0, 60}, {3, 0, 60}}},
        {7, {{0, 0, 60}, {0, 3, 60}, {1, 0, 60}, {1, 3, 60}}}, // every half step
        {6, {{0, 0, 60}, {0, 4, 60}, {1, 2, 60}, {2, 0, 60}}}, // every 2/3 step
        {4, {{0, 0, 60}, {1, 2, 60}, {2, 4, 60}, {4, 0, 60}}}, // every 4/3 steps
        {3, {{0, 0, 60}, {2, 0, 60}, {4, 0, 60}, {6, 0, 60}}},
        {1, {{0, 0, 60}, {4, 0, 60}, {8, 0, 60}, {12, 0, 60}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE ((int)c.rate);
        PatternRecord pattern = arpeggioPattern ({60}, 0, 1);
        pattern.settings.arpRate = c.rate;
        const auto starts = noteStarts (*render (pattern, 1));
        ASSERT_GE (starts.size(), 4u);
        EXPECT_EQ (std::vector<NoteStart> (starts.begin(), starts.begin() + 4), c.expected);
    }
}

TEST (EngineArpeggiator, GateIsAShareOfTheTimeToTheNextNote)
{
    for (const auto& [gate, length] : std::vector<std::pair<int, int>>{{100, 7}, {50, 3}, {25, 1}})
    {
        SCOPED_TRACE (gate);
        PatternRecord pattern = arpeggioPattern ({60}, 0, 1);
        pattern.settings.arpGate = (uint8_t)gate;
        std::vector<RenderedNote> expected;
        for (int step = 0; step < 16; ++step)
            expected.push_back ({step, 0, 60, 100, length});
        EXPECT_EQ (renderedNotes (*render (pattern, 1)), expected);
    }
}

TEST (EngineArpeggiator, CaptureEndsTheNoteHeldByAnOpenGate)
{
    // At a quarter speed an 8-step arpeggio note would sound for 32 master steps, past the end of the render.
    PatternRecord pattern = arpeggioPattern ({60}, 0, 1);
    pattern.settings.arpRate = 0;
    pattern.block.speed = 0;
    EXPECT_EQ (renderedNotes (*render (pattern, 1)), (std::vector<RenderedNote>{{0, 0, 60, 100, 127}}));
}

} // namespace korva
