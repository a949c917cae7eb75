#include "app/InstanceLock.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

TEST (InstanceLock, OnlyOneHolderAtATime)
{
    korvatest::TempFolder tmp;
    const auto file = tmp / "sub/.instance.lock";

    auto first = std::make_unique<InstanceLock> (file);
    EXPECT_TRUE (first->isHeld());
    EXPECT_FALSE (InstanceLock (file).isHeld());

    first.reset();
    EXPECT_TRUE (InstanceLock (file).isHeld());
}

TEST (InstanceLock, AFileLeftByAnEarlierRunDoesNotBlock)
{
    korvatest::TempFolder tmp;
    const auto file = tmp / ".instance.lock";
    file.replaceWithText ("left over");
    EXPECT_TRUE (InstanceLock (file).isHeld());
}
