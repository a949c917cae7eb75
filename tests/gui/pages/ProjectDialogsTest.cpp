#include "core/projects/ProjectLists.h"
#include "gui/pages/RenameAlertWindow.h"
#include "gui/widgets/ProgressWindow.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

namespace
{
// Runs `action` on the message loop once `delayMs` have passed, and gets any
// dialog still open out of its modal loop after a few seconds, so that a
// failing test cannot hang.
class ScopedModalDriver final : private juce::Timer
{
public:
    ScopedModalDriver (int delayMs, std::function<void()> action) : m_action (std::move (action))
    {
        startTimer (delayMs);
    }
    ~ScopedModalDriver() override { stopTimer(); }

private:
    void timerCallback() override
    {
        if (m_action)
        {
            auto action = std::move (m_action);
            m_action = nullptr;
            action();
            startTimer (5000);
            return;
        }
        stopTimer();
        juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    }

    std::function<void()> m_action;
};

RenameAlertWindow* openRenameWindow()
{
    auto* modal = juce::ModalComponentManager::getInstance()->getModalComponent (0);
    return dynamic_cast<RenameAlertWindow*> (modal);
}

struct RenameWindow : ::testing::Test
{
    std::vector<std::pair<juce::String, juce::String>> warnings;
    int result = -1;

    void SetUp() override
    {
        KorvaProjectList::getInstance()->clear();
        KorvaProjectList::getInstance()->updateFromProjectInfo (projectInfo ({ { 1, 0, "Live" } }, 0, 0, 0));
    }
    void TearDown() override { KorvaProjectList::getInstance()->clear(); }

    // Presses "OK" with this text in the editor; the dialog's result, -1 while it stays open.
    int pressOk (RenameAlertWindow& window, const juce::String& text)
    {
        warnings.clear();
        result = -1;
        window.showWarning = [this] (const juce::String& title, const juce::String& body) {
            warnings.emplace_back (title, body);
        };
        window.enterModalState (false, juce::ModalCallbackFunction::create ([this] (int r) { result = r; }));
        window.getEditor().setText (text);
        window.triggerButtonClick ("OK");
        runMessageLoopUntil ([&] { return result != -1 || ! warnings.empty(); }, 2000);
        if (result == -1)
            window.exitModalState (-1);
        runMessageLoopFor (10);
        return warnings.empty() ? result : -1;
    }
};
} // namespace

TEST_F (RenameWindow, CounterFollowsTheText)
{
    RenameAlertWindow window ("Live", false);
    EXPECT_EQ (window.getName(), "Rename Project");
    EXPECT_EQ (window.getCounterText(), "(4/32)");

    window.getEditor().setText (juce::String::repeatedString ("x", 40));
    EXPECT_TRUE (runMessageLoopUntil ([&] { return window.getCounterText() == "(40/32)"; }));
}

TEST_F (RenameWindow, OkClosesOnlyOnANameTheKorvaCanStore)
{
    const char* tooLong = "Please name project within 32 characters";
    const char* invalid = "A project name cannot contain double-byte characters and the following characters "
                          "(/\\?*:\"<> | ~).";
    const char* exists = "Could not rename this project. A project with the same name already exists.";
    struct Case
    {
        const char* current;
        bool checkDevice;
        juce::String text;
        const char* warning; // nullptr: the dialog closes with "OK"
    };
    const Case cases[] = {
        { "a~b", true, "a~b", nullptr }, // unchanged closes at once, even when invalid
        { "Old", false, juce::String::repeatedString ("n", 32), nullptr },
        { "Old", false, juce::String::repeatedString ("n", 33), tooLong },
        { "Old", false, juce::String::fromUTF8 ("caf\xc3\xa9"), invalid },
        { "Old", false, "tilde~", invalid },
        { "Old", false, "bar|", invalid },
        { "Old", true, "Live", exists },
        { "Old", true, "live", nullptr }, // the device compares exactly
        { "Old", false, "Live", nullptr }, // a computer file may share a name
        { "Old", true, "", nullptr },      // the caller ignores an empty name
    };

    for (const auto& c : cases)
    {
        RenameAlertWindow window (c.current, c.checkDevice);
        const int closed = pressOk (window, c.text);
        if (c.warning == nullptr)
        {
            EXPECT_EQ (closed, 1) << c.text;
            EXPECT_EQ (window.getNewName(), c.text);
        }
        else
        {
            ASSERT_EQ (warnings.size(), 1u) << c.text;
            EXPECT_EQ (warnings[0].first, "Rename Project");
            EXPECT_EQ (warnings[0].second, c.warning) << c.text;
        }
    }
}

TEST_F (RenameWindow, AskForNameReturnsTheConfirmedNameOrTheCurrentOne)
{
    {
        ScopedModalDriver driver (50, [] {
            auto* window = openRenameWindow();
            ASSERT_NE (window, nullptr);
            window->getEditor().setText ("New");
            window->triggerButtonClick ("OK");
        });
        EXPECT_EQ (RenameAlertWindow::askForName ("Old", false), "New");
    }
    {
        ScopedModalDriver driver (50, [] {
            auto* window = openRenameWindow();
            ASSERT_NE (window, nullptr);
            window->getEditor().setText ("Typed");
            static_cast<juce::Component*> (window)->keyPressed (juce::KeyPress (juce::KeyPress::returnKey)); // Return acts as "OK"
        });
        EXPECT_EQ (RenameAlertWindow::askForName ("Old", false), "Typed");
    }
    for (const bool escape : { false, true })
    {
        ScopedModalDriver driver (50, [escape] {
            auto* window = openRenameWindow();
            ASSERT_NE (window, nullptr);
            window->getEditor().setText ("Discarded");
            if (escape)
                static_cast<juce::Component*> (window)->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey));
            else
                window->triggerButtonClick ("Cancel");
        });
        EXPECT_EQ (RenameAlertWindow::askForName ("Old", false), "Old");
    }
}

//==============================================================================
namespace
{
// The window's polls of a sequencer, over the test's own flags.
std::function<double()> poll (const std::atomic<double>& progress)
{
    return [&progress] { return progress.load(); };
}

std::function<bool()> take (std::atomic<bool>& finished)
{
    return [&finished] { return finished.exchange (false); };
}

struct ProgressWindowDialog : ::testing::Test
{
    std::atomic<double> progress { 0.0 };
    std::atomic<bool> finished { false };
    int cancels = 0;

    juce::WeakReference<ProgressWindow> open (bool hasCancel)
    {
        auto* window = new ProgressWindow ("Delete Project", "Deleting...", true, hasCancel, poll (progress),
                                           take (finished), [this] { ++cancels; });
        window->launch();
        return window;
    }

    void TearDown() override { runMessageLoopFor (10); }
};
} // namespace

TEST_F (ProgressWindowDialog, FollowsTheProgressAndClosesHalfASecondAfterTheEnd)
{
    progress = 0.4;
    auto window = open (false);
    ASSERT_NE (window.get(), nullptr);
    EXPECT_EQ (window->getAlertWindow()->getNumButtons(), 0);
    EXPECT_EQ (window->getAlertWindow()->getName(), "Delete Project");
    EXPECT_EQ (window->getStatus(), "Deleting...");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return window->getShownProgress() == 0.4; }));

    const auto end = juce::Time::getMillisecondCounter();
    finished = true;
    ASSERT_TRUE (runMessageLoopUntil ([&] { return window == nullptr || window->getShownProgress() < 0; }));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return window == nullptr; }, 3000));
    const auto elapsed = juce::Time::getMillisecondCounter() - end;
    EXPECT_GE (elapsed, 450u);
    EXPECT_LT (elapsed, 1500u);
    EXPECT_FALSE (finished.load()); // seen, then cleared
    EXPECT_EQ (cancels, 0);
}

TEST_F (ProgressWindowDialog, AnEndSignalledBeforeTheWindowRunsStillClosesIt)
{
    // The request ended before the window's worker started: the signal is not lost.
    finished = true;
    auto window = open (false);
    EXPECT_TRUE (runMessageLoopUntil ([&] { return window == nullptr; }, 3000));
    EXPECT_FALSE (finished.load());
}

TEST_F (ProgressWindowDialog, CancelAsksForTheTransferToBeCancelled)
{
    DebugOutputCapture traces;
    auto window = open (true);
    ASSERT_EQ (window->getAlertWindow()->getNumButtons(), 1);
    runMessageLoopFor (150);

    window->getAlertWindow()->triggerButtonClick ("Cancel");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return window == nullptr; }, 3000));
    EXPECT_EQ (cancels, 1);
    EXPECT_TRUE (traces.contains ("Pressed Cancel Of ProgressWindow"));
    EXPECT_FALSE (finished.load()); // the request itself ends later, through the sequencer
}

TEST (ProgressWindowConcurrency, NoEndSignalIsMissedWhereverItFalls)
{
    std::atomic<double> progress { 0.0 };
    std::atomic<bool> finished { false };
    juce::Random random (7);

    for (int round = 0; round < 8; ++round)
    {
        finished = false;
        progress = 0.0;
        const int endAfterMs = random.nextInt (200) - 20; // negative: the request ended before the window opened

        std::thread sequencer ([&] {
            for (int i = 0; i < 10; ++i)
                progress = i / 10.0;
            if (endAfterMs > 0)
                juce::Thread::sleep (endAfterMs);
            finished = true;
        });
        if (endAfterMs <= 0)
            sequencer.join();

        juce::WeakReference<ProgressWindow> window (
            new ProgressWindow ({}, "Transferring...", true, true, poll (progress), take (finished), [] {}));
        window->launch();
        EXPECT_TRUE (runMessageLoopUntil ([&] { return window == nullptr; }, 3000)) << round;
        if (sequencer.joinable())
            sequencer.join();
        EXPECT_FALSE (finished.load());
    }
}

} // namespace korva
