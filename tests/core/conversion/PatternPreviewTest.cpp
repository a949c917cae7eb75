// The preview read back from MIDI files: the notes and controllers it finds,
// its summary, its text piano roll, and its refusal of broken files.

#include "core/conversion/PatternPreview.h"
#include "core/midi/MidiFileWriter.h"
#include "tests/core/midi/MidiTestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

namespace
{

PatternPreview previewOf (const Bytes& file, int bars)
{
    PatternPreview preview;
    EXPECT_TRUE (preview.read (file.data(), file.size(), bars));
    return preview;
}

} // namespace

TEST (PatternPreview, ReadsNotesAndControllersOfAFile)
{
    struct Case
    {
        const char* name;
        TrackBytes track;
        int bars;
        std::vector<PreviewNote> notes;
        std::vector<int> controllers;
    };
    const Case cases[] = {
        {"a note-on of velocity 0 ends a note; controllers each once, ascending",
         TrackBytes()
             .controller (0, 74, 1)
             .noteOn (0, 60, 90)
             .controller (120, 7, 3)
             .controller (240, 74, 9)
             .at (240, {0x90, 60, 0}),
         1,
         {{60, 0, 240, 90}},
         {7, 74}},
        {"overlapping notes of one pitch end in the order they began",
         TrackBytes().noteOn (0, 62, 10).noteOn (60, 62, 20).noteOff (100, 62).noteOff (500, 62),
         1,
         {{62, 0, 100, 10}, {62, 60, 440, 20}},
         {}},
        {"running status, and a note never released lasts to the end of the bars",
         TrackBytes().noteOn (0, 64, 50).raw ({0x00, 67, 70}).noteOff (30, 64).endOfTrack (40),
         2,
         {{64, 0, 30, 50}, {67, 0, 3840, 70}},
         {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE (c.name);
        const PatternPreview preview = previewOf (midiFile ({c.track}), c.bars);
        EXPECT_EQ (preview.getNotes(), c.notes);
        EXPECT_EQ (preview.getControllers(), c.controllers);
        EXPECT_EQ (preview.getBarCount(), c.bars);
    }

    // Sorted by start, then pitch.
    const PatternPreview sorted =
        previewOf (midiFile ({TrackBytes().noteOn (0, 70).noteOn (120, 50).noteOn (120, 40).endOfTrack (1920)}), 1);
    const std::vector<PreviewNote> expected{{70, 0, 1920, 100}, {40, 120, 1800, 100}, {50, 120, 1800, 100}};
    EXPECT_EQ (sorted.getNotes(), expected);
    EXPECT_EQ (sorted.getLowestNote(), 40);
    EXPECT_EQ (sorted.getHighestNote(), 70);
    EXPECT_EQ (sorted.range (true), "E2 - A#4");
}

TEST (PatternPreview, ReadsTheWritersFileNoteForNote)
{
    auto rendered = blankRender();
    putNote (*rendered, 0, 0, 60, 7, 90);   // a step long
    putNote (*rendered, 5, 3, 64, 15, 127); // half a step late, two steps long
    putNote (*rendered, 63, 5, 36, 31);     // cut at the end of the fourth bar
    putController (*rendered, 2, 1, 33);
    putController (*rendered, 9, 4, 1);
    const Bytes file = buildMidiFile (*rendered, 4, CcNumbers{1, 74, 0, 0, 11});

    const PatternPreview preview = previewOf (file, 4);
    const std::vector<PreviewNote> expected{{60, 0, 120, 90}, {64, 660, 240, 127}, {36, 63 * 120 + 100, 20, 100}};
    EXPECT_EQ (preview.getNotes(), expected);
    EXPECT_EQ (preview.getControllers(), (std::vector<int>{11, 74}));
    EXPECT_EQ (preview.summary(), "4 bars \u00B7 3 notes \u00B7 2 controller lanes");
}

TEST (PatternPreview, SummaryCountsInWords)
{
    struct Case
    {
        TrackBytes track;
        int bars;
        const char* summary;
    };
    const Case cases[] = {
        {TrackBytes().controller (0, 1, 1).noteOn (0, 60).noteOff (10, 60), 1, "1 bar - 1 note - 1 controller lane"},
        {TrackBytes().endOfTrack (0), 32, "32 bars - 0 notes - 0 controller lanes"},
        // Without a bar count the file's length decides.
        {TrackBytes().noteOn (0, 60).noteOn (0, 61).noteOff (1921, 60).noteOff (1921, 61), 0,
         "2 bars - 2 notes - 0 controller lanes"},
    };
    for (const Case& c : cases)
        EXPECT_EQ (previewOf (midiFile ({c.track}), c.bars).summary (true), c.summary);
}

TEST (PatternPreview, RefusesBrokenFilesWithoutReadingPastThem)
{
    const Bytes good = midiFile ({TrackBytes()
                                      .noteOn (0, 60)
                                      .controller (5, 7, 1)
                                      .at (6, {0xFF, 0x03, 2, 'a', 'b'})
                                      .noteOff (10, 60)
                                      .endOfTrack (20)});
    PatternPreview preview;
    ASSERT_TRUE (preview.read (good.data(), good.size(), 1));

    // Every cut of the file either reads or is refused; the sanitizers see any
    // read beyond the cut, which is copied into a buffer of its own size.
    for (std::size_t size = 0; size < good.size(); ++size)
    {
        const Bytes cut (good.begin(), good.begin() + (long)size);
        preview.read (cut.data(), cut.size(), 1);
        EXPECT_LE (preview.getNotes().size(), 1u);
    }

    const Bytes refused[] = {
        {},
        {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0},                   // division 0
        {'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 1, 0xE0},                // not a MIDI file
        midiFile ({TrackBytes().raw ({0x00, 60, 100})}),                      // data without a status
        midiFile ({TrackBytes().raw ({0x80, 0x80, 0x80, 0x80, 0x00, 0x90})}), // a five-byte delta
        midiFile ({TrackBytes().raw ({0x00, 0xFF, 0x01, 0x7F, 'x'})}),        // a meta event longer than its track
        midiFile ({TrackBytes().raw ({0x00, 0x90, 60})}),                     // a note cut short
        {'M', 'T', 'h', 'd', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 1, 0xE0},    // a header longer than the file
    };
    for (const Bytes& file : refused)
    {
        EXPECT_FALSE (preview.read (file.data(), file.size(), 1));
        EXPECT_TRUE (preview.getNotes().empty());
        EXPECT_EQ (preview.getBarCount(), 0);
    }
}

TEST (PatternPreview, DrawsAPianoRollOfTheGivenWidth)
{
    // Two bars of 480 ticks (division 120): at width 24, eight columns of 60
    // ticks a bar.
    const Bytes file = midiFile ({TrackBytes()
                                      .noteOn (0, 62)
                                      .noteOff (120, 62)
                                      .noteOn (120, 60)
                                      .noteOn (480, 61)
                                      .noteOff (510, 61)
                                      .noteOff (900, 60)
                                      .controller (900, 10, 1)},
                                 120);
    const PatternPreview preview = previewOf (file, 2);

    const std::vector<std::string> ascii{
        "     1        2",
        "D4   |#=......|........|",
        "C#4  |........|#.......|",
        "C4   |..#=====|=======.|",
        "2 bars - 3 notes - 1 controller lane",
    };
    EXPECT_EQ (renderPianoRoll (preview, 24, true), ascii);

    // Block characters otherwise; a width too narrow still gives a column a bar.
    const std::vector<std::string> narrow = renderPianoRoll (preview, 3, false);
    ASSERT_EQ (narrow.size(), 5u);
    EXPECT_EQ (narrow[1], "D4   \u2502\u2588\u2502 \u2502");
    EXPECT_EQ (narrow[3], "C4   \u2502\u2588\u2502\u2592\u2502");
    EXPECT_EQ (narrow[4], "2 bars \u00B7 3 notes \u00B7 1 controller lane");

    // Without notes: the bar numbers and the summary.
    const PatternPreview empty = previewOf (midiFile ({TrackBytes().endOfTrack (0)}), 1);
    EXPECT_EQ (renderPianoRoll (empty, 20, true),
               (std::vector<std::string>{"     1", "1 bar - 0 notes - 0 controller lanes"}));
}

} // namespace korva
