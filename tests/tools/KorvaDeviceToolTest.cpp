// The korva tool's device commands, end to end: the built tool run as a
// program against korva-sim run as a program, each test with a home, a
// folder of virtual devices and a device store of its own.

#include "core/settings/InstanceLock.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/KorvaToolFixture.h"
#include "tests/tools/ToolProcess.h"
#include "tools/korva-sim/DemoContent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace korva
{

using namespace korva::test;

namespace
{
const korva::sim::DemoContent& demo()
{
    static const korva::sim::DemoContent content = korva::sim::makeDemoContent();
    return content;
}

const std::string kDemoList = "ID   NAME                              PATTERNS\n"
                              "000  Demo Song                                6  in use\n"
                              "001  Chord Study                              3\n"
                              "002  Night Drive                              5\n"
                              "003  Empty Sketch                             0\n"
                              "Remaining project capacity: 124\n"
                              "Remaining pattern capacity: 4082\n";

} // namespace

TEST_F (KorvaDeviceTool, WithoutAKorvaOrWhileKorvaManagerRuns)
{
    fails ({"devices"}, "KORVA is not connected.");
    fails ({"projects"}, "KORVA is not connected.");
    EXPECT_TRUE (namesIn (dataFolder()).isEmpty());

    // KORVA Manager (or another korva) holds the lock: nothing is asked of the device.
    startSim();
    {
        InstanceLock program (home.getChildFile (".config/MELDRA/KORVA Manager/.instance.lock"));
        ASSERT_TRUE (program.isHeld());
        fails ({"pull", "0"}, "KORVA Manager or another korva command is using the KORVA; close it first");
    }
    EXPECT_EQ (ok ({"projects"}), kDemoList);

    // Wrong command lines are refused before anything else.
    const struct
    {
        std::vector<std::string> args;
        const char* error;
    } usage[] = {
        {{"pull"}, "korva pull: missing arguments (usage: korva pull INDEX [-o FILE.prj] | --all [-o FOLDER])\n"},
        {{"pull", "1", "--all"}, "korva pull: give INDEX or --all, not both (usage: korva pull INDEX [-o FILE.prj] | "
                                 "--all [-o FOLDER])\n"},
        {{"pull", "128"}, "korva pull: INDEX must be a project number from 0 to 127, not '128'\n"},
        {{"rename", "1", ""}, "korva rename: the new name is empty\n"},
        {{"delete", "x"}, "korva delete: INDEX must be a project number from 0 to 127, not 'x'\n"},
        {{"pull-pattern"}, "korva pull-pattern: the output file is missing (-o OUT.mid)\n"},
        {{"push-midi", "in.mid", "--bars", "8"}, "korva push-midi: --bars must be one of 1, 2, 4, not '8'\n"},
        {{"projects", "extra"}, "korva projects: too many arguments (usage: korva projects)\n"},
    };
    for (const auto& c : usage)
    {
        const ProcessResult r = korva (c.args);
        EXPECT_EQ (r.exitCode, 2) << c.error;
        EXPECT_EQ (r.err, c.error);
    }
}

TEST_F (KorvaDeviceTool, ListsDevicesAndProjectsAndPullsThemWhole)
{
    startSim();

    const std::string listed = ok ({"devices"});
    EXPECT_EQ (listed, "KORVA," + devices.getChildFile ("sim.sock").getFullPathName().toStdString()
                           + ",1  MELDRA KORVA  release 0100  (used)\n");
    EXPECT_EQ (ok ({"projects"}), kDemoList);

    // Into the data folder, named as the program names it; then to a file.
    const std::string pulled = ok ({"pull", "2"});
    const auto copies = namesIn (dataFolder());
    ASSERT_EQ (copies.size(), 1);
    EXPECT_TRUE (copies[0].matchesWildcard ("Night Drive_????????_??????.prj", false)) << copies[0];
    EXPECT_EQ (pulled, dataFolder().getChildFile (copies[0]).getFullPathName().toStdString() + "\n");
    EXPECT_EQ (bytesOfFile (dataFolder().getChildFile (copies[0])), demo().projects.at (2));

    ok ({"pull", "1", "-o", "chords.prj"});
    EXPECT_EQ (bytesOfFile (work.getChildFile ("chords.prj")), demo().projects.at (1));

    // The whole device into a folder of its own, but the project in use,
    // which is named (no failure of the command), as a single pull of it is refused.
    const ProcessResult all = korva ({"pull", "--all", "-o", "backup"});
    EXPECT_EQ (all.exitCode, 0) << all.err;
    EXPECT_EQ (all.err, "korva: 000 Demo Song: in use on the KORVA, not imported\n");
    const std::string backup = all.out;
    EXPECT_EQ (std::count (backup.begin(), backup.end(), '\n'), 3); // one path a line
    const auto files = namesIn (work.getChildFile ("backup"));
    ASSERT_EQ (files.size(), 3) << backup;
    for (const auto& [index, image] : demo().projects)
    {
        if (index == 0)
            continue;
        const auto name = juce::String (index == 1 ? "Chord Study" : index == 2 ? "Night Drive" : "Empty Sketch");
        const auto match =
            std::find_if (files.begin(), files.end(), [&] (const juce::String& f) { return f.startsWith (name + "_"); });
        ASSERT_NE (match, files.end()) << name;
        EXPECT_EQ (bytesOfFile (work.getChildFile ("backup/" + *match)), image) << name;
    }

    // Nothing is left of the transfers.
    EXPECT_EQ (namesIn (dataFolder()).size(), 1);
    EXPECT_TRUE (namesIn (tempFolder()).isEmpty()) << namesIn (tempFolder()).joinIntoString (" ");
    fails ({"pull", "9"}, "Could not import this project. The project does not exist.");
    fails ({"pull", "0"}, "000 Demo Song: in use on the KORVA, not imported");
}

// A backup goes on after a project the KORVA refuses, and ends when the
// KORVA goes; what it copied is whole and nothing else is left.
TEST_F (KorvaDeviceTool, PullAllGoesOnAfterARefusalAndStopsWhenKorvaGoes)
{
    startSim ({"--busy-import", "1"});
    const ProcessResult refused = korva ({"pull", "--all", "-o", "backup"});
    EXPECT_EQ (refused.exitCode, 1);
    EXPECT_EQ (refused.err, "korva: 001 Chord Study: KORVA is busy.\n"
                            "korva: 000 Demo Song: in use on the KORVA, not imported\n");
    EXPECT_EQ (std::count (refused.out.begin(), refused.out.end(), '\n'), 2) << refused.out;
    const auto backup = work.getChildFile ("backup");
    EXPECT_EQ (namesIn (backup).size(), 2) << namesIn (backup).joinIntoString (" "); // the hidden staging folder is gone
    for (const auto& name : namesIn (backup))
    {
        const int index = name.startsWith ("Night Drive") ? 2 : 3;
        EXPECT_FALSE (name.startsWith ("Chord Study") || name.startsWith ("Demo Song")) << name;
        EXPECT_EQ (bytesOfFile (backup.getChildFile (name)), demo().projects.at (index)) << name;
    }
    stopSim();

    // Gone while it sends the first project: the run ends there.
    startSim ({"--vanish-after-sent", "30"});
    const ProcessResult unplugged = korva ({"pull", "--all", "-o", "second"});
    EXPECT_EQ (unplugged.exitCode, 1);
    // What the transport said of the project under way may come first.
    EXPECT_TRUE (unplugged.err == "korva: KORVA is not connected.\n"
                 || juce::String (unplugged.err)
                        .matchesWildcard ("korva: 001 Chord Study: Communication Error (00\?\?)\nkorva: KORVA is not connected.\n",
                                          false))
        << unplugged.err;
    EXPECT_EQ (unplugged.out, "");
    EXPECT_EQ (namesIn (work.getChildFile ("second")).size(), 0);
}

TEST_F (KorvaDeviceTool, PushesRenamesAndDeletesWithTheProgramsChecks)
{
    startSim();
    ok ({"pull", "1", "-o", "copy.prj"});

    // The file side first: the name inside changes, the file keeps its name.
    fails ({"rename-file", "copy.prj", std::string (33, 'x')}, "copy.prj: Please name project within 32 characters");
    fails ({"rename-file", "copy.prj", "a~b"},
           "copy.prj: A project name cannot contain double-byte characters and the following characters "
           "(/\\?*:\"<> | ~).");
    fails ({"rename-file", "missing.prj", "x"}, "missing.prj: no such file");
    const Bytes before = bytesOfFile (work.getChildFile ("copy.prj"));
    ok ({"rename-file", "copy.prj", "Chord Copy"});
    Bytes expected = before;
    std::fill (expected.begin() + 4, expected.begin() + 37, 0);
    std::copy_n ("Chord Copy", 10, expected.begin() + 4);
    EXPECT_EQ (bytesOfFile (work.getChildFile ("copy.prj")), expected);

    // The same name as a device project is refused; a new one goes in.
    fails ({"push", "chords.prj"}, "chords.prj: no such file");
    ASSERT_TRUE (work.getChildFile ("short.prj").replaceWithData (before.data(), 4096 + 100));
    fails ({"push", "short.prj"}, "short.prj: 4196 bytes instead of 16384 for 3 patterns");
    ASSERT_TRUE (work.getChildFile ("same.prj").replaceWithData (before.data(), before.size()));
    fails ({"push", "same.prj"}, "Could not load this project. A project with the same name already exists.");
    EXPECT_EQ (ok ({"push", "copy.prj"}), "004  Chord Copy                               3\n");

    // Renaming on the device: the dialog's checks, then the page's.
    fails ({"rename", "4", "Chord Study"},
           "Could not rename this project. A project with the same name already exists.");
    fails ({"rename", "4", "a/b"}, "A project name cannot contain double-byte characters and the following "
                                   "characters (/\\?*:\"<> | ~).");
    fails ({"rename", "0", "Other"}, "Could not rename this project. The project is being used by KORVA.");
    fails ({"rename", "9", "Other"}, "Could not rename this project. The project does not exist.");
    ok ({"rename", "4", "Renamed"});
    EXPECT_NE (ok ({"projects"}).find ("004  Renamed                                  3\n"), std::string::npos);

    // Deleting asks first; standard input says nothing, so nothing goes.
    const ProcessResult asked = korva ({"delete", "4"});
    EXPECT_EQ (asked.exitCode, 1);
    EXPECT_EQ (asked.err, "Deleting project Renamed. Are you sure? [y/N] \nkorva: nothing deleted\n");
    fails ({"delete", "0", "--yes"}, "Could not delete this project. The project is being used by KORVA.");
    ok ({"delete", "4", "--yes"});
    EXPECT_EQ (ok ({"projects"}), kDemoList);
}

TEST_F (KorvaDeviceTool, PatternRoundTripGivesTheSameNotes)
{
    startSim();

    // One bar of notes on the step grid, a controller the KORVA's lanes send.
    const Bytes midi = midiFile ({TrackBytes()
                                      .noteOn (0, 60, 100)
                                      .noteOff (120, 60)
                                      .controller (240, 71, 40)
                                      .noteOn (480, 64, 90)
                                      .noteOff (600, 64)
                                      .noteOn (1440, 67, 80)
                                      .noteOff (1560, 67)
                                      .endOfTrack (1920)});
    ASSERT_TRUE (work.getChildFile ("in.mid").replaceWithData (midi.data(), midi.size()));

    EXPECT_EQ (ok ({"pattern-info", "-o", "info.bin"}),
               "Track 03\nPattern 01\nControllers 74 71 1 10 91\n"
               "Chord slots 0x4700 0x3700 0x47a0 0x5700 0x47b0 0x37a0\n");
    EXPECT_EQ (bytesOfFile (work.getChildFile ("info.bin")), Bytes (demo().patternInfo.begin(), demo().patternInfo.end()));

    ok ({"push-midi", "in.mid", "--bars", "1"});
    ok ({"pull-pattern", "-o", "out.mid", "--bars", "1"});

    EXPECT_EQ (noteOnsOf (bytesOfFile (work.getChildFile ("out.mid"))),
               (std::vector<NoteOn>{{0, 60, 100}, {480, 64, 90}, {1440, 67, 80}}));

    // The same conversions made here give the same file.
    const ProcessResult toPattern =
        korva ({"midi2pattern", "in.mid", "-o", "p.bin", "--bars", "1", "--info", "info.bin"});
    ASSERT_EQ (toPattern.exitCode, 0) << toPattern.err;
    const ProcessResult render = korva ({"render", "p.bin", "-o", "local.mid", "--bars", "1", "--info", "info.bin"});
    ASSERT_EQ (render.exitCode, 0) << render.err;
    EXPECT_EQ (bytesOfFile (work.getChildFile ("out.mid")), bytesOfFile (work.getChildFile ("local.mid")));

    // show draws that same render: the device's, and the one made here.
    const std::string shown = ok ({"show", "--device", "--bars", "1", "--json"});
    EXPECT_EQ (shown, ok ({"show", "p.bin", "--bars", "1", "--info", "info.bin", "--json"}));
    EXPECT_NE (shown.find ("\"summary\": \"1 bar - 3 notes - "), std::string::npos) << shown;
    const juce::StringArray roll = juce::StringArray::fromLines (juce::String (ok ({"show", "-d", "-b", "1"})).trimEnd());
    ASSERT_EQ (roll.size(), 1 + (67 - 60 + 1) + 1) << roll.joinIntoString ("\n");
    EXPECT_TRUE (roll[1].startsWith ("G4   |")) << roll[1];
    EXPECT_TRUE (roll[8].startsWith ("C4   |#")) << roll[8];
    EXPECT_TRUE (namesIn (tempFolder()).isEmpty()) << namesIn (tempFolder()).joinIntoString (" ");

    fails ({"push-midi", "info.bin"},
           "info.bin: Failed to convert MIDI file into pattern. (not a Standard MIDI File (no MThd header))");
}

// fit without --info takes the lanes of the KORVA plugged in, as a drop on
// the window does: a General MIDI file's bank select (controller 0) is lost,
// its modulation (controller 1, a lane of the KORVA's) kept.
TEST_F (KorvaDeviceTool, FitAsksTheKorvaForItsLanes)
{
    startSim();
    const Bytes midi = midiFile ({TrackBytes()
                                      .controller (0, 0, 0)
                                      .controller (0, 1, 64)
                                      .noteOn (0, 60, 100)
                                      .noteOff (120, 60)
                                      .endOfTrack (1920)});
    ASSERT_TRUE (work.getChildFile ("gm.mid").replaceWithData (midi.data(), midi.size()));

    const juce::String text (ok ({"fit", "gm.mid", "--bars", "1"}));
    EXPECT_TRUE (text.contains ("\nLanes: controllers 74 71 1 10 91 (the KORVA's current pattern)\n")) << text;
    EXPECT_TRUE (text.contains ("\nController changes: 2 in the file, 1 kept, 1 lost\n"
                                "  1 on a controller no lane takes: 1.1.1 CC 0 (step 1)\n"))
        << text;
    const juce::var json = juce::JSON::parse (juce::String (ok ({"fit", "gm.mid", "--bars", "1", "--json"})));
    EXPECT_EQ (json["lanes"]["source"].toString(), "korva");
    EXPECT_EQ ((int) json["lanes"]["controllers"][2], 1);
}

TEST_F (KorvaDeviceTool, EachFailureSaysWhatTheProgramSays)
{
    ASSERT_TRUE (work.getChildFile ("empty.prj").replaceWithData (demo().projects.at (3).data(), 4096));
    const Bytes midi = midiFile ({TrackBytes().noteOn (0, 60).noteOff (120, 60).endOfTrack (120)});
    ASSERT_TRUE (work.getChildFile ("in.mid").replaceWithData (midi.data(), midi.size()));
    const ProcessResult renamed = korva ({"rename-file", "empty.prj", "Brand New"});
    ASSERT_EQ (renamed.exitCode, 0) << renamed.err;

    startSim ({"--busy"});
    fails ({"projects"}, "Get Project Info | KORVA is busy.");
    stopSim();

    startSim ({"--no-room"});
    fails ({"push", "empty.prj"}, "Cannot load the the project. Not enough space on KORVA.");
    stopSim();

    startSim ({"--pattern-format", "2"});
    fails ({"pull-pattern", "-o", "out.mid"}, "The pattern data of KORVA is old. Please upgrade the firmware of KORVA.");
    fails ({"show", "--device"}, "The pattern data of KORVA is old. Please upgrade the firmware of KORVA.");
    fails ({"push-midi", "in.mid"}, "The pattern data of KORVA is old. Please upgrade the firmware of KORVA.");
    stopSim();

    startSim ({"--old-firmware"});
    fails ({"projects"}, "Please upgrade the firmware of KORVA.");
    stopSim();

    // The KORVA goes away while it sends its first project block.
    startSim ({"--vanish-after-sent", "30"});
    const ProcessResult unplugged = korva ({"pull", "1"});
    EXPECT_EQ (unplugged.exitCode, 1);
    EXPECT_TRUE (unplugged.err == "korva: KORVA is not connected.\n"
                 || juce::String (unplugged.err).matchesWildcard ("korva: Communication Error (00\?\?)\n", false))
        << unplugged.err;
    EXPECT_TRUE (namesIn (dataFolder()).isEmpty());
    EXPECT_FALSE (work.getChildFile ("out.mid").exists());
}

// Ctrl+C during a transfer: the tool's signal handling, its message loop,
// the sequencer's thread and the device all take part in ending it.
struct KorvaDeviceToolConcurrency : KorvaDeviceTool
{
};

TEST_F (KorvaDeviceToolConcurrency, CtrlCDuringAPullCancelsItAndLeavesNoFile)
{
    startSim ({"--slow", "100"});
    RunningProcess pull (KORVA_TOOL_BINARY, {"pull", "2"}, work, environment());
    ASSERT_TRUE (pull.started());

    // A couple of blocks in (the copy is assembled hidden in the data folder).
    const juce::File partial = dataFolder().getChildFile (".korva-pull/.korva-import.prj.part");
    ASSERT_TRUE (waitUntil ([&] { return partial.getSize() >= 2 * 4096 || ! pull.isRunning(); }, 20000));
    pull.signal (SIGINT);
    const ProcessResult r = pull.finish (20000);
    EXPECT_EQ (r.exitCode, 130) << r.err;
    EXPECT_EQ (r.err, "korva: cancelled\n");
    EXPECT_EQ (r.out, "");
    EXPECT_EQ (dataFolder().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0); // hidden ones too
    EXPECT_TRUE (namesIn (tempFolder()).isEmpty()) << namesIn (tempFolder()).joinIntoString (" ");

    // The KORVA was left ready for the next command.
    EXPECT_EQ (ok ({"projects"}), kDemoList);
}

} // namespace korva
