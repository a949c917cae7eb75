// The korva tool run as a script runs it: the built executable, its exit
// status, its standard output and its one-line errors.

#include "core/conversion/PatternConverter.h"
#include "tests/core/engine/EngineTestSupport.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/ToolProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace korva
{

using namespace korva;
using namespace korva::test;

namespace
{

ProcessResult korvaTool (const std::vector<std::string>& args, const juce::File& workingFolder)
{
    // A home of the tests' own, where no KORVA is (fit without --info would
    // ask one) and nothing of the user's is touched.
    static TempFolder home;
    return runProcess (KORVA_TOOL_BINARY, args, workingFolder, 60000,
                       {{"HOME", home.get().getFullPathName().toStdString()},
                        {"XDG_CONFIG_HOME", (home / ".config").getFullPathName().toStdString()},
                        {"KORVA_VIRTUAL_DIR", (home / "no-devices").getFullPathName().toStdString()}});
}

void writeBytes (const juce::File& file, const void* data, std::size_t size)
{
    ASSERT_TRUE (file.replaceWithData (data, size)) << file.getFullPathName();
}

void writePattern (const juce::File& file, const PatternRecord& record)
{
    PatternPayload payload;
    encodePattern (record, payload);
    writeBytes (file, payload.data(), payload.size());
}

Bytes bytesOf (const juce::File& file)
{
    juce::MemoryBlock data;
    EXPECT_TRUE (file.loadFileAsData (data)) << file.getFullPathName();
    const auto* p = static_cast<const uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

// A pattern-information payload: track 1, pattern 2, the five controller
// numbers, and chord slot 0 = a major triad.
void writeInfo (const juce::File& file, std::array<int, 5> cc)
{
    Bytes info (kPatternInfoSize, 0);
    info[0] = 1;
    info[1] = 2;
    for (std::size_t i = 0; i < 5; ++i)
        info[2 + i] = (uint8_t)cc[i];
    info[8] = 0x47;
    writeBytes (file, info.data(), info.size());
}

int lineCount (const std::string& text)
{
    return (int)std::count (text.begin(), text.end(), '\n');
}

} // namespace

TEST (KorvaTool, HelpForTheToolAndEachCommand)
{
    TempFolder folder;
    const ProcessResult help = korvaTool ({"--help"}, folder.get());
    EXPECT_EQ (help.exitCode, 0);
    for (const char* command : {"render", "midi2pattern", "fit", "dump", "show", "devices", "projects", "pull", "push",
                                "rename", "delete", "rename-file", "pattern-info", "pull-pattern", "push-midi"})
    {
        EXPECT_NE (help.out.find (std::string ("  ") + command + " "), std::string::npos) << command;
        const ProcessResult commandHelp = korvaTool ({command, "--help"}, folder.get());
        EXPECT_EQ (commandHelp.exitCode, 0) << command;
        EXPECT_EQ (commandHelp.out.rfind (std::string ("Usage: korva ") + command, 0), 0u) << commandHelp.out;
        EXPECT_TRUE (commandHelp.err.empty());
    }
    EXPECT_NE (korvaTool ({"render", "-h"}, folder.get()).out.find ("--bars N"), std::string::npos);

    const ProcessResult nothing = korvaTool ({}, folder.get());
    EXPECT_EQ (nothing.exitCode, 2);
    EXPECT_NE (nothing.err.find ("Usage: korva COMMAND"), std::string::npos);

    struct Case
    {
        std::vector<std::string> args;
        const char* error;
    };
    const Case usageErrors[] = {
        {{"frobnicate"}, "korva: unknown command 'frobnicate' (see korva --help)\n"},
        {{"render", "p.bin"}, "korva render: the output file is missing (-o OUT.mid)\n"},
        {{"render", "p.bin", "-o", "x.mid", "--bars", "3"},
         "korva render: --bars must be one of 1, 2, 4, 8, 16, 32, not '3'\n"},
        {{"midi2pattern", "in.mid", "-o", "p.bin", "--bars=8"},
         "korva midi2pattern: --bars must be one of 1, 2, 4, not '8'\n"},
        {{"render", "p.bin", "-o"}, "korva render: -o needs a value (FILE)\n"},
        {{"dump", "p.bin", "--loud"}, "korva dump: unknown option --loud (see korva dump --help)\n"},
        {{"dump"}, "korva dump: missing arguments (usage: korva dump PATTERN)\n"},
        {{"dump", "a", "b"}, "korva dump: too many arguments (usage: korva dump PATTERN)\n"},
        {{"show"}, "korva show: give either a pattern file or --device\n"},
        {{"show", "p.bin", "--device"}, "korva show: give either a pattern file or --device\n"},
        {{"show", "--device", "--info", "i.bin"}, "korva show: --info is taken from the KORVA with --device\n"},
        {{"show", "p.bin", "--bars", "64"}, "korva show: --bars must be one of 1, 2, 4, 8, 16, 32, not '64'\n"},
    };
    for (const Case& c : usageErrors)
    {
        const ProcessResult r = korvaTool (c.args, folder.get());
        EXPECT_EQ (r.exitCode, 2) << c.error;
        EXPECT_EQ (r.err, c.error);
        EXPECT_TRUE (r.out.empty());
    }
    EXPECT_TRUE (namesIn (folder.get()).isEmpty());
}

TEST (KorvaTool, RenderWritesTheMidiFileOfThePattern)
{
    TempFolder folder;
    PatternRecord pattern = emptyPattern();
    pattern.block.barCount = 4;
    addNote (pattern, 0, 0, 60, 7);
    pattern.block.steps[0] = stepword::withTag (pattern.block.steps[0], 1);
    setStepCcValue (pattern.block, 0, 1, 42);
    addNote (pattern, 48, 3, 72, 3, 64);
    writePattern (folder / "pattern.bin", pattern);
    writeInfo (folder / "info.bin", {1, 74, 0, 0, 0});

    // Without --info: controller 0 and no chord; four bars by default.
    ProcessResult r = korvaTool ({"render", "pattern.bin", "-o", "plain.mid"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    EXPECT_TRUE (r.out.empty() && r.err.empty());
    EXPECT_EQ (parseWrittenFile (bytesOf (folder / "plain.mid")), (std::vector<MidiEvent>{
                                                                      {0, 0xB0, 0, 42},
                                                                      {0, 0x90, 60, 100},
                                                                      {120, 0x80, 60, 0},
                                                                      {48 * 120 + 60, 0x90, 72, 64},
                                                                      {48 * 120 + 120, 0x80, 72, 0},
                                                                  }));

    r = korvaTool ({"render", "pattern.bin", "--output=one.mid", "--bars", "1", "--info", "info.bin"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    EXPECT_EQ (parseWrittenFile (bytesOf (folder / "one.mid")), (std::vector<MidiEvent>{
                                                                    {0, 0xB0, 74, 42},
                                                                    {0, 0x90, 60, 100},
                                                                    {0, 0x90, 64, 100},
                                                                    {0, 0x90, 67, 100},
                                                                    {120, 0x80, 60, 0},
                                                                    {120, 0x80, 64, 0},
                                                                    {120, 0x80, 67, 0},
                                                                }));

    // An existing file is replaced.
    r = korvaTool ({"render", "pattern.bin", "-o", "one.mid", "-b", "32"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    EXPECT_EQ (parseWrittenFile (bytesOf (folder / "one.mid")).size(), 8u * 5);
    EXPECT_EQ (namesIn (folder.get()), juce::StringArray ({"info.bin", "one.mid", "pattern.bin", "plain.mid"}));
}

namespace
{

// dense.bin, swung.bin, empty.bin and info.bin in `folder`.
void writeDensePatterns (const juce::File& folder)
{
    // Dense: 8 notes and 5 controllers on every step, played as chords,
    // arpeggiated and swung; and the simplest, the empty pattern.
    PatternRecord dense = emptyPattern();
    dense.block.barCount = 4;
    for (int step = 0; step < kStepCount; ++step)
    {
        for (int slot = 0; slot < kSlotCount; ++slot)
            addNote (dense, step, slot % kSubPositionCount, 30 + slot * 9 + step % 7, (step + slot) % 24, 1 + step);
        for (int lane = 0; lane < kLaneCount; ++lane)
            setStepCcValue (dense.block, step, lane, (uint8_t)((step * 5 + lane) % 128));
    }
    PatternRecord swung = dense;
    swung.settings.swing = 60;
    swung.settings.arpEnabled = 1;
    swung.settings.arpMode = 3;
    writePattern (folder.getChildFile ("dense.bin"), dense);
    writePattern (folder.getChildFile ("swung.bin"), swung);
    writePattern (folder.getChildFile ("empty.bin"), emptyPattern());
    writeInfo (folder.getChildFile ("info.bin"), {1, 7, 10, 11, 74});
}

} // namespace

TEST (KorvaTool, RenderedFilesAreReadByAnIndependentMidiParser)
{
    TempFolder folder;
    writeDensePatterns (folder.get());

    const std::string script = R"PY(
import sys, mido
f = mido.MidiFile(sys.argv[1])
assert f.type == 0 and len(f.tracks) == 1 and f.ticks_per_beat == 480, (f.type, len(f.tracks), f.ticks_per_beat)
tick = 0
for m in f.tracks[0]:
    tick += m.time
    if m.type in ('note_on', 'note_off'):
        assert m.channel == 0
        print(tick, 0x90 if m.type == 'note_on' else 0x80, m.note, m.velocity)
    elif m.type == 'control_change':
        assert m.channel == 0
        print(tick, 0xB0, m.control, m.value)
    else:
        assert m.type == 'end_of_track', m.type
        print('end', tick)
)PY";
    ASSERT_TRUE ((folder / "check.py").replaceWithText (script));

    for (const char* name : {"dense", "swung", "empty"})
    {
        for (const char* bars : {"1", "32"})
        {
            SCOPED_TRACE (std::string (name) + " " + bars);
            const std::string midi = std::string (name) + bars + ".mid";
            const ProcessResult r =
                korvaTool ({"render", std::string (name) + ".bin", "-o", midi, "--bars", bars, "--info", "info.bin"},
                           folder.get());
            ASSERT_EQ (r.exitCode, 0) << r.err;

            const std::vector<MidiEvent> events = parseWrittenFile (bytesOf (folder / midi));
            std::string expected;
            for (const MidiEvent& e : events)
                expected += std::to_string (e.tick) + " " + std::to_string (e.status) + " " + std::to_string (e.data1) +
                            " " + std::to_string (e.data2) + "\n";
            expected += "end " + std::to_string (events.empty() ? 0 : events.back().tick) + "\n";

            const ProcessResult mido = runProcess (KORVA_PYTHON3, {"check.py", midi}, folder.get());
            ASSERT_EQ (mido.exitCode, 0) << "python3 with mido is needed (scripts/setup.sh installs python3-mido)\n"
                                         << mido.err;
            EXPECT_EQ (mido.out, expected);
            if (std::string (name) != "empty")
            {
                EXPECT_GT (events.size(), 100u);
            }
        }
    }
}

TEST (KorvaTool, ShowGivesTheNotesOfTheRenderedFile)
{
    TempFolder folder;
    writeDensePatterns (folder.get());

    // Notes paired by an independent parser: a note-off (or a note-on of
    // velocity 0) ends the earliest sounding note of its pitch.
    const std::string script = R"PY(
import sys, mido
f = mido.MidiFile(sys.argv[1])
tick, sounding, notes, controllers = 0, {}, [], set()
for m in f.tracks[0]:
    tick += m.time
    if m.type == 'note_on' and m.velocity > 0:
        sounding.setdefault(m.note, []).append((tick, m.velocity))
    elif m.type in ('note_on', 'note_off'):
        start, velocity = sounding[m.note].pop(0)
        notes.append((start, m.note, tick - start, velocity))
    elif m.type == 'control_change':
        controllers.add(m.control)
assert not any(sounding.values())
for start, note, length, velocity in sorted(notes):
    print(note, start, length, velocity)
print('controllers', *sorted(controllers))
)PY";
    ASSERT_TRUE ((folder / "pairs.py").replaceWithText (script));

    for (const char* name : {"dense", "swung", "empty"})
    {
        for (const char* bars : {"1", "4"})
        {
            SCOPED_TRACE (std::string (name) + " " + bars);
            const std::string pattern = std::string (name) + ".bin";
            ASSERT_EQ (
                korvaTool ({"render", pattern, "-o", "out.mid", "--bars", bars, "--info", "info.bin"}, folder.get())
                    .exitCode,
                0);
            const ProcessResult mido = runProcess (KORVA_PYTHON3, {"pairs.py", "out.mid"}, folder.get());
            ASSERT_EQ (mido.exitCode, 0) << mido.err;

            const ProcessResult show =
                korvaTool ({"show", pattern, "--bars", bars, "--info", "info.bin", "--json"}, folder.get());
            ASSERT_EQ (show.exitCode, 0) << show.err;
            const juce::var json = juce::JSON::parse (juce::String (show.out));
            std::string shown;
            const juce::Array<juce::var>* notes = json["notes"].getArray();
            ASSERT_NE (notes, nullptr);
            for (const juce::var& n : *notes)
                shown +=
                    (n[0].toString() + " " + n[1].toString() + " " + n[2].toString() + " " + n[3].toString() + "\n")
                        .toStdString();
            shown += "controllers";
            for (const juce::var& c : *json["controllers"].getArray())
                shown += " " + c.toString().toStdString();
            EXPECT_EQ (shown + "\n", mido.out);
            EXPECT_EQ (json["summary"].toString().toStdString(),
                       std::string (bars) + (std::string (bars) == "1" ? " bar - " : " bars - ") +
                           std::to_string (notes->size()) + " notes - " + (std::string (name) == "empty" ? "0" : "5") +
                           " controller lanes");
            if (std::string (name) != "empty")
            {
                EXPECT_GT (notes->size(), 10u);
            }
        }
    }

    // Not a terminal: ASCII, as wide as $COLUMNS, a row per pitch between the
    // ruler and the summary.
    const ProcessResult roll =
        runProcess (KORVA_TOOL_BINARY, {"show", "dense.bin", "--bars", "1"}, folder.get(), 60000, {{"COLUMNS", "50"}});
    ASSERT_EQ (roll.exitCode, 0) << roll.err;
    const juce::StringArray lines = juce::StringArray::fromLines (juce::String (roll.out).trimEnd());
    for (const juce::String& line : lines)
    {
        EXPECT_LE (line.length(), 50) << line;
        EXPECT_TRUE (juce::CharPointer_ASCII::isValidString (line.toRawUTF8(), INT_MAX)) << line;
    }
    ASSERT_EQ (lines.size(), 1 + (99 - 30 + 1) + 1);
    EXPECT_EQ (lines[1].upToFirstOccurrenceOf (" ", false, false), "D#7");                // note 30 + 7 * 9 + 6
    EXPECT_EQ (lines[lines.size() - 2].upToFirstOccurrenceOf (" ", false, false), "F#1"); // note 30
    EXPECT_TRUE (lines[lines.size() - 1].startsWith ("1 bar - ")) << lines[lines.size() - 1];
}

TEST (KorvaTool, MidiToPatternWritesThePayloadTheDeviceWouldGet)
{
    TempFolder folder;
    const Bytes midi = midiFile ({TrackBytes()
                                      .noteOn (0, 60, 90)
                                      .noteOff (120, 60)
                                      .controller (240, 74, 33)
                                      .noteOn (20 * 120, 62)
                                      .noteOff (21 * 120, 62)
                                      .endOfTrack (21 * 120)});
    writeBytes (folder / "in.mid", midi.data(), midi.size());
    writeInfo (folder / "info.bin", {0, 74, 0, 0, 0});

    ProcessResult r = korvaTool ({"midi2pattern", "in.mid", "-o", "four.bin", "--info", "info.bin"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    PatternRecord expected = emptyPattern();
    expected.block.barCount = 4;
    addNote (expected, 0, 0, 60, 7, 90);
    setStepCcValue (expected.block, 2, 1, 33);
    addNote (expected, 20, 0, 62, 7);
    PatternPayload payload;
    encodePattern (expected, payload);
    EXPECT_EQ (bytesOf (folder / "four.bin"), Bytes (payload.begin(), payload.end()));

    // One bar, and without --info: controller 74 belongs to no lane.
    r = korvaTool ({"midi2pattern", "in.mid", "-o", "one.bin", "--bars", "1"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    expected = emptyPattern();
    addNote (expected, 0, 0, 60, 7, 90);
    encodePattern (expected, payload);
    EXPECT_EQ (bytesOf (folder / "one.bin"), Bytes (payload.begin(), payload.end()));
}

TEST (KorvaTool, FitReportsWhatTheFileKeepsAndLosesAsTextAndJson)
{
    TempFolder folder;
    // One bar taken: D4 (7 ticks into step 20) comes after it, note 188 has no
    // place in any pattern and controller 74 has no lane. C4 lasts 125 ticks,
    // stored as 120: 5 ticks, 5.2 ms at 120 BPM.
    const Bytes midi = midiFile ({TrackBytes()
                                      .noteOn (0, 60, 90)
                                      .noteOff (125, 60)
                                      .controller (240, 74, 33)
                                      .at (480, {0x90, 188, 100})
                                      .noteOn (20 * 120 + 7, 62)
                                      .noteOff (21 * 120, 62)
                                      .endOfTrack (21 * 120)});
    writeBytes (folder / "in.mid", midi.data(), midi.size());

    // Positions as a DAW counts them (bar.beat.sixteenth), with the KORVA's step.
    const auto text = [] (const std::string& lanesAssumed) {
        return "1 bar, 480 ticks per quarter note, 120.0 BPM\n"
               "Lanes: controller 0 on every lane, assumed (" + lanesAssumed + "); give the KORVA's with --info "
               "INFO, which korva pattern-info -o INFO writes\n"
               "Notes: 3 in the file, 1 kept, 2 lost\n"
               "  1 after bar 1: 2.2.1 D4 (step 5)\n"
               "  1 with a note number or velocity above 127: 1.2.1 188 (step 5)\n"
               "Controller changes: 1 in the file, 0 kept, 1 lost\n"
               "  1 on a controller no lane takes: 1.1.3 CC 74 (step 3)\n"
               "Largest timing error: starts 0.0 ticks (0.0 ms), lengths 5.0 ticks (5.2 ms)\n";
    };
    ProcessResult r = korvaTool ({"fit", "in.mid", "--bars", "1"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    EXPECT_EQ (r.out, text ("no KORVA to ask: KORVA is not connected."));
    EXPECT_EQ (r.err, "");
    EXPECT_EQ (namesIn (folder.get()), juce::StringArray ({"in.mid"})) << "fit writes nothing";

    // midi2pattern prints the same report and writes the payload it writes
    // without one; it never asks a KORVA.
    r = korvaTool ({"midi2pattern", "in.mid", "-o", "reported.bin", "--bars", "1", "--report"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    EXPECT_EQ (r.out, text ("no --info given"));
    r = korvaTool ({"midi2pattern", "in.mid", "-o", "plain.bin", "--bars", "1"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    EXPECT_TRUE (r.out.empty());
    EXPECT_EQ (bytesOf (folder / "reported.bin"), bytesOf (folder / "plain.bin"));

    // All four bars with controller 74 on a lane: only note 188 lost; D4 starts 7 ticks late.
    writeInfo (folder / "info.bin", {0, 74, 0, 0, 0});
    for (const char* command : {"fit", "midi2pattern"})
    {
        SCOPED_TRACE (command);
        std::vector<std::string> args{command, "in.mid", "--info", "info.bin", "--json"};
        if (juce::String (command) == "midi2pattern")
            args.insert (args.end(), {"-o", "four.bin"});
        r = korvaTool (args, folder.get());
        ASSERT_EQ (r.exitCode, 0) << r.err;
        const juce::var json = juce::JSON::parse (juce::String (r.out));
        ASSERT_TRUE (json.isObject()) << r.out;
        EXPECT_EQ ((int)json["bars"], 4);
        EXPECT_EQ (json["lanes"]["source"].toString(), "info");
        EXPECT_EQ (json["lanes"]["file"].toString(), "info.bin");
        EXPECT_EQ ((int)json["lanes"]["controllers"][1], 74);
        EXPECT_EQ ((int)json["notes"]["kept"], 2);
        EXPECT_EQ ((int)json["notes"]["lost"], 1);
        EXPECT_EQ ((int)json["losses"]["notesOutOfRange"]["count"], 1);
        EXPECT_EQ (json["losses"]["notesOutOfRange"]["examples"][0]["note"].toString(), "188");
        EXPECT_EQ ((int)json["controllerChanges"]["kept"], 1);
        EXPECT_EQ ((int)json["losses"]["notesAfterLastBar"]["count"], 0);
        EXPECT_EQ (json["losses"]["notesAfterLastBar"]["examples"].size(), 0);
        EXPECT_DOUBLE_EQ ((double)json["largestError"]["start"]["ticks"], 7.0);
        EXPECT_NEAR ((double)json["largestError"]["start"]["milliseconds"], 7.2917, 1e-3);
    }

    r = korvaTool ({"fit", "in.mid", "--bars", "1", "--json"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    const juce::var lost = juce::JSON::parse (juce::String (r.out))["losses"];
    EXPECT_EQ ((int)lost["notesAfterLastBar"]["count"], 1);
    EXPECT_EQ (lost["notesAfterLastBar"]["examples"][0]["position"].toString(), "2.2.1");
    EXPECT_EQ ((int)lost["notesAfterLastBar"]["examples"][0]["step"], 5);
    EXPECT_EQ ((int)lost["notesAfterLastBar"]["examples"][0]["subPosition"], 1);
    EXPECT_EQ (lost["notesAfterLastBar"]["examples"][0]["note"].toString(), "D4");
    EXPECT_EQ ((int)lost["controllersWithoutLane"]["examples"][0]["controller"], 74);

    // A file the reader rejects has no report, only the reason: in JSON too when asked for.
    writeBytes (folder / "broken.mid", "MThd", 4);
    const std::string reason = "the file ends after 4 bytes, before a header and one track (26 bytes): cut short?";
    r = korvaTool ({"fit", "broken.mid"}, folder.get());
    EXPECT_EQ (r.exitCode, 1);
    EXPECT_TRUE (r.out.empty());
    EXPECT_EQ (r.err, "korva: broken.mid: Failed to convert MIDI file into pattern. (" + reason + ")\n");
    r = korvaTool ({"fit", "broken.mid", "--json"}, folder.get());
    EXPECT_EQ (r.exitCode, 1);
    EXPECT_EQ (juce::JSON::parse (juce::String (r.out))["reason"].toString(), juce::String (reason)) << r.out;
    EXPECT_NE (r.err.find (reason), std::string::npos) << r.err;
}

TEST (KorvaTool, RenderThenMidiToPatternRendersTheSameNotes)
{
    TempFolder folder;
    PatternRecord pattern = emptyPattern();
    pattern.block.barCount = 2;
    for (int step = 0; step < 32; ++step)
    {
        addNote (pattern, step, step % 2 == 0 ? 0 : 3, 48 + step, step % 8, 20 + step * 3);
        if (step % 5 == 0)
            addNote (pattern, step, 0, 90 - step, 15);
    }
    setStepCcValue (pattern.block, 7, 3, 77);
    writePattern (folder / "p.bin", pattern);
    writeInfo (folder / "info.bin", {0, 0, 0, 21, 0});

    auto run = [&] (std::vector<std::string> args)
    {
        const ProcessResult r = korvaTool (args, folder.get());
        EXPECT_EQ (r.exitCode, 0) << r.err;
    };
    run ({"render", "p.bin", "-o", "first.mid", "--bars", "2", "--info", "info.bin"});
    run ({"midi2pattern", "first.mid", "-o", "back.bin", "--bars", "2", "--info", "info.bin"});
    run ({"render", "back.bin", "-o", "second.mid", "--bars", "2", "--info", "info.bin"});

    const std::vector<MidiEvent> first = parseWrittenFile (bytesOf (folder / "first.mid"));
    EXPECT_GT (first.size(), 70u);
    EXPECT_EQ (parseWrittenFile (bytesOf (folder / "second.mid")), first);
}

TEST (KorvaTool, DumpShowsEveryFieldByName)
{
    TempFolder folder;
    PatternRecord pattern = emptyPattern();
    pattern.block.barCount = 3;
    pattern.block.speed = 4;
    pattern.block.stepPresentMasks[2] = 0x1234;
    uint32_t& word = pattern.block.steps[5];
    word = stepword::withTag (stepword::withRatio (word | stepword::kTie | stepword::kGlide, 2, 3), 6);
    addNote (pattern, 5, 4, 61, 300, 77);
    setStepCcValue (pattern.block, 5, 3, 101);
    pattern.block.stepMotion[5] = {3, 9, 0x15, {1, 2, 3, 4, 5, 127}};
    PatternSettings& s = pattern.settings;
    s.grooveCurve = 5;
    s.grooveCycle = 12;
    s.grooveAmount = 100;
    s.swing = 33;
    s.arpEnabled = 1;
    s.arpOctaves = 3;
    s.arpGate = 80;
    s.arpRate = 7;
    s.arpMode = 2;
    s.scaleType = 22;
    s.scaleRoot = 11;
    s.probability = 70;
    s.probabilityEnabled = 1;
    s.resyncEnabled = 1;
    s.resyncSteps = 64;
    s.stepOrder = 11;
    s.linkReverse = 1;
    s.linkEndFlag = 1;
    s.patternOption = 0xDEADBEEF;
    s.nextLinks[63] = 9;
    s.prevLinks[62] = 8;
    writePattern (folder / "p.bin", pattern);

    const ProcessResult r = korvaTool ({"dump", "p.bin"}, folder.get());
    ASSERT_EQ (r.exitCode, 0) << r.err;
    const juce::var json = juce::JSON::parse (juce::String (r.out));
    ASSERT_TRUE (json.isObject()) << r.out;

    EXPECT_EQ (json["magic"].toString(), "seq3");
    EXPECT_EQ ((int)json["barCount"], 3);
    EXPECT_EQ ((int)json["speed"], 4);
    EXPECT_EQ ((int)json["stepPresentMasks"][2], 0x1234);
    ASSERT_EQ (json["steps"].size(), 64);

    const juce::var step = json["steps"][5];
    EXPECT_EQ ((int)step["index"], 5);
    EXPECT_TRUE ((bool)step["enabled"]);
    EXPECT_TRUE ((bool)step["tie"]);
    EXPECT_TRUE ((bool)step["glide"]);
    EXPECT_EQ ((int)step["ratioNum"], 2);
    EXPECT_EQ ((int)step["ratioDen"], 3);
    EXPECT_EQ ((int)step["tag"], 6);
    EXPECT_EQ ((int)step["noteMask"], 1);
    EXPECT_EQ ((int)step["ccMask"], 8);
    EXPECT_EQ ((int)step["subPositionMasks"][4], 1);
    EXPECT_EQ ((int)step["subPositionMasks"][0], 0);
    EXPECT_EQ ((int)step["notes"][0]["note"], 61);
    EXPECT_EQ ((int)step["notes"][0]["velocity"], 77);
    EXPECT_EQ ((int)step["notes"][0]["length"], 300);
    EXPECT_EQ ((int)step["notes"][7]["note"], 60);
    EXPECT_EQ ((int)step["ccValues"][3], 101);
    EXPECT_EQ ((int)step["stepMotion"]["transposeCode"], 3);
    EXPECT_EQ ((int)step["stepMotion"]["repeatCode"], 9);
    EXPECT_EQ ((int)step["stepMotion"]["loopCode"], 0x15);
    EXPECT_EQ ((int)step["stepMotion"]["nudge"][5], 127);
    EXPECT_FALSE ((bool)json["steps"][6]["tie"]);

    const juce::var settings = json["settings"];
    const std::pair<const char*, juce::int64> fields[] = {
        {"grooveCurve", 5},
        {"grooveCycle", 12},
        {"grooveAmount", 100},
        {"swing", 33},
        {"arpEnabled", 1},
        {"arpOctaves", 3},
        {"arpGate", 80},
        {"arpRate", 7},
        {"arpMode", 2},
        {"scaleType", 22},
        {"scaleRoot", 11},
        {"probability", 70},
        {"probabilityEnabled", 1},
        {"resyncEnabled", 1},
        {"resyncSteps", 64},
        {"stepOrder", 11},
        {"linkReverse", 1},
        {"linkEndFlag", 1},
        {"patternOption", 0xDEADBEEF},
    };
    for (const auto& [name, value] : fields)
        EXPECT_EQ ((juce::int64)settings[name], value) << name;
    EXPECT_EQ ((int)settings["nextLinks"][0], 1);
    EXPECT_EQ ((int)settings["nextLinks"][63], 9);
    EXPECT_EQ ((int)settings["prevLinks"][62], 8);
    EXPECT_EQ (settings["prevLinks"].size(), 64);
}

TEST (KorvaTool, FailuresNameTheFileAndTheReasonAndLeaveNothingHalfWritten)
{
    TempFolder folder;
    writePattern (folder / "p.bin", numberedPattern (1));
    PatternPayload older;
    encodePattern (numberedPattern (1), older);
    older[3] = '2';
    writeBytes (folder / "old.bin", older.data(), older.size());
    PatternPayload newer = older;
    newer[3] = '4';
    writeBytes (folder / "new.bin", newer.data(), newer.size());
    ASSERT_TRUE ((folder / "short.bin").replaceWithText ("seq3"));
    ASSERT_TRUE ((folder / "bad.mid").replaceWithText ("MThd this is no MIDI file at all"));
    ASSERT_TRUE ((folder / "keep.mid").replaceWithText ("earlier output"));
    ASSERT_TRUE ((folder / "keep.bin").replaceWithText ("earlier output"));
    ASSERT_TRUE ((folder / "plain").replaceWithText ("not a folder"));
    ASSERT_TRUE ((folder / "sub").createDirectory().wasOk());
    const juce::StringArray before = namesIn (folder.get());

    struct Case
    {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"render", "missing.bin", "-o", "keep.mid"}, "korva: missing.bin: no such file\n"},
        {{"render", "short.bin", "-o", "keep.mid"},
         "korva: short.bin: not a pattern payload: 4 bytes instead of 4096\n"},
        {{"render", "sub", "-o", "keep.mid"}, "korva: sub: is a folder, not a file\n"},
        {{"render", "old.bin", "-o", "keep.mid"},
         "korva: old.bin: The pattern data of KORVA is old. Please upgrade the firmware of KORVA.\n"},
        {{"render", "new.bin", "-o", "keep.mid"},
         "korva: new.bin: The pattern data of KORVA Manager is old. Please upgrade KORVA Manager.\n"},
        {{"render", "p.bin", "-o", "keep.mid", "--info", "p.bin"},
         "korva: p.bin: not a pattern-information payload: 4096 bytes instead of 20\n"},
        {{"render", "p.bin", "-o", "sub"}, "korva: sub: is a folder, not a file\n"},
        {{"render", "p.bin", "-o", "plain/out.mid"}, "korva: plain/out.mid: the folder plain does not exist\n"},
        {{"dump", "old.bin"},
         "korva: old.bin: The pattern data of KORVA is old. Please upgrade the firmware of KORVA.\n"},
        {{"dump", "short.bin"}, "korva: short.bin: not a pattern payload: 4 bytes instead of 4096\n"},
        {{"midi2pattern", "bad.mid", "-o", "keep.bin"},
         "korva: bad.mid: Failed to convert MIDI file into pattern. (track 1 claims 1145643110 bytes but the file "
         "ends after 10: cut short?)\n"},
        {{"midi2pattern", "missing.mid", "-o", "keep.bin"}, "korva: missing.mid: no such file\n"},
        {{"midi2pattern", "p.bin", "-o", "keep.bin", "--info", "missing.bin"}, "korva: missing.bin: no such file\n"},
    };
    for (const Case& c : cases)
    {
        const ProcessResult r = korvaTool (c.args, folder.get());
        EXPECT_EQ (r.exitCode, 1) << c.error;
        EXPECT_EQ (r.err, c.error);
        EXPECT_EQ (lineCount (r.err), 1);
        EXPECT_TRUE (r.out.empty()) << r.out;
    }

    EXPECT_EQ ((folder / "keep.mid").loadFileAsString(), "earlier output");
    EXPECT_EQ ((folder / "keep.bin").loadFileAsString(), "earlier output");
    EXPECT_EQ (namesIn (folder.get()), before);
    EXPECT_FALSE ((folder / "sub").getChildFile ("out.mid").exists());
}

} // namespace korva
