#include "core/midi/MidiFileWriter.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva;
using namespace korva::test;

namespace
{

constexpr CcNumbers kNoControllers{};

std::vector<MidiEvent> eventsOf (const engine::RenderedSteps& rendered, int bars, const CcNumbers& cc = kNoControllers)
{
    return parseWrittenFile (buildMidiFile (rendered, bars, cc));
}

} // namespace

TEST (MidiFileWriter, EmptyRenderIsHeaderAndEndOfTrackOnly)
{
    const Bytes expected{'M',  'T', 'h', 'd', 0,   0, 0, 6, 0, 0,    0,    1,    0x01,
                         0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 4, 0x00, 0xFF, 0x2F, 0x00};
    for (int bars : {1, 4, 32})
        EXPECT_EQ (buildMidiFile (*blankRender(), bars, kNoControllers), expected) << bars << " bars";
}

TEST (MidiFileWriter, OneStepNoteIsOnAndOffOneHundredTwentyTicksApart)
{
    auto rendered = blankRender();
    putNote (*rendered, 0, 0, 60, 7, 100);

    const Bytes file = buildMidiFile (*rendered, 1, kNoControllers);
    const Bytes events (file.begin() + 22, file.end());
    EXPECT_EQ (events, (Bytes{0x00, 0x90, 0x3C, 0x64, 0x78, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00}));
    EXPECT_EQ (file[21], 12);
}

TEST (MidiFileWriter, NoteTimesFollowStepsSubPositionsAndEighths)
{
    auto rendered = blankRender();
    putNote (*rendered, 3, 5, 64, 0);   // sub-position 5 of step 3, one eighth
    putNote (*rendered, 20, 2, 67, 15); // two steps
    putNote (*rendered, 63, 0, 70, 3);

    EXPECT_EQ (eventsOf (*rendered, 4), (std::vector<MidiEvent>{
                                            {3 * 120 + 100, 0x90, 64, 100},
                                            {3 * 120 + 100 + 15, 0x80, 64, 0},
                                            {20 * 120 + 40, 0x90, 67, 100},
                                            {20 * 120 + 40 + 240, 0x80, 67, 0},
                                            {63 * 120, 0x90, 70, 100},
                                            {63 * 120 + 60, 0x80, 70, 0},
                                        }));
}

TEST (MidiFileWriter, NoteRunningPastTheLastBarIsCutThere)
{
    auto rendered = blankRender();
    putNote (*rendered, 14, 0, 60, 63); // 8 steps long, in a 1-bar file
    putNote (*rendered, 16, 0, 62, 7);  // bar 2: not part of a 1-bar file

    EXPECT_EQ (eventsOf (*rendered, 1), (std::vector<MidiEvent>{{14 * 120, 0x90, 60, 100}, {16 * 120, 0x80, 60, 0}}));
}

TEST (MidiFileWriter, NoteStruckAgainWhileSoundingIsReleasedFirst)
{
    auto rendered = blankRender();
    putNote (*rendered, 0, 0, 60, 31, 90); // four steps
    putNote (*rendered, 1, 0, 60, 7, 80);
    putNote (*rendered, 2, 0, 62, 7);
    putNote (*rendered, 3, 0, 62, 7); // ends exactly where the next starts

    EXPECT_EQ (eventsOf (*rendered, 1), (std::vector<MidiEvent>{
                                            {0, 0x90, 60, 90},
                                            {120, 0x80, 60, 0},
                                            {120, 0x90, 60, 80},
                                            {240, 0x80, 60, 0},
                                            {240, 0x90, 62, 100},
                                            {360, 0x80, 62, 0},
                                            {360, 0x90, 62, 100},
                                            {480, 0x80, 62, 0},
                                        }));
}

TEST (MidiFileWriter, ControllersComeFirstInTheirStepWithTheLanesNumbers)
{
    auto rendered = blankRender();
    putNote (*rendered, 2, 0, 60, 7);
    putController (*rendered, 2, 4, 99);
    putController (*rendered, 2, 0, 10);
    putController (*rendered, 5, 1, 127);

    const CcNumbers numbers{7, 74, 1, 1, 11};
    EXPECT_EQ (eventsOf (*rendered, 1, numbers), (std::vector<MidiEvent>{
                                                     {240, 0xB0, 7, 10},
                                                     {240, 0xB0, 11, 99},
                                                     {240, 0x90, 60, 100},
                                                     {360, 0x80, 60, 0},
                                                     {600, 0xB0, 74, 127},
                                                 }));
    // Before any pattern information every lane sends controller 0.
    EXPECT_EQ (eventsOf (*rendered, 1).front(), (MidiEvent{240, 0xB0, 0, 10}));
}

TEST (MidiFileWriter, BytesThatAreNotMidiDataNeverReachTheFile)
{
    auto rendered = blankRender();
    putNote (*rendered, 0, 0, 60, 7, 200);
    putController (*rendered, 0, 0, 5);
    putController (*rendered, 0, 1, 6);

    // Lane 0's number is no MIDI controller; the velocity is more than MIDI carries.
    EXPECT_EQ (eventsOf (*rendered, 1, {200, 3, 0, 0, 0}),
               (std::vector<MidiEvent>{{0, 0xB0, 3, 6}, {0, 0x90, 60, 127}, {120, 0x80, 60, 0}}));
}

TEST (MidiFileWriter, ThirtyTwoBarDeltasSpanSilentSteps)
{
    auto rendered = blankRender();
    putNote (*rendered, 0, 0, 60, 0);
    putNote (*rendered, 511, 5, 61, 7); // the last step, ended by the end of the file

    const Bytes file = buildMidiFile (*rendered, 32, kNoControllers);
    EXPECT_EQ (eventsOf (*rendered, 32), (std::vector<MidiEvent>{
                                             {0, 0x90, 60, 100},
                                             {15, 0x80, 60, 0},
                                             {511 * 120 + 100, 0x90, 61, 100},
                                             {512 * 120, 0x80, 61, 0},
                                         }));
    // 61405 ticks after the first note off: three bytes, 0x83 0xDF 0x5D.
    const Bytes gap{0x83, 0xDF, 0x5D, 0x90, 61, 100};
    EXPECT_NE (std::search (file.begin(), file.end(), gap.begin(), gap.end()), file.end());
}

TEST (MidiFileWriter, DenseThirtyTwoBarsAreWrittenWhole)
{
    // 8 notes and 5 controllers on every one of 512 steps: more event bytes than
    // the 41360 the track buffer starts with.
    auto rendered = blankRender();
    for (int step = 0; step < 512; ++step)
    {
        for (int slot = 0; slot < kSlotCount; ++slot)
            putNote (*rendered, step, slot % kSubPositionCount, 40 + slot * 5 + step % 3, 0);
        for (int lane = 0; lane < kLaneCount; ++lane)
            putController (*rendered, step, lane, (step + lane) % 128);
    }

    const Bytes file = buildMidiFile (*rendered, 32, {1, 2, 3, 4, 5});
    EXPECT_GT (file.size(), 22u + 41360u);
    const std::vector<MidiEvent> events = parseWrittenFile (file);
    ASSERT_EQ (events.size(), 512u * (5 + 8 + 8));
    EXPECT_EQ (events.back().tick, 511u * 120 + 100 + 15);
}

TEST (MidiFileWriter, WriteReplacesTheFileOrReportsWhyItCouldNot)
{
    TempFolder folder;
    auto rendered = blankRender();
    putNote (*rendered, 0, 0, 60, 7);
    const Bytes expected = buildMidiFile (*rendered, 1, kNoControllers);

    const juce::File file = folder / "out.mid";
    ASSERT_TRUE (file.replaceWithText (std::string (5000, 'x')));
    ASSERT_TRUE (writeMidiFile (*rendered, 1, kNoControllers, file));
    juce::MemoryBlock written;
    ASSERT_TRUE (file.loadFileAsData (written));
    EXPECT_EQ (Bytes ((const uint8_t*)written.getData(), (const uint8_t*)written.getData() + written.getSize()),
               expected);

    // A folder with something in it cannot be deleted to make way for the file.
    const juce::File busy = folder / "busy.mid";
    ASSERT_TRUE (busy.getChildFile ("inside").create().wasOk());
    EXPECT_FALSE (writeMidiFile (*rendered, 1, kNoControllers, busy));
    EXPECT_TRUE (busy.getChildFile ("inside").existsAsFile());

    // A file below a plain file cannot be created.
    const juce::File blocked = (folder / "plain").getChildFile ("out.mid");
    ASSERT_TRUE ((folder / "plain").replaceWithText ("not a folder"));
    EXPECT_FALSE (writeMidiFile (*rendered, 1, kNoControllers, blocked));
}

} // namespace korva
