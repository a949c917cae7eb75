// korva.exe, the Windows build of the tool, reaching a KORVA through the
// Windows HID functions: Wine's HID bus serves the emulated hidraw KORVA of
// this test's mount namespace, and korva-sim answers behind it. The Wine
// server is started in the namespace, in a prefix of the test's own.

#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/HidrawKorva.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WindowsTool.h"
#include "tools/korva-sim/DemoContent.h"
#include "tools/korva-sim/ProjectStore.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

namespace
{
Bytes bytesOfFile (const juce::File& file)
{
    juce::MemoryBlock data;
    EXPECT_TRUE (file.loadFileAsData (data)) << file.getFullPathName();
    const auto* p = static_cast<const uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

const char* const kDemoList = "ID   NAME                              PATTERNS\n"
                              "000  Demo Song                                6  in use\n"
                              "001  Chord Study                              3\n"
                              "002  Night Drive                              5\n"
                              "003  Empty Sketch                             0\n"
                              "Remaining project capacity: 124\n"
                              "Remaining pattern capacity: 4082\n";

// One KORVA, by the Windows path of its HID interface as the class driver
// names it ("\\?\hid#vid_7c4e&pid_0a31&..."), opened by this program. (Wine
// takes the strings from the hidraw node's name, not from the USB device:
// its manufacturer is "hidraw" and its product "MELDRA KORVA".)
bool isKorvaLine (const std::string& text)
{
    const juce::String line (text);
    return line.containsIgnoreCase (",\\\\?\\hid#vid_7c4e&pid_0a31&") && line.endsWith (" release 0100  (used)\n")
           && line.indexOfChar ('\n') == line.length() - 1;
}

struct KorvaExeOnWineHidBus : ::testing::Test
{
    TempFolder root;
    const juce::File store = root / "store";
    const juce::File work = root / "work";
    HidrawKorva korva{root / "korva-sim.txt"};
    std::unique_ptr<WindowsTool> windows;

    void SetUp() override
    {
        KORVA_REQUIRE_HIDRAW_EMULATION();
        KORVA_REQUIRE_WINDOWS_TOOL();
        ASSERT_TRUE (work.createDirectory());
        windows = std::make_unique<WindowsTool> (root.get());
        ASSERT_EQ (windows->getError(), "");
    }

    bool plugIn (const std::vector<std::string>& more = {})
    {
        std::vector<std::string> arguments{"--store", store.getFullPathName().toStdString(), "--response-delay", "5"};
        arguments.insert (arguments.end(), more.begin(), more.end());
        return korva.plugIn (arguments);
    }

    // Wine's HID bus sees a node appear in /dev on its own time: the test
    // waits until korva.exe lists the KORVA.
    bool listed() const
    {
        return waitUntil ([&] { return isKorvaLine (windows->run ({"devices"}, work).out); }, 60000);
    }

    std::string ok (const std::vector<std::string>& args) const
    {
        const ProcessResult r = windows->run (args, work, 60000);
        EXPECT_EQ (r.exitCode, 0) << args[0] << ": " << r.err;
        EXPECT_EQ (r.err, "") << args[0];
        return r.out;
    }

    Bytes onDevice (int index) const
    {
        korva::sim::ProjectStore projects (store.getFullPathName().toStdString(), {});
        std::string error;
        if (! projects.open (error) || projects.project (index) == nullptr)
            return {};
        return *projects.project (index);
    }

    // Every file below a folder, hidden ones too.
    static juce::StringArray filesBelow (const juce::File& folder)
    {
        juce::StringArray names;
        for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFiles,
                                                               juce::File::FollowSymlinks::no))
            names.add (entry.getFile().getRelativePathFrom (folder));
        return names;
    }
};
} // namespace

TEST_F (KorvaExeOnWineHidBus, ListsPullsPushesAndRoundTripsAPattern)
{
    ASSERT_TRUE (plugIn()) << korva.log();
    ASSERT_TRUE (listed());
    const auto demo = korva::sim::makeDemoContent();

    const std::string devices = ok ({"devices"});
    EXPECT_TRUE (isKorvaLine (devices)) << devices;
    EXPECT_EQ (ok ({"projects"}), kDemoList);

    ok ({"pull", "2", "-o", "night.prj"});
    EXPECT_EQ (bytesOfFile (work.getChildFile ("night.prj")), demo.projects.at (2));

    ok ({"rename-file", "night.prj", "Night Copy"});
    EXPECT_EQ (ok ({"push", "night.prj"}), "004  Night Copy                               5\n");
    EXPECT_EQ (onDevice (4), bytesOfFile (work.getChildFile ("night.prj")));

    const Bytes midi = midiFile ({TrackBytes()
                                      .noteOn (0, 60, 100)
                                      .noteOff (120, 60)
                                      .noteOn (480, 64, 90)
                                      .noteOff (600, 64)
                                      .noteOn (1440, 67, 80)
                                      .noteOff (1560, 67)
                                      .endOfTrack (1920)});
    ASSERT_TRUE ((work.getChildFile ("in.mid")).replaceWithData (midi.data(), midi.size()));
    ok ({"push-midi", "in.mid", "--bars", "1"});
    ok ({"pull-pattern", "-o", "out.mid", "--bars", "1"});
    EXPECT_EQ (noteOnsOf (bytesOfFile (work.getChildFile ("out.mid"))),
               (std::vector<NoteOn>{{0, 60, 100}, {480, 64, 90}, {1440, 67, 80}}));
}

TEST_F (KorvaExeOnWineHidBus, AnUnplugDuringAPullIsOneErrorAndLeavesNothingAndAReplugIsFound)
{
    ASSERT_TRUE (plugIn ({"--slow", "100"})) << korva.log();
    ASSERT_TRUE (listed());
    const auto profile = windows->getProfileFolder();
    auto pull = windows->start ({"pull", "2"}, work);
    ASSERT_TRUE (pull->started());

    // A couple of blocks in: the copy is assembled hidden below the profile.
    auto partial = [&]
    {
        for (const auto& name : filesBelow (profile))
            if (name.endsWith (".part"))
                return profile.getChildFile (name);
        return juce::File();
    };
    ASSERT_TRUE (waitUntil ([&] { return partial().getSize() >= 2 * 4096 || ! pull->isRunning(); }, 60000));
    ASSERT_TRUE (pull->isRunning());
    ASSERT_TRUE (korva.unplug (20000)) << korva.log();

    const ProcessResult r = pull->finish (60000);
    EXPECT_EQ (r.exitCode, 1) << r.err;
    EXPECT_EQ (juce::String (r.err).trimEnd().indexOfChar ('\n'), -1) << "one error line: " << r.err;
    EXPECT_TRUE (r.err == "korva: KORVA is not connected.\n"
                 || juce::String (r.err).matchesWildcard ("korva: Communication Error (00\?\?)\n", false))
        << r.err;
    EXPECT_EQ (r.out, "");
    EXPECT_TRUE (filesBelow (work).isEmpty()) << filesBelow (work).joinIntoString (" ");
    for (const auto& name : filesBelow (profile))
        EXPECT_FALSE (name.endsWith (".part") || name.endsWith (".prj")) << name;

    ASSERT_TRUE (plugIn()) << korva.log();
    ASSERT_TRUE (listed());
    EXPECT_EQ (ok ({"projects"}), kDemoList);
}

} // namespace korva
