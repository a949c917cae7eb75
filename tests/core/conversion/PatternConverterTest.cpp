// The two conversions end to end: payload to MIDI file through the engine, MIDI
// file to payload through the reader, and back.

#include "core/conversion/PatternConverter.h"
#include "core/midi/MidiFileReader.h"
#include "tests/core/engine/EngineTestSupport.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace korva
{

using namespace korva;
using namespace korva::test;

namespace
{

PatternPayload payloadOf (const PatternRecord& record)
{
    PatternPayload payload;
    encodePattern (record, payload);
    return payload;
}

Bytes fileBytes (const juce::File& file)
{
    juce::MemoryBlock data;
    EXPECT_TRUE (file.loadFileAsData (data));
    const auto* p = static_cast<const uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

// Renders a pattern through the conversion and returns the events of the file.
std::vector<MidiEvent> convertedEvents (const PatternRecord& record, int bars, const PatternInfo& info = {})
{
    TempFolder folder;
    const juce::File file = folder / "out.mid";
    const PatternPayload payload = payloadOf (record);
    EXPECT_EQ (convertPatternToMidiFile (payload.data(), payload.size(), info, bars, file), kMidiFileWritten);
    return parseWrittenFile (fileBytes (file));
}

std::unique_ptr<PatternRecord> decoded (const PatternPayload& payload)
{
    auto record = std::make_unique<PatternRecord>();
    EXPECT_EQ (decodePattern (payload.data(), payload.size(), *record), kDecodeOk);
    return record;
}

} // namespace

TEST (PatternConverter, PatternToMidiReportsEachOutcome)
{
    TempFolder folder;
    const PatternPayload good = payloadOf (numberedPattern (1));

    auto convert = [&] (const PatternPayload& payload, std::size_t size, int bars, const juce::File& file)
    { return convertPatternToMidiFile (payload.data(), size, PatternInfo{}, bars, file); };

    PatternPayload older = good;
    older[3] = '2';
    PatternPayload newer = good;
    newer[3] = '4';
    ASSERT_TRUE ((folder / "plain").replaceWithText ("not a folder"));
    const juce::File unwritable = (folder / "plain").getChildFile ("out.mid");

    EXPECT_EQ (convert (good, good.size(), 1, folder / "a.mid"), kMidiFileWritten);
    EXPECT_EQ (convert (older, older.size(), 1, folder / "b.mid"), kPatternFormatOlder);
    EXPECT_EQ (convert (newer, newer.size(), 1, folder / "c.mid"), kPatternFormatNewer);
    EXPECT_EQ (convert (good, 100, 1, folder / "d.mid"), kRenderNotFinished);
    EXPECT_EQ (convert (good, good.size(), 33, folder / "e.mid"), kRenderNotFinished);
    EXPECT_EQ (convert (good, good.size(), 1, unwritable), kMidiFileNotWritten);

    EXPECT_TRUE ((folder / "a.mid").existsAsFile());
    for (const char* name : {"b.mid", "c.mid", "d.mid", "e.mid"})
        EXPECT_FALSE ((folder / name).exists()) << name;
}

TEST (PatternConverter, PatternToMidiPlaysThePatternWithTheDevicesInformation)
{
    PatternRecord pattern = emptyPattern();
    addNote (pattern, 0, 0, 60, 7, 100);
    EXPECT_EQ (convertedEvents (pattern, 1), (std::vector<MidiEvent>{{0, 0x90, 60, 100}, {120, 0x80, 60, 0}}));

    // A chord step plays the chord slot of the pattern information; a lane
    // sends the controller number the information gives it.
    PatternRecord chord = emptyPattern();
    addNote (chord, 0, 0, 60, 3, 90);
    chord.block.steps[0] = stepword::withTag (chord.block.steps[0], 1);
    setStepCcValue (chord.block, 0, 2, 33);
    PatternInfo info;
    info.ccNumbers = {1, 2, 74, 4, 5};
    info.chordSlots = {0x4700, 0, 0, 0, 0, 0};

    const std::vector<MidiEvent> events = convertedEvents (chord, 1, info);
    EXPECT_EQ (events, (std::vector<MidiEvent>{
                           {0, 0xB0, 74, 33},
                           {0, 0x90, 60, 90},
                           {0, 0x90, 64, 90},
                           {0, 0x90, 67, 90},
                           {60, 0x80, 60, 0},
                           {60, 0x80, 64, 0},
                           {60, 0x80, 67, 0},
                       }));
}

TEST (PatternConverter, MidiToPatternStartsFromTheEmptyPattern)
{
    TempFolder folder;
    const Bytes midi =
        midiFile ({TrackBytes().noteOn (0, 62, 80).noteOff (60, 62).controller (120, 1, 7).endOfTrack (120)});
    const juce::File file = folder / "in.mid";
    ASSERT_TRUE (file.replaceWithData (midi.data(), midi.size()));

    PatternPayload payload;
    payload.fill (0xEE);
    ASSERT_TRUE (convertMidiFileToPattern (file, 2, {0, 1, 0, 0, 0}, payload));

    PatternRecord expected = emptyPattern();
    expected.block.barCount = 2;
    addNote (expected, 0, 0, 62, 3, 80);
    setStepCcValue (expected.block, 1, 1, 7);
    EXPECT_EQ (payload, payloadOf (expected));
    EXPECT_EQ (std::memcmp (payload.data(), "seq3", 4), 0);

    const juce::File broken = folder / "broken.mid";
    ASSERT_TRUE (broken.replaceWithData (midi.data(), 25));
    const PatternPayload converted = payload;
    const MidiReadResult cut = convertMidiFileToPattern (broken, 2, {}, payload);
    EXPECT_FALSE (cut);
    EXPECT_EQ (cut.reason, "the file ends after 25 bytes, before a header and one track (26 bytes): cut short?");
    EXPECT_EQ (convertMidiFileToPattern (folder / "missing.mid", 2, {}, payload).reason, "the file does not exist");
    EXPECT_EQ (payload, converted) << "a refused file leaves the payload alone";
}

// The notes of a file the writer made, as a pattern would hold them: a step
// is 120 ticks, a sub-position 20, an eighth 15.
std::vector<RenderedNote> notesInFile (const std::vector<MidiEvent>& events)
{
    std::vector<RenderedNote> notes;
    for (std::size_t i = 0; i < events.size(); ++i)
    {
        if (events[i].status != 0x90)
            continue;
        const auto off =
            std::find_if (events.begin() + (long)i, events.end(),
                          [&] (const MidiEvent& e) { return e.status == 0x80 && e.data1 == events[i].data1; });
        EXPECT_NE (off, events.end());
        const int start = (int)events[i].tick;
        notes.push_back (
            {start / 120, start % 120 / 20, events[i].data1, events[i].data2, ((int)off->tick - start) / 15 - 1});
    }
    std::sort (notes.begin(), notes.end(),
               [] (const RenderedNote& a, const RenderedNote& b)
               { return std::tie (a.step, a.subPosition, a.note) < std::tie (b.step, b.subPosition, b.note); });
    return notes;
}

// The notes of a pattern in the same order (by note number at one sub-position).
std::vector<RenderedNote> notesInPattern (const PatternRecord& pattern)
{
    auto steps = std::make_unique<RenderedSteps>();
    steps->blocks[0] = pattern.block;
    std::vector<RenderedNote> notes = renderedNotes (*steps, kStepCount);
    std::sort (notes.begin(), notes.end(),
               [] (const RenderedNote& a, const RenderedNote& b)
               { return std::tie (a.step, a.subPosition, a.note) < std::tie (b.step, b.subPosition, b.note); });
    return notes;
}

// A file made from a pattern reads back as exactly the notes and controller
// values written into it (at most 8 a step, none struck again while it
// sounds). Where the notes start on the grid of eighths (sub-positions 0 and 3)
// the pattern read back also renders to the same notes as the original; off
// the grid the engine measures lengths from its own ticks, which may differ
// from the written length by an eighth.
TEST (PatternConverter, RenderedFileReadsBackAsItsNotes)
{
    PatternInfo info;
    info.ccNumbers = {10, 11, 12, 13, 14};

    struct Trip
    {
        std::unique_ptr<PatternRecord> pattern;
        bool onTheGrid;
    };
    std::vector<Trip> trips;
    {
        auto p = std::make_unique<PatternRecord> (emptyPattern());
        p->block.barCount = 4;
        addNote (*p, 0, 0, 60, 7);
        addNote (*p, 0, 3, 64, 2, 70);
        addNote (*p, 5, 3, 67, 0, 127);
        addNote (*p, 17, 0, 48, 40, 1);
        addNote (*p, 33, 0, 72, 3);
        addNote (*p, 63, 3, 50, 30); // cut at the end of the last bar
        setStepCcValue (p->block, 2, 0, 100);
        setStepCcValue (p->block, 40, 4, 0);
        trips.push_back ({std::move (p), true});
    }
    for (bool onTheGrid : {false, true})
    {
        // Random notes, each over before its number comes back.
        std::mt19937 random (12345);
        auto p = std::make_unique<PatternRecord> (emptyPattern());
        p->block.barCount = 4;
        for (int step = 0; step < kStepCount; ++step)
        {
            const int count = (int)(random() % 9);
            for (int i = 0; i < count; ++i)
            {
                const int subPosition = onTheGrid ? 3 * (int)(random() % 2) : (int)(random() % 6);
                addNote (*p, step, subPosition, 24 + ((step * 8 + i) % 96), (int)(random() % 8),
                         1 + (int)(random() % 127));
            }
            if (random() % 3 == 0)
                setStepCcValue (p->block, step, (int)(random() % 5), (uint8_t)(random() % 128));
        }
        trips.push_back ({std::move (p), onTheGrid});
    }

    TempFolder folder;
    for (std::size_t i = 0; i < trips.size(); ++i)
    {
        SCOPED_TRACE (i);
        const PatternRecord& original = *trips[i].pattern;
        const PatternPayload payload = payloadOf (original);
        const juce::File midi = folder / ("trip" + juce::String ((int)i) + ".mid");
        // Both renders start with the same output track, so they agree to the tick.
        korva::engine::engineState().outputStartTrack = 0;
        ASSERT_EQ (convertPatternToMidiFile (payload.data(), payload.size(), info, 4, midi), kMidiFileWritten);
        PatternPayload readBack;
        ASSERT_TRUE (convertMidiFileToPattern (midi, 4, info.ccNumbers, readBack));
        const auto pattern = decoded (readBack);

        const std::vector<MidiEvent> events = parseWrittenFile (fileBytes (midi));
        const std::vector<RenderedNote> written = notesInFile (events);
        ASSERT_GT (written.size(), 5u);
        EXPECT_EQ (notesInPattern (*pattern), written);
        int controllers = 0;
        for (const MidiEvent& e : events)
        {
            if (e.status != 0xB0)
                continue;
            ++controllers;
            EXPECT_EQ (stepCcValue (pattern->block, (int)e.tick / 120, e.data1 - 10), e.data2);
        }
        int lanes = 0;
        for (int step = 0; step < kStepCount; ++step)
            lanes += juce::countNumberOfBits ((uint32_t)stepCcMask (pattern->block, step));
        EXPECT_EQ (lanes, controllers);

        if (trips[i].onTheGrid)
        {
            EXPECT_EQ (renderedNotes (*render (*pattern, 4), 64), renderedNotes (*render (original, 4), 64));
        }
    }
}

} // namespace korva
