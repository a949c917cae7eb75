#include "core/infra/FileTools.h"
#include "core/settings/InstanceLock.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace korva
{

TEST (InstanceLock, OnlyOneHolderAtATime)
{
    korva::test::TempFolder tmp;
    const auto file = tmp / "sub/.instance.lock";

    auto first = std::make_unique<InstanceLock> (file);
    EXPECT_TRUE (first->isHeld());
    EXPECT_FALSE (InstanceLock (file).isHeld());

    first.reset();
    EXPECT_TRUE (InstanceLock (file).isHeld());
}

TEST (InstanceLock, AFileLeftByAnEarlierRunDoesNotBlock)
{
    korva::test::TempFolder tmp;
    const auto file = tmp / ".instance.lock";
    file.replaceWithText ("left over");
    EXPECT_TRUE (InstanceLock (file).isHeld());
}

// What the running program does: the holder's window is asked for on the
// message thread, once per later start.
TEST (InstanceLock, ALaterStartAsksTheHolderToShowItsWindow)
{
    korva::test::TempFolder tmp;
    const auto file = tmp / ".instance.lock";
    // What a copy that ended without removing it left is in nobody's way.
    InstanceLock::requestSocketFor (file).replaceWithText ("left over");

    InstanceLock holder (file);
    ASSERT_TRUE (holder.isHeld());
    int shown = 0;
    holder.watchRequests ([&shown] { ++shown; });

    for (int round = 1; round <= 2; ++round)
    {
        juce::String problem;
        std::atomic<bool> asked { false };
        bool answered = false;
        std::thread later (
            [&]
            {
                answered = InstanceLock (file).askHolderToShowWindow (10000, problem);
                asked = true;
            });
        EXPECT_TRUE (korva::test::runMessageLoopUntil ([&] { return asked.load() && shown == round; }, 10000));
        later.join();
        EXPECT_TRUE (answered) << problem;
        EXPECT_EQ (shown, round);
    }
}

// A holder that takes no requests (the korva tool holds the lock too): a
// later start is told so when its time is up.
TEST (InstanceLock, AHolderThatDoesNotAnswerIsToldWithItsChannel)
{
    korva::test::TempFolder tmp;
    const auto file = tmp / ".instance.lock";
    InstanceLock holder (file);
    ASSERT_TRUE (holder.isHeld());

    juce::String problem;
    EXPECT_FALSE (InstanceLock (file).askHolderToShowWindow (100, problem));
    EXPECT_TRUE (problem.contains ("did not answer")) << problem;
    EXPECT_TRUE (problem.contains (InstanceLock::requestSocketFor (file).getFullPathName())) << problem;
}

TEST (InstanceLock, AHolderThatCannotBeReachedIsToldWithItsChannel)
{
    korva::test::TempFolder tmp;
    const auto file = tmp / ".instance.lock";
    InstanceLock holder (file);
    ASSERT_TRUE (holder.isHeld());
    const auto channel = InstanceLock::requestSocketFor (file);
    ASSERT_TRUE (channel.exists());
    // (The framework takes a socket for a folder, which it cannot remove.)
    ASSERT_EQ (infra::FileTools::remove (channel), 0);

    juce::String problem;
    EXPECT_FALSE (InstanceLock (file).askHolderToShowWindow (100, problem));
    EXPECT_TRUE (problem.contains (channel.getFullPathName())) << problem;
    EXPECT_TRUE (problem.contains ("No such file or directory")) << problem;
}

} // namespace korva
