// The waits of the registry's thread, on the system the tests run on.

#include "core/hidlink/HidWait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace korva
{

using hidlink::HidWakeSignal;
using hidlink::kNoWaitable;
using hidlink::waitForAny;

namespace
{
double nowMs()
{
    return std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now().time_since_epoch()).count();
}
} // namespace

// A signal is a level: raised, it stays ready for every wait until consumed,
// whatever else is waited on, and the others are told apart.
TEST (HidWait, ASignalStaysReadyUntilConsumed)
{
    HidWakeSignal first, second;
    ASSERT_TRUE (first.isValid());
    ASSERT_TRUE (second.isValid());
    const std::vector<hidlink::HidWaitable> waitables = {first.getWaitable(), kNoWaitable, second.getWaitable()};
    std::vector<bool> ready;
    int error = 0;

    EXPECT_EQ (waitForAny (waitables, 0, ready, error), 0);
    EXPECT_EQ (ready, (std::vector<bool>{false, false, false}));

    second.raise();
    for (int pass = 0; pass < 2; ++pass)
    {
        EXPECT_EQ (waitForAny (waitables, 0, ready, error), 1) << "pass " << pass;
        EXPECT_EQ (ready, (std::vector<bool>{false, false, true})) << "pass " << pass;
    }

    first.raise();
    first.raise(); // twice is once
    EXPECT_EQ (waitForAny (waitables, -1, ready, error), 2);
    EXPECT_EQ (ready, (std::vector<bool>{true, false, true}));

    second.consume();
    EXPECT_EQ (waitForAny (waitables, 0, ready, error), 1);
    EXPECT_EQ (ready, (std::vector<bool>{true, false, false}));
    first.consume();
    first.consume(); // consuming a lowered signal does not block
    EXPECT_EQ (waitForAny (waitables, 0, ready, error), 0);
    EXPECT_EQ (error, 0);
}

// The wait ends when the time is up, or at once when another thread raises
// a signal.
TEST (HidWait, AWaitEndsWhenTheTimeIsUpOrASignalIsRaised)
{
    HidWakeSignal signal;
    std::vector<bool> ready;
    int error = 0;

    auto start = nowMs();
    EXPECT_EQ (waitForAny ({signal.getWaitable()}, 50, ready, error), 0);
    EXPECT_GE (nowMs() - start, 40.0);

    // Nothing to wait on but the time.
    start = nowMs();
    EXPECT_EQ (waitForAny ({kNoWaitable}, 30, ready, error), 0);
    EXPECT_GE (nowMs() - start, 20.0);

    // Raised by another thread, before the wait or while it is under way,
    // it ends the wait long before its time.
    start = nowMs();
    std::thread raiser ([&] { signal.raise(); });
    EXPECT_EQ (waitForAny ({signal.getWaitable()}, 20000, ready, error), 1);
    EXPECT_LT (nowMs() - start, 10000.0);
    EXPECT_EQ (ready, std::vector<bool>{true});
    raiser.join();
}

} // namespace korva
