// The pictures of the user's manual (docs/manual/screenshots): each page of
// the real program, connected to the virtual KORVA with the demo content a
// new user sees. This is the program korva_manual_screenshots, not part of
// the test suite: scripts/update-screenshots.sh runs it with
// KORVA_SCREENSHOT_DIR set to that folder; without it the pictures go to a
// temporary folder and are only checked.

#include "tests/e2e/Desktop.h"
#include "tests/e2e/Ui.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;
using namespace korva::test::e2e;

TEST (ManualScreenshotsOnTheDesktop, EachPageAsTheManualShowsIt)
{
    ASSERT_TRUE (x11probe::displayAvailable()) << "the GUI tests need an X display (make test starts Xvfb)";
    x11::ignoreXErrors();
    x11probe::internWindowManagerAtoms();

    Places places;
    VirtualKorva korva (places);
    KorvaManager manager (places);
    User user;
    ASSERT_TRUE (user.isAvailable());
    user.moveAway();

    const auto folder = [&] {
        const auto wanted = juce::SystemStats::getEnvironmentVariable ("KORVA_SCREENSHOT_DIR", {});
        return wanted.isNotEmpty() ? juce::File (wanted) : places.root / "screenshots";
    }();

    juce::Image shot;
    const auto waitForScreen = [&] (const std::function<bool (const juce::Image&)>& condition) {
        return waitUntil (
            [&] {
                shot = manager.screenshot();
                return shot.isValid() && condition (shot);
            },
            15000);
    };

    // The demo content korva-sim makes on its first start, as for a user.
    ASSERT_TRUE (korva.plugIn()) << korva.log();
    ASSERT_TRUE (manager.start()) << manager.trace();
    const auto projects = (int) korva.projects().size();
    ASSERT_TRUE (waitForScreen ([&] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == projects; }));

    // Two of them copied to the computer, the way the manual tells it.
    int imported = 0;
    for (int row = 0; row < projects && imported < 2; ++row)
    {
        user.clickIn (manager, ui::korvaRow (row));
        user.clickIn (manager, ui::importArrow);
        const int expected = imported + 1;
        if (waitForScreen ([&] (const juce::Image& s) { return ui::pcRows (s) == expected; }))
            ++imported; // the project in use cannot be imported: its row does nothing
        ASSERT_TRUE (manager.waitUntilNoDialog());
    }
    ASSERT_EQ (imported, 2);

    user.moveAway();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 2; }));
    const auto projectPage = shot;

    user.clickIn (manager, ui::patternTab);
    user.moveAway();
    const auto info = korva.patternInfo();
    const TextLook number { 15.0f, juce::Colours::black, juce::Colours::white };
    ASSERT_TRUE (waitForScreen ([&] (const juce::Image& s) {
        return showsText (s, ui::trackNumber, number, juce::String::formatted ("%02d", info[0]), { "--" });
    }));
    const auto patternPage = shot;

    user.clickIn (manager, ui::aboutTab);
    user.moveAway();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) {
        return showsText (s, ui::version, { 16.0f, juce::Colours::black, ui::pageBackground }, "1.0.1", { "--" });
    }));
    const auto aboutPage = shot;

    for (const auto& [name, image] : { std::pair { "project.png", projectPage }, std::pair { "pattern.png", patternPage },
                                       std::pair { "about.png", aboutPage } })
    {
        const auto file = folder.getChildFile (name);
        ASSERT_TRUE (saveAsPng (image, file)) << file.getFullPathName();
        const auto back = juce::ImageFileFormat::loadFrom (file);
        EXPECT_EQ (back.getWidth(), 835);
        EXPECT_EQ (back.getHeight(), 410);
        EXPECT_LT (meanDifference (back, back.getBounds(), image), 0.5) << name;
    }
    EXPECT_EQ (manager.close(), 0);
    EXPECT_EQ (manager.problemsInTrace(), "");
}

} // namespace korva
