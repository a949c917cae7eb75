// What the PROJECT and PATTERN pages share: the poll of the KORVA, and what
// showing and hiding a page does.

#include "gui/pages/DevicePage.h"
#include "gui/widgets/FlashingMessage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

TEST (DevicePage, PollsOnlyWhileShownAndConnected)
{
    int asked = 0;
    DevicePoll poll ([&] { ++asked; });
    poll.setPeriod (10);

    struct Step
    {
        const char* what;
        bool shown, connected, polls;
    };
    const Step steps[] = {
        { "hidden, no KORVA", false, false, false },
        { "shown, no KORVA", true, false, false },
        { "connected while hidden", false, true, false },
        { "shown and connected", true, true, true },
        { "hidden", false, true, false },
        { "shown again", true, true, true },
        { "unplugged", true, false, false },
        { "plugged in again", true, true, true },
    };
    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.what);
        poll.keep (step.shown, step.connected);
        EXPECT_EQ (poll.isPolling(), step.polls);
        if (! step.polls)
            continue;

        // Told again and again, more often than it asks, it goes on asking.
        const int before = asked;
        EXPECT_TRUE (runMessageLoopUntil ([&] {
            poll.keep (step.shown, step.connected);
            return asked >= before + 2;
        }));
    }
}

TEST (DevicePage, ShowingClearsTheStatusLineAndRefreshes)
{
    HidSequenceManager sequencer;
    juce::Component page;
    for (const bool shown : { true, false })
    {
        SCOPED_TRACE (shown ? "shown" : "hidden");
        FlashingMessage::getInstance()->setMessage ("old news");
        int refreshed = 0;
        devicePageTransitioned (page, shown, sequencer, [&] { ++refreshed; });
        EXPECT_EQ (FlashingMessage::getInstance()->getMessage(), shown ? "" : "old news");
        EXPECT_EQ (refreshed, shown ? 1 : 0);
    }
    FlashingMessage::deleteInstance();
}

} // namespace korva
