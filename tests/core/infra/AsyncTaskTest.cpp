#include "core/infra/AsyncTask.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace korva
{

using namespace korva::test;

namespace
{
class Worker final : public infra::TaskDrivenThread
{
public:
    explicit Worker (const juce::String& name = "TestWorker") : TaskDrivenThread (name) { startTaskThread (0); }
    ~Worker() override { stopTaskThread (10000, "Worker::~Worker"); }
};

// Counts how often it runs and whether it was deleted.
class ProbeTask final : public infra::IAsyncTask
{
public:
    ProbeTask (std::atomic<int>& runs, std::atomic<int>& deletions, std::function<void()> body = {})
        : m_runs (runs), m_deletions (deletions), m_body (std::move (body))
    {
    }
    ~ProbeTask() override { ++m_deletions; }

    void run() override
    {
        ++m_runs;
        ranOn = juce::Thread::getCurrentThreadId();
        if (m_body)
            m_body();
    }

    std::atomic<juce::Thread::ThreadID> ranOn { nullptr };

private:
    std::atomic<int>& m_runs;
    std::atomic<int>& m_deletions;
    std::function<void()> m_body;
};

template <typename Fn>
infra::IAsyncTask* task (Fn fn)
{
    return new infra::FunctionTask<Fn> (std::move (fn));
}
} // namespace

TEST (AsyncTask, SerialNumbersCountUpPerTag)
{
    std::atomic<int> runs { 0 }, deletions { 0 };
    ProbeTask a (runs, deletions), b (runs, deletions);
    EXPECT_EQ (b.getSerial(), a.getSerial() + 1);
    EXPECT_GE (a.getSerial(), 1u);
}

TEST (AsyncTask, PostingOnTheBoxThreadRunsAtOnce)
{
    Worker worker;
    std::atomic<int> runs { 0 }, deletions { 0 };
    std::atomic<int> innerResult { 0 };
    std::atomic<int> ranBeforeReturn { -1 };
    std::atomic<bool> done { false };

    worker.postTask (task ([&] {
        auto* inner = new ProbeTask (runs, deletions);
        const auto serial = (int) inner->getSerial();
        innerResult = worker.postTask (inner) == serial ? 1 : 0;
        ranBeforeReturn = runs.load();
        done = true;
    }));

    ASSERT_TRUE (waitUntil ([&] { return done.load(); }));
    EXPECT_EQ (innerResult.load(), 1);
    EXPECT_EQ (ranBeforeReturn.load(), 1); // ran inside postTask
    EXPECT_EQ (deletions.load(), 1);       // and was deleted right after
}

TEST (AsyncTask, PostingFromElsewhereReturnsAtOnceAndRunsOnTheWorker)
{
    Worker worker;
    std::atomic<int> runs { 0 }, deletions { 0 };
    juce::WaitableEvent release;
    auto* blocker = new ProbeTask (runs, deletions, [&] { release.wait (5000); });
    auto* probe = new ProbeTask (runs, deletions);
    const auto serial = (int) probe->getSerial();

    worker.postTask (blocker);
    EXPECT_EQ (worker.postTask (probe), serial);
    EXPECT_EQ (runs.load() <= 1, true); // the probe has not run: the worker is blocked

    release.signal();
    ASSERT_TRUE (waitUntil ([&] { return runs.load() == 2; }));
    EXPECT_EQ (probe->ranOn.load(), worker.getThreadId());
}

TEST (AsyncTask, TasksRunInPostingOrder)
{
    Worker worker;
    std::vector<int> order;
    std::atomic<int> count { 0 };
    for (int i = 0; i < 50; ++i)
        worker.postTask (task ([&, i] {
            order.push_back (i);
            ++count;
        }));
    ASSERT_TRUE (waitUntil ([&] { return count.load() == 50; }));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ (order[(size_t) i], i);
}

TEST (AsyncTask, DestroyingAWorkerDeletesQueuedTasksUnrun)
{
    std::atomic<int> runs { 0 }, deletions { 0 };
    std::atomic<bool> started { false };
    {
        Worker worker;
        // The running task finishes first; it takes longer than a moment on purpose.
        worker.postTask (new ProbeTask (runs, deletions, [&] {
            started = true;
            juce::Thread::sleep (200);
        }));
        ASSERT_TRUE (waitUntil ([&] { return started.load(); }));
        for (int i = 0; i < 5; ++i)
            worker.postTask (new ProbeTask (runs, deletions));
    }
    EXPECT_EQ (runs.load(), 1);
    EXPECT_EQ (deletions.load(), 6);
}

TEST (AsyncTask, ExceptionsAreReportedAndTheWorkerGoesOn)
{
    DebugOutputCapture capture;
    Worker worker ("Thrower");

    struct Case
    {
        std::function<void()> thrower;
        const char* report;
    };
    const Case cases[] = {
        { [] { throw std::runtime_error ("boom"); }, "Exception : boom : Thrower" },
        { [] { throw "plain text"; }, "Exception : plain text : Thrower" },
        { [] { throw 42; }, "Unknown exception : Thrower" },
    };
    for (const auto& c : cases)
    {
        worker.postTask (task (c.thrower));
        ASSERT_TRUE (waitUntil ([&] { return capture.contains (c.report); })) << c.report;
    }

    std::atomic<int> after { 0 };
    worker.postTask (task ([&] { ++after; }));
    ASSERT_TRUE (waitUntil ([&] { return after.load() == 1; }));
}

TEST (AsyncTask, AThrowingTaskEndsItsPassAndTheRestOfThePassIsDropped)
{
    DebugOutputCapture capture;
    Worker worker ("Thrower");
    std::atomic<int> runs { 0 }, deletions { 0 };
    juce::WaitableEvent holding, release;

    // Hold the worker so that the next three posts land in one pass (the
    // hold must be running first, or its pass could take some of them).
    worker.postTask (task ([&] {
        holding.signal();
        release.wait (5000);
    }));
    ASSERT_TRUE (holding.wait (5000));
    worker.postTask (task ([] { throw std::runtime_error ("first"); }));
    worker.postTask (new ProbeTask (runs, deletions));
    worker.postTask (new ProbeTask (runs, deletions));
    release.signal();

    ASSERT_TRUE (waitUntil ([&] { return capture.contains ("Exception : first : Thrower"); }));
    worker.postTask (new ProbeTask (runs, deletions)); // the next pass deletes the dropped ones
    ASSERT_TRUE (waitUntil ([&] { return runs.load() == 1; }));
    EXPECT_TRUE (waitUntil ([&] { return deletions.load() == 2; }));
}

TEST (AsyncTask, NullTasksAndDeadListenersAreReported)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;
    Worker worker;

    EXPECT_EQ (worker.postTask (nullptr), -1);
    EXPECT_TRUE (capture.contains ("infra::IAsyncTaskBox::postTask - p_task"));

    worker.setListener (nullptr);
    EXPECT_TRUE (capture.contains ("infra::IAsyncTaskBox::setListener - QVS_EXISTS (p_listener)"));
}

TEST (AsyncTask, ListenerIsToldOfEveryPostAndForgottenOnceDead)
{
    struct CountingListener : infra::IAsyncTaskBox::Listener
    {
        std::atomic<int> posts { 0 };
        void onTaskPosted() override { ++posts; }
    };

    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;
    Worker worker;
    std::atomic<int> runs { 0 }, deletions { 0 };

    auto listener = std::make_unique<CountingListener>();
    worker.setListener (listener.get());
    worker.postTask (new ProbeTask (runs, deletions));
    EXPECT_EQ (listener->posts.load(), 1);

    listener.reset();
    worker.postTask (new ProbeTask (runs, deletions)); // accepted all the same
    worker.postTask (new ProbeTask (runs, deletions));
    EXPECT_EQ (capture.count ("infra::IAsyncTaskBox::postTask - QVS_EXISTS (pListener)"), 1);
    ASSERT_TRUE (waitUntil ([&] { return runs.load() == 3; }));
}

TEST (AsyncTask, PrioritiesAreClampedWithATrace)
{
    DebugOutputCapture capture;
    struct Case
    {
        int in, out;
        const char* trace;
    };
    for (const auto& c : { Case { -3, 0, "Ctx : lowerLimit=0, value=-3" }, Case { 0, 0, nullptr },
                           Case { 7, 7, nullptr }, Case { 10, 10, nullptr },
                           Case { 11, 10, "Ctx : upperLimit=10, value=11" } })
    {
        capture.clear();
        EXPECT_EQ (infra::limitPriority (c.in, "Ctx"), c.out);
        if (c.trace != nullptr)
        {
            EXPECT_EQ (capture.lines(), std::vector<std::string> { c.trace });
        }
        else
        {
            EXPECT_TRUE (capture.lines().empty());
        }
    }
}

TEST (AsyncTask, MessageBoxRunsTasksOnTheMessageThreadInOrder)
{
    infra::MessageThreadTaskBox box;
    std::vector<int> order;
    std::atomic<bool> onMessageThread { true };

    std::thread poster ([&] {
        for (int i = 0; i < 20; ++i)
            box.postTask (task ([&, i] {
                order.push_back (i);
                if (! juce::MessageManager::getInstance()->isThisTheMessageThread())
                    onMessageThread = false;
            }));
    });
    poster.join();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return order.size() == 20; }));
    EXPECT_TRUE (onMessageThread.load());
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ (order[(size_t) i], i);
}

TEST (AsyncTask, MessageBoxDropsTasksOfADestroyedBox)
{
    std::atomic<int> runs { 0 }, deletions { 0 };
    {
        infra::MessageThreadTaskBox box;
        std::thread poster ([&] { box.postTask (new ProbeTask (runs, deletions)); });
        poster.join();
    }
    runMessageLoopFor (50);
    EXPECT_EQ (runs.load(), 0);
    EXPECT_EQ (deletions.load(), 1);
}

TEST (AsyncTask, HopRunsTheWorkOnTheBoxThread)
{
    struct Hopper
    {
        infra::MessageThreadTaskBox box;
        std::atomic<int> value { 0 };
        std::atomic<bool> wasMessageThread { false };

        void set (int v)
        {
            if (infra::hop (box, [this, v] { set (v); }))
                return;
            wasMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
            value = v;
        }
    } hopper;

    hopper.set (1); // already on the message thread: done now
    EXPECT_EQ (hopper.value.load(), 1);

    std::thread other ([&] { hopper.set (2); });
    other.join();
    EXPECT_EQ (hopper.value.load(), 1); // not yet: it waits for the message loop
    ASSERT_TRUE (runMessageLoopUntil ([&] { return hopper.value.load() == 2; }));
    EXPECT_TRUE (hopper.wasMessageThread.load());
}

namespace
{
// Runs in a child process: ends the message loop, then posts from a worker.
void postAfterTheLoopEnded()
{
    std::atomic<int> runs { 0 }, deletions { 0 };
    std::atomic<int> result { -5 };
    infra::MessageThreadTaskBox box;
    juce::MessageManager::getInstance()->stopDispatchLoop();
    auto* t = new ProbeTask (runs, deletions);
    std::thread poster ([&] { result = box.postTask (t); });
    poster.join();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    const bool ok = result == 0 && runs == 0 && deletions == 0;
    delete t; // refused: the poster still owns it
    std::_Exit (ok ? 0 : 1);
}
} // namespace

TEST (AsyncTaskDeathTest, PostAfterTheMessageLoopEndedIsRefusedAndNeverRun)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_EXIT (postAfterTheLoopEnded(), ::testing::ExitedWithCode (0), "");
}

TEST (AsyncTaskConcurrency, ManyPostersOneWorker)
{
    Worker worker;
    constexpr int kPosters = 4, kTasks = 500;
    std::vector<std::vector<int>> seen (kPosters);
    std::atomic<int> total { 0 };

    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p)
        posters.emplace_back ([&, p] {
            for (int i = 0; i < kTasks; ++i)
                worker.postTask (task ([&, p, i] {
                    seen[(size_t) p].push_back (i);
                    ++total;
                }));
        });
    for (auto& t : posters)
        t.join();

    ASSERT_TRUE (waitUntil ([&] { return total.load() == kPosters * kTasks; }, 10000));
    for (const auto& s : seen)
    {
        ASSERT_EQ ((int) s.size(), kTasks);
        for (int i = 0; i < kTasks; ++i)
            EXPECT_EQ (s[(size_t) i], i);
    }
}

TEST (AsyncTaskConcurrency, MessageBoxAndWorkerHopBackAndForth)
{
    Worker worker;
    infra::MessageThreadTaskBox box;
    std::atomic<int> roundTrips { 0 };

    std::function<void (int)> bounce = [&] (int left) {
        if (left == 0)
            return;
        worker.postTask (task ([&, left] {
            box.postTask (task ([&, left] {
                ++roundTrips;
                bounce (left - 1);
            }));
        }));
    };
    bounce (100);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return roundTrips.load() == 100; }, 10000));
}

TEST (AsyncTaskConcurrency, DestroyingAWorkerWhilePostersRun)
{
    std::atomic<int> runs { 0 }, deletions { 0 };
    std::atomic<int> posted { 0 };
    {
        Worker worker;
        std::thread poster ([&] {
            for (int i = 0; i < 200; ++i)
            {
                worker.postTask (new ProbeTask (runs, deletions));
                ++posted;
            }
        });
        poster.join();
    }
    EXPECT_EQ (deletions.load(), posted.load());
    EXPECT_LE (runs.load(), posted.load());
}

} // namespace korva
