#pragma once

// What every flow through the real window needs: the user's desktop with
// KORVA Manager and a virtual KORVA, a look at the screen until it shows what
// is expected, and the user's ways with rows, buttons and boxes.

#include "tests/e2e/Desktop.h"
#include "tests/e2e/Ui.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace korva::test::e2e
{

class DesktopFlows : public ::testing::Test
{
protected:
    explicit DesktopFlows (VirtualKorva::Transport transport = VirtualKorva::Transport::kSocket,
                           const juce::String& homeName = "home")
        : places (homeName), korva (places, transport)
    {
    }

    void SetUp() override
    {
        ASSERT_TRUE (x11probe::displayAvailable()) << "the GUI tests need an X display (make test starts Xvfb)";
        x11::ignoreXErrors();
        x11probe::internWindowManagerAtoms();
        ASSERT_TRUE (user.isAvailable()) << "the X server has no XTEST extension";
        user.moveAway();
    }

    void TearDown() override
    {
        if (manager.pid() > 0 && manager.process()->waitForExit (50) == -1)
        {
            EXPECT_EQ (manager.close(), 0);
        }
        EXPECT_EQ (manager.problemsInTrace(), "");
        EXPECT_TRUE (korva.unplug());
    }

    // Waits until the window shows what `condition` looks for.
    bool waitForScreen (const std::function<bool (const juce::Image&)>& condition, int timeoutMs = 10000)
    {
        return waitUntil (
            [&] {
                lastShot = manager.screenshot();
                return lastShot.isValid() && condition (lastShot);
            },
            timeoutMs);
    }

    // For a failure message: the last screenshot, kept where a developer finds it.
    std::string seen()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto file = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getNonexistentChildFile (juce::String ("korva-e2e-") + info->name(), ".png");
        saveAsPng (lastShot, file);
        return "the window looked like " + file.getFullPathName().toStdString() + "; the program said:\n"
               + manager.trace().toStdString();
    }

    void startConnected (const std::vector<std::string>& switches = {}, int rows = -1)
    {
        ASSERT_TRUE (korva.plugIn (switches)) << korva.log();
        ASSERT_TRUE (manager.start()) << manager.trace();
        ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s); })) << seen();
        if (rows >= 0)
        {
            ASSERT_TRUE (waitForScreen ([rows] (const juce::Image& s) { return ui::korvaRows (s) == rows; })) << seen();
        }
    }

    // Presses a button of a box and sees the box go. A box that has not been
    // painted yet shows what was beneath it, where the button found may be
    // another's: the user, seeing the box stay, looks again and presses again.
    bool press (const x11probe::WindowInfo& box, std::size_t index, std::size_t count)
    {
        const auto showing = [&] {
            for (const auto& w : manager.dialogs())
                if (w.id == box.id)
                    return true;
            return false;
        };
        for (int attempt = 0; attempt < 3 && showing(); ++attempt)
            if (user.pressDialogButton (box.id, index, count) && waitUntil ([&] { return ! showing(); }, 2500))
                return true;
        return ! showing();
    }

    // Clicks a row and sees it selected. A list refreshed just then (at the
    // end of a transfer) loses the selection, and the user clicks again.
    void selectRow (juce::Point<int> (*row) (int), juce::Rectangle<int> (*name) (int), int index)
    {
        for (int click = 0; click < 3; ++click)
        {
            user.clickIn (manager, row (index));
            if (waitForScreen ([&] (const juce::Image& s) { return ui::rowSelected (s, name (index)); }, 1500))
                return;
        }
        ADD_FAILURE() << "row " << index << " cannot be selected; " << seen();
    }

    // Selects a row and clicks a button that opens a window (a question, a
    // dialog), and sees it open. A list refreshed between the two (after a
    // transfer or a rename) loses the selection, and the click does nothing:
    // the user, seeing nothing open, selects and clicks again.
    bool selectAndOpen (juce::Point<int> (*row) (int), juce::Rectangle<int> (*name) (int), int index,
                        juce::Point<int> button)
    {
        for (int attempt = 0; attempt < 3; ++attempt)
        {
            selectRow (row, name, index);
            user.clickIn (manager, button);
            if (waitUntil ([&] { return ! manager.dialogs().empty(); }, 3000))
                return true;
        }
        return false;
    }

    // A file dragged from a file manager and dropped at a point of the window;
    // the source saw the data asked for.
    void dropFile (const juce::File& file, juce::Point<int> inWindow)
    {
        const auto at = manager.onScreen (inWindow);
        x11::XdndDragSource source;
        source.drag (x11::XdndDragSource::dropWindowAt (at.x, at.y), at.x, at.y,
                     { x11::fileUri (file.getFullPathName().toStdString()) });
        EXPECT_TRUE (source.waitUntilDone (5000));
        EXPECT_TRUE (source.outcome().dataSent);
    }

    // The one window of the program with this title, once there is just one:
    // a progress window of the same title (Import All's) closes itself half a
    // second after its end, when its message is up already.
    std::optional<x11probe::WindowInfo> onlyDialog (const std::string& title, int timeoutMs = 10000)
    {
        std::optional<x11probe::WindowInfo> found;
        waitUntil (
            [&] {
                std::vector<x11probe::WindowInfo> named;
                for (const auto& w : manager.dialogs())
                    if (w.title == title)
                        named.push_back (w);
                found = named.size() == 1 ? std::optional (named[0]) : std::nullopt;
                return found.has_value();
            },
            timeoutMs);
        return found;
    }

    // Answers the one box expected with its one "OK" button, then sees it go;
    // the box has the icon given (a warning, unless told otherwise). The box
    // is the one window of its title that shows the icon: Import All's
    // progress window, of the same title and without an icon, closes itself
    // half a second after the run's end, when its message may be up already
    // or still to come.
    void acknowledgeBox (const juce::String& titleAndText, AlertIcon icon = AlertIcon::kWarning)
    {
        ASSERT_TRUE (manager.waitForMessageBox (titleAndText)) << seen();
        const auto title = titleAndText.upToFirstOccurrenceOf (" | ", false, false).toStdString();
        const auto box = boxWithIcon (title, icon);
        ASSERT_TRUE (box.has_value()) << "no box for " << titleAndText << " alone with its icon on the screen; "
                                      << seen();
        ASSERT_TRUE (press (*box, 0, 1));
        ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    }

    // The one window of this title, once it shows this icon.
    std::optional<x11probe::WindowInfo> boxWithIcon (const std::string& title, AlertIcon icon)
    {
        std::optional<x11probe::WindowInfo> box;
        const bool found = waitUntil ([&] {
            box = onlyDialog (title, 0);
            const auto bounds = box.has_value() ? x11::rootBoundsOf (box->id) : std::nullopt;
            return bounds.has_value() && alertIcon (lastShot = grabScreen (*bounds)) == icon;
        });
        return found ? box : std::nullopt;
    }

    // The one box a transfer cut off by the KORVA's going gives, answered:
    // a communication error, whichever step of the exchange the cut fell on
    // (an answer that never comes, an acknowledgement that cannot be
    // written, ...). Its title and text.
    juce::String acknowledgeTheCommunicationError()
    {
        if (! waitUntil ([&] { return ! manager.messageBoxes().isEmpty(); }))
        {
            ADD_FAILURE() << "no box; " << seen();
            return {};
        }
        const auto error = manager.messageBoxes()[0];
        EXPECT_TRUE (error.startsWith (" | Communication Error (00")) << error;
        acknowledgeBox (error);
        EXPECT_EQ (manager.messageBoxes(), juce::StringArray { error });
        return error;
    }

    // The rename dialog, as a user meets it: once it shows (with its field),
    // the field has the keyboard and the current name is selected, so the new
    // name is typed straight over it, and Return confirms it.
    void renameTo (const std::string& name)
    {
        const auto dialog = manager.waitForDialog ("Rename Project");
        ASSERT_TRUE (dialog.has_value()) << seen();
        const auto bounds = x11::rootBoundsOf (dialog->id);
        ASSERT_TRUE (bounds.has_value());
        ASSERT_TRUE (waitUntil ([&] { return alertTextEditor (grabScreen (*bounds)).has_value(); })) << "no field shown";
        ASSERT_TRUE (waitUntil ([&] { return user.keyboard().hasFocus (dialog->id); })) << "the dialog has no keyboard";
        ASSERT_TRUE (user.keyboard().type (name));
        ASSERT_TRUE (user.keyboard().tap (XK_Return));
    }

    // The "Delete Project" question: "OK" (true) or "Cancel".
    void answerDeleteQuestion (const std::string& name, bool ok)
    {
        ASSERT_TRUE (manager.waitForMessageBox ("Delete Project | Deleting project " + name + ". Are you sure?"));
        const auto box = manager.waitForDialog ("Delete Project");
        ASSERT_TRUE (box.has_value()) << seen();
        ASSERT_TRUE (press (*box, ok ? 0 : 1, 2)) << seen();
        ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    }

    Places places;
    VirtualKorva korva;
    KorvaManager manager { places };
    User user;
    juce::Image lastShot;
};

} // namespace korva::test::e2e
