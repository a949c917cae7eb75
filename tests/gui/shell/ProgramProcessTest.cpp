// Starts the real program as a user would, on the test's X display, with a
// home folder of its own.

#include "tests/gui/shell/X11Probe.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <optional>

namespace korva
{

namespace
{
// The program as a user starts it, with the test's home folder.
struct Program : korva::test::ProgramProcess
{
    Program (const juce::File& home, const juce::File& errors, bool withDisplay = true)
        : ProgramProcess (KORVA_APP_BINARY, home, errors,
                          withDisplay ? Environment {} : Environment { { "DISPLAY", std::nullopt } })
    {
    }
};

// The program's one window once it is built: mapped, titled and pinned to its
// size. While the program builds its window, passing windows come and go.
std::optional<x11probe::WindowInfo> waitForWindow (int pid, const std::string& title, int timeoutMs,
                                                   std::vector<x11probe::WindowInfo>& seen)
{
    std::optional<x11probe::WindowInfo> found;
    korva::test::waitUntil (
        [&] {
            seen = x11probe::windowsOfProcess (pid);
            for (const auto& w : seen)
                if (w.mapped && w.title == title && w.fixedSize && w.width == 835 && w.height == 410)
                    found = w;
            return found.has_value() && seen.size() == 1;
        },
        timeoutMs);
    return found;
}

std::string describe (const std::vector<x11probe::WindowInfo>& windows)
{
    std::string text;
    for (const auto& w : windows)
        text += "'" + w.title + "' " + std::to_string (w.width) + "x" + std::to_string (w.height)
                + (w.mapped ? " mapped" : "") + (w.fixedSize ? " fixed" : "") + "; ";
    return text;
}
} // namespace

// It checks which window has the keyboard, so no other test's window may run beside it.
TEST (ProgramProcessOnTheDesktop, StartsAsOneFixedWindowRaisesItForASecondStartAndClosesCleanly)
{
    ASSERT_TRUE (x11probe::displayAvailable()) << "the GUI tests need an X display (make test starts Xvfb)";
    x11probe::internWindowManagerAtoms();

    korva::test::TempFolder home;
    const auto errors = home / "stderr.txt";
    Program first (home.get(), errors);
    ASSERT_GT (first.pid(), 0);

    std::vector<x11probe::WindowInfo> seen;
    const auto found = waitForWindow (first.pid(), "KORVA Manager", 30000, seen);
    ASSERT_TRUE (found.has_value()) << "windows of the program: " << describe (seen);
    const auto window = *found;
    ASSERT_NE (window.motifFunctions, -1);
    EXPECT_NE (window.motifFunctions & x11probe::kMotifMinimise, 0);
    EXPECT_NE (window.motifFunctions & x11probe::kMotifClose, 0);
    EXPECT_EQ (window.motifFunctions & x11probe::kMotifMaximise, 0);
    EXPECT_EQ (window.motifFunctions & x11probe::kMotifResize, 0);

    {
        // The window lost behind another program's, which has the keyboard.
        x11probe::CoveringWindow other (window.id);
        ASSERT_TRUE (other.isValid());
        ASSERT_FALSE (other.coveredIsAbove());
        ASSERT_FALSE (other.coveredHasFocus());

        // A second start hands the request over and ends; the running window
        // comes to the front with the keyboard, through the window manager's
        // usual request, which the window manager acts upon (make test runs
        // the desktop tests under openbox) or, where there is none (the same
        // test on a bare display: ProgramProcessOnABareDisplay), by itself.
        Program second (home.get(), errors);
        EXPECT_EQ (second.waitForExit (15000), 0) << errors.loadFileAsString();
        EXPECT_TRUE (x11probe::windowsOfProcess (second.pid()).empty());
        EXPECT_TRUE (korva::test::waitUntil ([&] { return other.activationRequested(); }, 5000))
            << "no _NET_ACTIVE_WINDOW request";
        EXPECT_TRUE (korva::test::waitUntil ([&] { return other.coveredIsAbove(); }, 5000)) << "not raised";
        EXPECT_TRUE (korva::test::waitUntil ([&] { return other.coveredHasFocus(); }, 5000)) << "no keyboard focus";
    }

    const auto after = x11probe::windowsOfProcess (first.pid());
    ASSERT_EQ (after.size(), 1u);
    EXPECT_EQ (after[0].id, window.id);
    EXPECT_EQ (after[0].title, window.title);
    EXPECT_EQ (after[0].width, 835);
    EXPECT_TRUE (after[0].mapped);

    ASSERT_TRUE (x11probe::sendDeleteWindow (window.id));
    EXPECT_EQ (first.waitForExit (20000), 0);

    const auto log = errors.loadFileAsString();
    EXPECT_FALSE (log.contains ("Sanitizer")) << log;
    EXPECT_FALSE (log.contains ("runtime error")) << log;
    EXPECT_FALSE (log.contains ("Leaked objects")) << log;
}

TEST (ProgramProcess, WithoutADisplayItSaysSoAndEnds)
{
    korva::test::TempFolder home;
    const auto errors = home / "stderr.txt";
    Program program (home.get(), errors, false);
    ASSERT_GT (program.pid(), 0);
    EXPECT_EQ (program.waitForExit (15000), 1);
    EXPECT_TRUE (errors.loadFileAsString().contains ("needs a graphical desktop")) << errors.loadFileAsString();
}

TEST (ProgramProcess, ItsOptionsAnswerWithoutADisplay)
{
    struct Case
    {
        std::vector<std::string> arguments;
        int exitCode;
        const char* says; // on standard output for 0, standard error otherwise
    };
    for (const auto& c : { Case { { "--help" }, 0, "KORVA_TRACE" }, Case { { "-h" }, 0, "--verbose" },
                           Case { { "--version" }, 0, "korva-manager " KORVA_VERSION_STRING },
                           Case { { "--frobnicate" }, 2, "unknown option '--frobnicate'" } })
    {
        SCOPED_TRACE (c.arguments[0]);
        korva::test::TempFolder home;
        const auto errors = home / "stderr.txt";
        const auto output = home / "stdout.txt";
        korva::test::ProgramProcess program ("/bin/sh", home.get(), errors, { { "DISPLAY", std::nullopt } },
                                           { "-c", "exec \"$0\" \"$1\" > \"$2\"", KORVA_APP_BINARY,
                                             c.arguments[0], output.getFullPathName().toStdString() });
        ASSERT_EQ (program.waitForExit (15000), c.exitCode) << errors.loadFileAsString();
        const auto said = (c.exitCode == 0 ? output : errors).loadFileAsString();
        EXPECT_TRUE (said.contains (c.says)) << said;
    }
}

TEST (ProgramProcess, ATerminationRequestEndsItLikeTheCloseButton)
{
    ASSERT_TRUE (x11probe::displayAvailable());
    x11probe::internWindowManagerAtoms();
    korva::test::TempFolder home;
    const auto errors = home / "stderr.txt";
    Program program (home.get(), errors);
    std::vector<x11probe::WindowInfo> seen;
    ASSERT_TRUE (waitForWindow (program.pid(), "KORVA Manager", 30000, seen).has_value()) << describe (seen);

    ::kill (program.pid(), SIGTERM);
    EXPECT_EQ (program.waitForExit (20000), 0);
    // The normal shutdown ran: the data-folder setting was saved on the way out.
    EXPECT_TRUE ((home / ".config/MELDRA/KORVA Manager/DirectorySetting.bin").existsAsFile());
}

} // namespace korva
