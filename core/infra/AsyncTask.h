#pragma once

// Tasks and task boxes. A task box is bound to one thread and runs the tasks
// posted to it on that thread, in posting order. Methods that may be called
// from a foreign thread "hop": they post a task that calls them again on the
// box's thread (see hop() below).

#include "core/infra/Diagnostics.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>
#include <tuple>
#include <utility>

namespace korva
{

namespace infra
{

constexpr juce::uint32 fourCC (const char (&text)[5]) noexcept
{
    return (juce::uint32 (juce::uint8 (text[0])) << 24) | (juce::uint32 (juce::uint8 (text[1])) << 16)
           | (juce::uint32 (juce::uint8 (text[2])) << 8) | juce::uint32 (juce::uint8 (text[3]));
}

// Each constructed object takes the next number of its tag's process-wide
// counter; the first serial is 1.
template <juce::uint32 Tag, typename Counter>
class SerialNumbered
{
public:
    SerialNumbered() noexcept : m_serial (static_cast<juce::uint32> (++counter())) {}
    SerialNumbered (const SerialNumbered&) noexcept : SerialNumbered() {}
    SerialNumbered& operator= (const SerialNumbered&) noexcept { return *this; }
    virtual ~SerialNumbered() = default;

    juce::uint32 getSerial() const noexcept { return m_serial; }

private:
    static Counter& counter() noexcept
    {
        static Counter value;
        return value;
    }

    const juce::uint32 m_serial;
};

constexpr juce::uint32 kTaskTag = fourCC ("task");

class IAsyncTask : public SerialNumbered<kTaskTag, juce::Atomic<juce::uint32>>, public ExistenceConfirmable
{
public:
    ~IAsyncTask() override = default;
    virtual void run() = 0;
};

// A task that keeps a target pointer and a copy of the arguments.
template <typename Target, typename ArgsTuple>
class AsyncTaskWithArgs;

template <typename Target, typename... Args>
class AsyncTaskWithArgs<Target, std::tuple<Args...>> : public IAsyncTask
{
public:
    AsyncTaskWithArgs (Target* target, Args... args) : m_target (target), m_args (std::move (args)...) {}

protected:
    Target* const m_target;
    std::tuple<Args...> m_args;
};

//==============================================================================
class IAsyncTaskBox : public juce::ReferenceCountedObject
{
public:
    class Listener : public ExistenceConfirmable
    {
    public:
        virtual ~Listener() = default;
        virtual void onTaskPosted() = 0;
    };

    ~IAsyncTaskBox() override = default;

    virtual juce::Thread::ThreadID getThreadId() const noexcept = 0;
    // True for worker boxes; nothing in the program consults it.
    virtual bool isWorkerBox() const noexcept { return true; }
    // Stores the task for later; returns its serial, or 0 when refused.
    virtual int enqueue (IAsyncTask* task, int mode) = 0;

    // Runs the task at once when called on the box's thread, otherwise queues it.
    // Returns the serial when run or accepted, 0 when refused (the caller keeps
    // the task), -1 for a null task.
    int postTask (IAsyncTask* p_task, int mode = 0);
    void setListener (Listener* p_listener);

    bool isBoxThread() const noexcept { return juce::Thread::getCurrentThreadId() == getThreadId(); }

private:
    std::atomic<Listener*> m_pListener { nullptr };
};

// Every priority the program hands to a thread or a request passes this clamp.
int limitPriority (int value, const char* context);

// The program speaks of thread priorities on a 0 (lowest) to 10 (highest)
// scale; JUCE 7 has five named levels.
juce::Thread::Priority threadPriority (int value0to10) noexcept;

//==============================================================================
// The queue of one worker thread.
class AsyncTaskBox final : public IAsyncTaskBox, public IAsyncTaskBox::Listener
{
public:
    AsyncTaskBox();
    ~AsyncTaskBox() override; // deletes the tasks still held, without running them

    juce::Thread::ThreadID getThreadId() const noexcept override { return m_ownerThreadId.load(); }
    int enqueue (IAsyncTask* task, int mode) override;
    void onTaskPosted() override;

    // Called once by the owner thread, on that thread.
    void adopt (juce::Thread* owner);
    // One pass over the posted tasks; owner thread only.
    void processTasks();

private:
    std::atomic<juce::Thread*> m_ownerThread { nullptr };
    std::atomic<juce::Thread::ThreadID> m_ownerThreadId { nullptr };
    juce::Array<IAsyncTask*> m_pending;
    juce::Array<IAsyncTask*> m_running;
    juce::SpinLock m_lock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AsyncTaskBox)
};

// The hook of a non-blocking posting mode; it simply forwards to its inner box.
class NonBlockTaskBox final : public IAsyncTaskBox
{
public:
    explicit NonBlockTaskBox (AsyncTaskBox* inner) : m_inner (inner) {}

    juce::Thread::ThreadID getThreadId() const noexcept override { return m_inner->getThreadId(); }
    int enqueue (IAsyncTask* task, int mode) override { return m_inner->postTask (task, mode); }

private:
    juce::ReferenceCountedObjectPtr<AsyncTaskBox> m_inner;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NonBlockTaskBox)
};

//==============================================================================
// A framework thread with its own task queue. Managers derive from it and
// call startThread at the end of their constructor.
class TaskDrivenThread : public IAsyncTaskBox, public juce::Thread
{
public:
    explicit TaskDrivenThread (const juce::String& threadName);
    ~TaskDrivenThread() override;

    juce::Thread::ThreadID getThreadId() const noexcept override { return juce::Thread::getThreadId(); }
    int enqueue (IAsyncTask* task, int mode) override;

    // Starts the worker at a priority of the 0 to 10 scale.
    bool startTaskThread (int priority0to10) { return startThread (threadPriority (priority0to10)); }

    virtual bool onThreadStarted() { return true; }
    virtual void onThreadFinished() {}

protected:
    // For the deriving manager's destructor: stops the thread within the time
    // limit and reports "<owner> - 1" when it had to be killed.
    void stopTaskThread (int timeoutMs, const char* ownerDestructorName);

private:
    void run() override;

    AsyncTaskBox* m_pBox;
    NonBlockTaskBox m_nonBlockBox;
    const int m_stopTimeoutMs = 3000;
    std::atomic<bool> m_workPending { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TaskDrivenThread)
};

//==============================================================================
// Hands tasks to the message loop. A task still queued when its box is
// destroyed, or posted after the message loop has ended, is deleted unrun.
class MessageThreadTaskBox final : public IAsyncTaskBox
{
public:
    MessageThreadTaskBox();
    ~MessageThreadTaskBox() override;

    juce::Thread::ThreadID getThreadId() const noexcept override;
    bool isWorkerBox() const noexcept override { return false; }
    int enqueue (IAsyncTask* task, int mode) override;

private:
    std::shared_ptr<std::atomic<bool>> m_alive;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MessageThreadTaskBox)
};

//==============================================================================
// A task that runs a function object; what the hopping methods post.
template <typename Fn>
class FunctionTask final : public IAsyncTask
{
public:
    explicit FunctionTask (Fn fn) : m_fn (std::move (fn)) {}
    void run() override { m_fn(); }

private:
    Fn m_fn;
};

// The thread hop. On the box's thread it returns false and the caller does
// the work now; elsewhere it posts `again` (which calls the method once more)
// and returns true. A task the box refuses is deleted unrun.
template <typename Fn>
bool hop (IAsyncTaskBox& box, Fn&& again)
{
    if (box.isBoxThread())
        return false;

    auto* task = new FunctionTask<std::decay_t<Fn>> (std::forward<Fn> (again));
    if (box.postTask (task, 0) <= 0)
        delete task;
    return true;
}

} // namespace infra

} // namespace korva
