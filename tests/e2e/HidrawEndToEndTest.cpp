// Flows through the real window with a KORVA that the program reaches as it
// reaches a real one: through libudev, sysfs and /dev/hidrawN. korva-sim
// answers behind an emulated hidraw node (korva-hidraw-emu); the test and
// the programs it starts run in the emulation's mount namespace.

#include "core/device/DeviceMessages.h"
#include "core/hidlink/HidBackend.h"
#include "tests/e2e/DesktopFlows.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <pwd.h>

namespace korva
{

using namespace korva::test;
using namespace korva::test::e2e;

namespace
{
constexpr int kNameOffset = 4, kNameBytes = 33;

Bytes renamed (Bytes image, const std::string& name)
{
    std::fill (image.begin() + kNameOffset, image.begin() + kNameOffset + kNameBytes, 0);
    std::copy (name.begin(), name.end(), image.begin() + kNameOffset);
    return image;
}

juce::Array<juce::File> filesIn (const juce::File& folder)
{
    return folder.findChildFiles (juce::File::findFiles, false, "*"); // hidden ones too
}
} // namespace

class HidrawOnTheDesktop : public DesktopFlows
{
protected:
    HidrawOnTheDesktop() : DesktopFlows (VirtualKorva::Transport::kHidraw) {}

    void SetUp() override
    {
        KORVA_REQUIRE_HIDRAW_EMULATION();
        DesktopFlows::SetUp();
    }
};

//==============================================================================
// Plugged in through hidraw: a project comes in whole; the KORVA unplugged in
// the middle of an export gives one error, a dark lamp, and nothing
// half-written on either side; plugged in again, it is there as before.
TEST_F (HidrawOnTheDesktop, AnImportIsWholeAndAnUnplugDuringAnExportLeavesNothingHalfWritten)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 1 }, { 1, "Bravo", 3 }, { 2, "Charlie", 12 } }));
    const auto zulu = places.dataFolder.getChildFile ("Zulu_20260101_120000.prj");
    const auto zuluImage = renamed (korva.projects().at (2).image, "Zulu");
    ASSERT_TRUE (places.dataFolder.createDirectory());
    ASSERT_TRUE (zulu.replaceWithData (zuluImage.data(), zuluImage.size()));

    startConnected ({ "--slow", "100" }, 3);
    EXPECT_EQ (korva.node().rfind ("/dev/hidraw", 0), 0u) << korva.node();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 1; })) << seen();

    // "Bravo" comes in, byte for byte.
    selectRow (ui::korvaRow, ui::korvaRowName, 1);
    user.clickIn (manager, ui::importArrow);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 2; }, 20000)) << seen();
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    const auto files = filesIn (places.dataFolder);
    ASSERT_EQ (files.size(), 2);
    const auto bravo = files[0] == zulu ? files[1] : files[0];
    EXPECT_TRUE (bravo.getFileName().startsWith ("Bravo_")) << bravo.getFileName();
    EXPECT_EQ (bytesOf (bravo), korva.projects().at (1).image);

    // "Zulu" goes out, and the KORVA is unplugged after a few of its blocks.
    selectRow (ui::pcRow, ui::pcRowName, 1);
    user.clickIn (manager, ui::exportArrow);
    const auto progress = manager.waitForDialog ("");
    ASSERT_TRUE (progress.has_value()) << "no progress window; " << seen();
    ASSERT_TRUE (waitUntil ([&] { return korva.countInLog ("request complete: type 0x05, 4096 bytes") >= 3; }, 15000))
        << korva.log();
    ASSERT_TRUE (korva.unplug()) << korva.log();

    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s) && ui::korvaRows (s) == 0; }))
        << seen();
    EXPECT_TRUE (ui::showsNotConnected (lastShot)) << seen();
    acknowledgeTheCommunicationError();

    EXPECT_EQ (korva.projects().size(), 3u) << "nothing of Zulu on the KORVA";
    EXPECT_FALSE (korva.indexOf ("Zulu").has_value());
    EXPECT_EQ (filesIn (places.dataFolder).size(), 2);
    EXPECT_EQ (bytesOf (zulu), zuluImage);
    EXPECT_EQ (bytesOf (bravo), korva.projects().at (1).image);

    // Plugged in again: as before.
    ASSERT_TRUE (korva.plugIn()) << korva.log();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 3; }))
        << seen();
    EXPECT_TRUE (ui::showsConnected (lastShot)) << seen();
    EXPECT_EQ (manager.messageBoxes().size(), 1);
}

//==============================================================================
// A user for whom no udev rule opens the KORVA's node: the window says so,
// with the remedy, once each time the KORVA is plugged in, and the lamp stays
// dark. With the rule's access the same KORVA is connected.
TEST_F (HidrawOnTheDesktop, AKorvaThisUserMayNotOpenIsExplainedOncePerPlugIn)
{
    const passwd* nobody = ::getpwnam ("nobody");
    ASSERT_NE (nobody, nullptr);
    ASSERT_TRUE (places.handOver (nobody->pw_uid, nobody->pw_gid));
    manager.runAs (nobody->pw_uid, nobody->pw_gid);

    korva.setNodeMode ("0600"); // root's alone, as the kernel makes it
    ASSERT_TRUE (korva.plugIn()) << korva.log();
    ASSERT_TRUE (manager.start()) << manager.trace();
    const auto box = " | " + devicemessages::cannotOpenDevice (korva.node(), EACCES);
    acknowledgeBox (box);
    // Once the box's place is painted again: a dark lamp and an empty list.
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s) && ui::korvaRows (s) == 0; }))
        << seen();
    EXPECT_TRUE (ui::showsNotConnected (lastShot)) << seen();

    // Plugged in again: told again, once.
    ASSERT_TRUE (korva.unplug()) << korva.log();
    ASSERT_TRUE (korva.plugIn()) << korva.log();
    ASSERT_TRUE (waitUntil ([&] { return manager.messageBoxes().size() == 2; })) << seen();
    acknowledgeBox (box);

    // With access to the node (what the rule gives the user at the seat), it works.
    ASSERT_TRUE (korva.unplug()) << korva.log();
    korva.setNodeMode ("0666");
    ASSERT_TRUE (korva.plugIn()) << korva.log();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 4; }))
        << seen();
    EXPECT_EQ (manager.messageBoxes(), (juce::StringArray { box, box }));
}

//==============================================================================
// One program at a time uses the KORVA, whoever runs it. While the window
// has it, another user's korva is refused and asks nothing of it. A KORVA
// that another program holds when the window starts is told once, with a dark
// lamp, and taken as soon as that program lets it go.
TEST_F (HidrawOnTheDesktop, AKorvaIsUsedByOneProgramAtATimeForEveryUser)
{
    const passwd* nobody = ::getpwnam ("nobody");
    ASSERT_NE (nobody, nullptr);
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 1 }, { 1, "Bravo", 3 } }));
    korva.setNodeMode ("0666");
    ASSERT_TRUE (korva.plugIn()) << korva.log();
    ASSERT_TRUE (manager.start()) << manager.trace();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 2; }))
        << seen();

    const auto toolHome = places.root / "nobody";
    ASSERT_TRUE (toolHome.createDirectory());
    ASSERT_EQ (::chmod (places.root.get().getFullPathName().toRawUTF8(), 0755), 0);
    ASSERT_EQ (::chown (toolHome.getFullPathName().toRawUTF8(), nobody->pw_uid, nobody->pw_gid), 0);
    const int requestsBefore = korva.countInLog ("request start");
    juce::String errors;
    const int code = runTool ("/usr/bin/setpriv",
                              { "--reuid=" + std::to_string (nobody->pw_uid),
                                "--regid=" + std::to_string (nobody->pw_gid), "--clear-groups", "--",
                                KORVA_TOOL_BINARY, "projects" },
                              toolHome, errors);
    EXPECT_EQ (code, 1) << errors;
    EXPECT_EQ (errors, "korva: " + devicemessages::cannotOpenDevice (korva.node(), EBUSY) + "\n");
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 2; }))
        << seen();
    const int requestsAfter = korva.countInLog ("request start");
    EXPECT_LE (requestsAfter - requestsBefore, 4) << "more than the window's own polls";
    ASSERT_EQ (manager.close(), 0);

    // Another program has it as the window starts.
    int error = 0;
    auto held = hidlink::claimWithLock (korva.node(), false, error);
    ASSERT_NE (held, nullptr) << std::strerror (error);
    ASSERT_TRUE (manager.start()) << manager.trace();
    const auto busy = " | " + devicemessages::cannotOpenDevice (korva.node(), EBUSY);
    acknowledgeBox (busy);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s) && ui::korvaRows (s) == 0; }))
        << seen();
    held.reset();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 2; }))
        << seen();
    EXPECT_EQ (manager.messageBoxes(), juce::StringArray { busy });
}

//==============================================================================
// A KORVA that stops answering altogether (its process stopped behind the
// node, as a hung firmware would be): after a few unanswered requests the
// user is told once, with the remedy, and the KORVA shows as not usable (a
// dark lamp, "No Answer", an empty list) until it answers again.
TEST_F (HidrawOnTheDesktop, AKorvaThatStopsAnsweringIsToldOnceAndNotUsableUntilItAnswers)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 1 }, { 1, "Bravo", 3 } }));
    ASSERT_TRUE (korva.plugIn()) << korva.log();
    ASSERT_TRUE (manager.start()) << manager.trace();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 2; }))
        << seen();

    ASSERT_TRUE (korva.freeze());
    const juce::String silent = juce::String (" | ") + devicemessages::kNotResponding;
    ASSERT_TRUE (manager.waitForMessageBox (silent, 60000)) << manager.trace();
    const auto box = manager.waitForDialog ("");
    ASSERT_TRUE (box.has_value()) << seen();
    const auto failures = [&] { return occurrences (manager.trace(), "sendReqError"); };
    const int failed = failures();
    ASSERT_TRUE (waitUntil ([&] { return failures() > failed; }, 30000)) << "the KORVA is not asked again";
    EXPECT_EQ (manager.messageBoxes(), juce::StringArray { silent }) << "told more than once";
    ASSERT_TRUE (press (*box, 0, 1)) << seen();
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s) && ui::korvaRows (s) == 0; }))
        << seen();
    EXPECT_TRUE (showsText (lastShot, ui::connectionText, { 13.0f, juce::Colour (0xFF969696), ui::windowBackground },
                            "No Answer", { "Not Connected", "Connected" }))
        << seen();

    // It answers again: usable at once, without a word.
    ASSERT_TRUE (korva.thaw());
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 2; }, 30000))
        << seen();
    EXPECT_TRUE (ui::showsConnected (lastShot)) << seen();
    EXPECT_EQ (manager.messageBoxes(), juce::StringArray { silent });
}

} // namespace korva
