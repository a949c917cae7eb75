// The korva tool against a KORVA it reaches as a real one: through libudev,
// sysfs and /dev/hidrawN. korva-sim answers behind an emulated hidraw node
// (korva-hidraw-emu); the test runs in the emulation's mount namespace.

#include "core/device/DeviceMessages.h"
#include "core/hidlink/HidBackend.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/HidrawKorva.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/ToolProcess.h"
#include "tools/korva-sim/DemoContent.h"
#include "tools/korva-sim/ProjectStore.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

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

struct KorvaToolOnHidraw : ::testing::Test
{
    TempFolder root;
    const juce::File home = root / "home";
    const juce::File devices = root / "devices"; // no virtual KORVA here
    const juce::File store = root / "store";
    const juce::File work = root / "work";
    HidrawKorva korva{root / "korva-sim.txt"};

    void SetUp() override
    {
        KORVA_REQUIRE_HIDRAW_EMULATION();
        ASSERT_TRUE (home.createDirectory() && work.createDirectory() && devices.createDirectory());
    }

    bool plugIn (const std::string& mode = {})
    {
        return korva.plugIn ({"--store", store.getFullPathName().toStdString(), "--response-delay", "5"}, -1, mode);
    }

    Environment environment() const
    {
        return {{"HOME", home.getFullPathName().toStdString()},
                {"XDG_CONFIG_HOME", home.getChildFile (".config").getFullPathName().toStdString()},
                {"KORVA_VIRTUAL_DIR", devices.getFullPathName().toStdString()}};
    }

    std::string ok (const std::vector<std::string>& args) const
    {
        const ProcessResult r = runProcess (KORVA_TOOL_BINARY, args, work, 30000, environment());
        EXPECT_EQ (r.exitCode, 0) << args[0] << ": " << r.err;
        EXPECT_EQ (r.err, "") << args[0];
        return r.out;
    }

    // The test's folders handed to "nobody", who may then run korva there.
    void handOverToNobody()
    {
        ASSERT_NE (nobody, nullptr);
        ASSERT_EQ (::chmod (root.get().getFullPathName().toRawUTF8(), 0755), 0);
        for (const auto& folder : {home, work, devices})
            ASSERT_EQ (::chown (folder.getFullPathName().toRawUTF8(), nobody->pw_uid, nobody->pw_gid), 0);
    }

    // `korva projects` as "nobody", another user than the test's.
    ProcessResult projectsAsNobody() const
    {
        return runProcess ("/usr/bin/setpriv",
                           {"--reuid=" + std::to_string (nobody->pw_uid), "--regid=" + std::to_string (nobody->pw_gid),
                            "--clear-groups", "--", KORVA_TOOL_BINARY, "projects"},
                           work, 30000, environment());
    }

    const passwd* nobody = ::getpwnam ("nobody");

    Bytes onDevice (int index) const
    {
        korva::sim::ProjectStore projects (store.getFullPathName().toStdString(), {});
        std::string error;
        if (! projects.open (error) || projects.project (index) == nullptr)
            return {};
        return *projects.project (index);
    }
};
} // namespace

TEST_F (KorvaToolOnHidraw, ListsPullsPushesAndRoundTripsAPatternThroughTheNode)
{
    ASSERT_TRUE (plugIn()) << korva.log();
    const auto demo = korva::sim::makeDemoContent();

    EXPECT_EQ (ok ({"devices"}), "KORVA," + korva.node() + ",1  MELDRA KORVA  release 0100  (used)\n");
    EXPECT_EQ (ok ({"projects"}), "ID   NAME                              PATTERNS\n"
                                  "000  Demo Song                                6  in use\n"
                                  "001  Chord Study                              3\n"
                                  "002  Night Drive                              5\n"
                                  "003  Empty Sketch                             0\n"
                                  "Remaining project capacity: 124\n"
                                  "Remaining pattern capacity: 4082\n");

    ok ({"pull", "2", "-o", "night.prj"});
    EXPECT_EQ (bytesOfFile (work.getChildFile ("night.prj")), demo.projects.at (2));

    ok ({"rename-file", "night.prj", "Night Copy"});
    EXPECT_EQ (ok ({"push", "night.prj"}), "004  Night Copy                               5\n");
    EXPECT_EQ (onDevice (4), bytesOfFile (work.getChildFile ("night.prj")));

    // A pattern there and back: the notes come back as they went.
    const Bytes midi = midiFile ({TrackBytes()
                                      .noteOn (0, 60, 100)
                                      .noteOff (120, 60)
                                      .noteOn (480, 64, 90)
                                      .noteOff (600, 64)
                                      .noteOn (1440, 67, 80)
                                      .noteOff (1560, 67)
                                      .endOfTrack (1920)});
    ASSERT_TRUE (work.getChildFile ("in.mid").replaceWithData (midi.data(), midi.size()));
    ok ({"push-midi", "in.mid", "--bars", "1"});
    ok ({"pull-pattern", "-o", "out.mid", "--bars", "1"});
    EXPECT_EQ (noteOnsOf (bytesOfFile (work.getChildFile ("out.mid"))),
               (std::vector<NoteOn>{{0, 60, 100}, {480, 64, 90}, {1440, 67, 80}}));
}

// A KORVA is used by one program at a time, whoever runs it: while another
// program (here the test, as KORVA Manager would) holds the node's lock,
// another user's korva says so and asks nothing of the device; once it is
// let go, the same command works.
TEST_F (KorvaToolOnHidraw, AKorvaInUseByAnotherProgramIsLeftAloneForEveryUser)
{
    handOverToNobody();
    ASSERT_TRUE (plugIn ("0666")) << korva.log();

    int error = 0;
    auto held = hidlink::claimWithLock (korva.node(), false, error);
    ASSERT_NE (held, nullptr) << std::strerror (error);
    const ProcessResult refused = projectsAsNobody();
    EXPECT_EQ (refused.exitCode, 1) << refused.err;
    EXPECT_EQ (refused.err, "korva: " + devicemessages::cannotOpenDevice (korva.node(), EBUSY).toStdString() + "\n");
    EXPECT_EQ (korva.countInLog ("request start"), 0) << korva.log();

    held.reset();
    const ProcessResult served = projectsAsNobody();
    EXPECT_EQ (served.exitCode, 0) << served.err;
    EXPECT_NE (served.out.find ("Demo Song"), std::string::npos) << served.out;
}

// Without the udev rule the KORVA's node belongs to root alone: a user's
// korva names the node, the reason and the remedy, and asks nothing of the
// device.
TEST_F (KorvaToolOnHidraw, AUserWithoutTheUdevRuleIsToldWhyAndWhatToDo)
{
    handOverToNobody();
    ASSERT_TRUE (plugIn ("0600")) << korva.log();
    const ProcessResult r = projectsAsNobody();
    EXPECT_EQ (r.exitCode, 1) << r.err;
    EXPECT_EQ (r.err, "korva: " + devicemessages::cannotOpenDevice (korva.node(), EACCES).toStdString() + "\n");
    EXPECT_EQ (r.out, "");
    EXPECT_EQ (korva.countInLog ("request start"), 0) << korva.log();
}

} // namespace korva
