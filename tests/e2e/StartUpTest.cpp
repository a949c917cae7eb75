// The window as the window manager first meets it. A user's desktop manages
// the window from the moment it is mapped: a window mapped at any other size
// than its own, or without its fixed size in its hints, may stay that way.
// The program is started and closed again and again, with the virtual KORVA
// plugged in, before and after the data folder's chooser has been used.

#include "tests/e2e/DesktopFlows.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;
using namespace korva::test::e2e;

namespace
{
class StartUpOnTheDesktop : public DesktopFlows
{
protected:
    static constexpr int kStarts = 30;

    // One start and close: the window as first seen, and once painted.
    void startAndLook (int start)
    {
        SCOPED_TRACE ("start " + std::to_string (start));
        ASSERT_TRUE (manager.start (10000)) << describe (manager.firstSeen()) << "\n" << manager.trace();
        expectFixedSize (manager.firstSeen(), "when first mapped");

        ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s); })) << seen();
        const auto windows = x11probe::windowsOfProcess (manager.pid());
        ASSERT_EQ (windows.size(), 1u);
        expectFixedSize (windows[0], "once painted");
        EXPECT_EQ (windows[0].id, manager.window());
    }

    static void expectFixedSize (const std::optional<x11probe::WindowInfo>& window, const char* when)
    {
        ASSERT_TRUE (window.has_value()) << "no window " << when;
        EXPECT_EQ (window->width, 835) << when;
        EXPECT_EQ (window->height, 410) << when;
        EXPECT_TRUE (window->fixedSize) << "WM_NORMAL_HINTS do not hold the size as minimum and maximum " << when;
    }

    static std::string describe (const std::optional<x11probe::WindowInfo>& window)
    {
        if (! window.has_value())
            return "no window was seen";
        return "first seen at " + std::to_string (window->width) + " x " + std::to_string (window->height)
               + (window->fixedSize ? ", fixed" : ", not fixed");
    }
};
} // namespace

TEST_F (StartUpOnTheDesktop, TheWindowHasItsFixedSizeFromItsFirstMapOnEveryTime)
{
    if (! x11probe::windowManagerRunning())
        std::cout << "[ NOTE     ] no window manager on this display: the window is placed by nobody\n";
    ASSERT_TRUE (korva.plugIn()) << korva.log();

    const auto chosen = places.root / "Chosen";
    ASSERT_TRUE (chosen.createDirectory());
    for (int start = 1; start <= kStarts; ++start)
    {
        startAndLook (start);
        if (HasFatalFailure())
            return;

        // Halfway, the user chooses a data folder: the later starts read it.
        if (start == kStarts / 2)
        {
            places.chooseNext (chosen);
            user.clickIn (manager, ui::folderButton);
            ASSERT_TRUE (waitUntil ([&] { return places.lastChooserQuestion().size() > 0; }))
                << "the chooser was not asked";
        }
        ASSERT_EQ (manager.close(), 0) << manager.trace();
    }
    EXPECT_TRUE (places.home.getChildFile (".config/MELDRA/KORVA Manager/DirectorySetting.bin").existsAsFile());
}

} // namespace korva
