// Random mutations of valid MIDI files fed to the reader: it must never read or
// write outside the file or the pattern (AddressSanitizer watches the asan
// build), and whatever it accepts must leave a pattern the device can take.
// Reading with a fit report must give the same record, and the report must add
// up. The seed and the number of mutations are fixed, so a failure repeats.

#include "core/midi/MidiFileReader.h"
#include "core/midi/MidiFileWriter.h"
#include "tests/core/midi/MidiTestSupport.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace korva
{

using namespace korva;
using namespace korva::test;

namespace
{

constexpr int kMutations = 60000;
constexpr std::size_t kMaxInputSize = 1 << 16;

std::vector<Bytes> seedFiles()
{
    std::vector<Bytes> seeds;

    auto rendered = blankRender();
    for (int step = 0; step < 64; step += 3)
    {
        putNote (*rendered, step, step % 6, 40 + step % 30, step % 20);
        putNote (*rendered, step, (step + 2) % 6, 70 - step % 20, 3, 30);
        putController (*rendered, step, step % 5, step * 2);
    }
    seeds.push_back (buildMidiFile (*rendered, 4, {1, 7, 10, 11, 74}));

    TrackBytes tempo;
    tempo.at (0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}).controller (240, 7, 64).endOfTrack (480);
    TrackBytes notes;
    notes.at (0, {0xF0, 0x03, 0x43, 0x12, 0xF7})
        .noteOn (120, 60)
        .raw ({0x10, 64, 90, 0x20, 60, 0})
        .at (400, {0xE0, 0, 64})
        .at (500, {0xC1, 3})
        .noteOff (2000, 64)
        .noteOn (7000, 30)
        .endOfTrack (9000);
    seeds.push_back (midiFile ({tempo, notes, TrackBytes().noteOn (0, 50).endOfTrack (10)}));

    TrackBytes chords;
    for (uint32_t tick = 0; tick < 64 * 120; tick += 40)
    {
        for (int n = 0; n < 10; ++n)
            chords.noteOn (tick, 30 + n * 7, 1 + n * 12);
        for (int n = 0; n < 10; ++n)
            chords.at (tick + 30, {0x90, 30 + n * 7, 0});
    }
    seeds.push_back (midiFile ({chords.endOfTrack (64 * 120)}, 96));
    return seeds;
}

Bytes mutate (const Bytes& seed, std::mt19937& random)
{
    Bytes b = seed;
    auto pick = [&] (std::size_t n) { return n == 0 ? 0 : (std::size_t) (random() % n); };
    static const uint8_t interesting[] = {0x00, 0x01, 0x03, 0x2F, 0x7F, 0x80, 0x81, 0x8F, 0x90,
                                          0xB0, 0xF0, 0xF1, 0xF7, 0xFE, 0xFF, 0xE7, 0x40};

    const int edits = 1 + (int)(random() % 6);
    for (int e = 0; e < edits && !b.empty(); ++e)
    {
        switch (random() % 8)
        {
            case 0: // flip a bit
                b[pick (b.size())] ^= (uint8_t)(1u << (random() % 8));
                break;
            case 1: // an interesting byte
                b[pick (b.size())] = interesting[pick (sizeof (interesting))];
                break;
            case 2: // a random byte
                b[pick (b.size())] = (uint8_t)random();
                break;
            case 3: // cut the file short
                b.resize (pick (b.size() + 1));
                break;
            case 4: // remove a few bytes
            {
                const std::size_t at = pick (b.size());
                b.erase (b.begin() + (long)at, b.begin() + (long)std::min (b.size(), at + 1 + pick (8)));
                break;
            }
            case 5: // insert a few bytes
            {
                const std::size_t at = pick (b.size() + 1);
                Bytes extra (1 + pick (8));
                for (uint8_t& x : extra)
                    x = random() % 2 ? interesting[pick (sizeof (interesting))] : (uint8_t)random();
                b.insert (b.begin() + (long)at, extra.begin(), extra.end());
                break;
            }
            case 6: // a header field: track count, division or a chunk length
            {
                static const std::size_t fields[] = {10, 11, 12, 13, 18, 19, 20, 21};
                const std::size_t at = fields[pick (8)];
                if (at < b.size())
                    b[at] = random() % 2 ? interesting[pick (sizeof (interesting))] : (uint8_t)random();
                break;
            }
            default: // repeat a stretch
            {
                const std::size_t at = pick (b.size());
                const std::size_t length = std::min (b.size() - at, 1 + pick (32));
                const Bytes stretch (b.begin() + (long)at, b.begin() + (long)(at + length));
                b.insert (b.begin() + (long)pick (b.size() + 1), stretch.begin(), stretch.end());
                break;
            }
        }
    }
    if (b.size() > kMaxInputSize)
        b.resize (kMaxInputSize);
    return b;
}

// What an accepted file may have changed: only the notes and controllers of
// the steps within the bars taken, and the bar count.
void expectPatternTheDeviceCanTake (const PatternRecord& record, const PatternRecord& empty, int bars)
{
    ASSERT_EQ (record.block.barCount, bars);
    EXPECT_EQ (std::memcmp (&record.settings, &empty.settings, sizeof (empty.settings)), 0);
    EXPECT_EQ (std::memcmp (record.block.stepMotion, empty.block.stepMotion, sizeof (empty.block.stepMotion)), 0);
    for (int step = 0; step < kStepCount; ++step)
    {
        SCOPED_TRACE (step);
        const bool taken = step < bars * kStepsPerBar;
        if (!taken)
        {
            EXPECT_EQ (record.block.steps[step], empty.block.steps[step]);
            EXPECT_EQ (std::memcmp (record.block.notes[step], empty.block.notes[step], sizeof (empty.block.notes[0])),
                       0);
            EXPECT_EQ (std::memcmp (record.block.ccValues[step], empty.block.ccValues[step], kLaneCount), 0);
            continue;
        }
        uint8_t starts = 0;
        for (int k = 0; k < kSubPositionCount; ++k)
            starts |= record.block.subPositionMasks[step][k];
        if (stepNoteMask (record.block, step) != 0)
        {
            EXPECT_EQ (starts, stepNoteMask (record.block, step));
        }
        for (const NoteSlot& slot : record.block.notes[step])
        {
            EXPECT_LE (slot.note, 127);
            EXPECT_LE (slot.length, kMaxNoteLength);
        }
        for (int lane = 0; lane < kLaneCount; ++lane)
            EXPECT_LE (record.block.ccValues[step][lane], 127);
    }
}

// The report adds up, and its kept notes are the notes of the pattern.
void expectReportMatchesRecord (const MidiFitReport& report, const PatternRecord& record, const PatternRecord& empty)
{
    int notesInPattern = 0;
    for (int step = 0; step < kStepCount; ++step)
        notesInPattern += __builtin_popcount (stepNoteMask (record.block, step)) -
                          __builtin_popcount (stepNoteMask (empty.block, step));
    EXPECT_EQ (report.notesKept, notesInPattern);
    EXPECT_EQ (report.notesSeen, report.notesKept + report.notesLost());
    EXPECT_EQ (report.controllersSeen, report.controllersKept + report.controllersLost());
    for (const FitLoss& loss : report.losses)
    {
        EXPECT_EQ ((int)loss.examples.size(), std::min (loss.count, kFitExampleCount));
        for (const FitExample& example : loss.examples)
        {
            EXPECT_GE (example.bar, 1);
            EXPECT_TRUE (example.step >= 1 && example.step <= kStepsPerBar) << example.step;
            EXPECT_TRUE (example.subPosition >= 1 && example.subPosition <= kSubPositionCount) << example.subPosition;
            // The number the file gave: a data byte, which may have its top bit set.
            EXPECT_TRUE (example.number >= 0 && example.number <= 255) << example.number;
        }
    }
}

} // namespace

TEST (MidiFileReaderFuzz, MutatedFilesAreReadSafely)
{
    const std::vector<Bytes> seeds = seedFiles();
    const CcNumbers cc{1, 7, 10, 11, 74};
    PatternRecord empty;
    makeEmptyPattern (empty);
    auto record = std::make_unique<PatternRecord>();
    auto reported = std::make_unique<PatternRecord>();

    for (const Bytes& seed : seeds)
    {
        *record = empty;
        ASSERT_TRUE (readMidiFile (seed.data(), seed.size(), 4, cc, *record));
    }

    std::mt19937 random (0x4B4F5256);
    int accepted = 0;
    for (int i = 0; i < kMutations && !HasFailure(); ++i)
    {
        const Bytes input = mutate (seeds[(std::size_t)i % seeds.size()], random);
        const int bars = 1 << (random() % 3);

        // An exactly sized allocation: one byte read too far is out of bounds.
        std::unique_ptr<uint8_t[]> bytes (new uint8_t[std::max<std::size_t> (input.size(), 1)]);
        std::memcpy (bytes.get(), input.data(), input.size());
        *record = empty;
        const MidiReadResult plain = readMidiFile (bytes.get(), input.size(), bars, cc, *record);
        const bool read = plain.ok;
        // A refusal always says why; an acceptance says nothing.
        ASSERT_EQ (plain.reason.isEmpty(), read) << i << ": " << plain.reason;
        ASSERT_FALSE (plain.reason.contains ("was refused")) << i << ": " << plain.reason;

        // Asking for a report changes nothing the reader does.
        *reported = empty;
        MidiFitReport report;
        const MidiReadResult withReport = readMidiFile (bytes.get(), input.size(), bars, cc, *reported, &report);
        ASSERT_EQ (withReport.ok, read) << i;
        ASSERT_EQ (withReport.reason, plain.reason) << i;
        ASSERT_EQ (report.read, read) << i;
        ASSERT_EQ (std::memcmp (record.get(), reported.get(), sizeof (PatternRecord)), 0) << i;
        if (!read)
            continue;

        ++accepted;
        SCOPED_TRACE (i);
        expectPatternTheDeviceCanTake (*record, empty, bars);
        expectReportMatchesRecord (report, *record, empty);
    }
    RecordProperty ("accepted", accepted);
    // Both sides of the reader were exercised.
    EXPECT_GT (accepted, kMutations / 20);
    EXPECT_LT (accepted, kMutations - kMutations / 20);
}

} // namespace korva
