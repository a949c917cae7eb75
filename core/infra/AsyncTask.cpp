#include "core/infra/AsyncTask.h"

#include <exception>

namespace korva
{

namespace infra
{

int IAsyncTaskBox::postTask (IAsyncTask* p_task, int mode)
{
    if (! INFRA_VERIFY ("infra::IAsyncTaskBox::postTask", p_task))
        return -1;

    if (juce::Thread::getCurrentThreadId() == getThreadId())
    {
        const auto serial = static_cast<int> (p_task->getSerial());
        p_task->run();
        delete p_task;
        return serial;
    }

    const int serial = enqueue (p_task, mode);
    if (serial == 0)
        return 0;

    if (auto* pListener = m_pListener.load())
    {
        if (QVS_EXISTS (pListener))
            pListener->onTaskPosted();
        else
        {
            INFRA_VERIFY ("infra::IAsyncTaskBox::postTask", QVS_EXISTS (pListener));
            m_pListener.compare_exchange_strong (pListener, nullptr);
        }
    }
    return serial;
}

void IAsyncTaskBox::setListener (Listener* p_listener)
{
    if (INFRA_VERIFY ("infra::IAsyncTaskBox::setListener", QVS_EXISTS (p_listener)))
        m_pListener = p_listener;
}

int limitPriority (int value, const char* context)
{
    if (value < 0)
    {
        debugPrint ((juce::String (context) + " : lowerLimit=0, value=" + juce::String (value)).toRawUTF8());
        return 0;
    }
    if (value > 10)
    {
        debugPrint ((juce::String (context) + " : upperLimit=10, value=" + juce::String (value)).toRawUTF8());
        return 10;
    }
    return value;
}

juce::Thread::Priority threadPriority (int value) noexcept
{
    if (value <= 1)
        return juce::Thread::Priority::background;
    if (value <= 3)
        return juce::Thread::Priority::low;
    if (value <= 6)
        return juce::Thread::Priority::normal;
    if (value <= 8)
        return juce::Thread::Priority::high;
    return juce::Thread::Priority::highest;
}

//==============================================================================
AsyncTaskBox::AsyncTaskBox()
{
    m_pending.ensureStorageAllocated (32);
    m_running.ensureStorageAllocated (32);
}

AsyncTaskBox::~AsyncTaskBox()
{
    for (int i = m_running.size(); --i >= 0;)
        delete m_running.getUnchecked (i);

    const juce::SpinLock::ScopedLockType lock (m_lock);
    for (int i = m_pending.size(); --i >= 0;)
        delete m_pending.getUnchecked (i);
}

int AsyncTaskBox::enqueue (IAsyncTask* task, int)
{
    const juce::SpinLock::ScopedLockType lock (m_lock);
    m_pending.add (task);
    return static_cast<int> (task->getSerial());
}

void AsyncTaskBox::onTaskPosted()
{
    if (auto* owner = m_ownerThread.load())
        owner->notify();
}

void AsyncTaskBox::adopt (juce::Thread* owner)
{
    m_ownerThread = owner;
    m_ownerThreadId = juce::Thread::getCurrentThreadId();
    setListener (this);
}

void AsyncTaskBox::processTasks()
{
    // Tasks of the previous pass are deleted now, not right after they ran.
    for (int i = m_running.size(); --i >= 0;)
        delete m_running.getUnchecked (i);
    m_running.clearQuick();

    {
        const juce::SpinLock::ScopedLockType lock (m_lock);
        if (! m_pending.isEmpty())
            m_pending.swapWith (m_running);
    }

    auto* owner = m_ownerThread.load();
    for (auto* task : m_running)
    {
        if (owner != nullptr && owner->threadShouldExit())
            break;
        task->run();
    }
}

//==============================================================================
TaskDrivenThread::TaskDrivenThread (const juce::String& threadName)
    : juce::Thread (threadName), m_pBox (new AsyncTaskBox()), m_nonBlockBox (m_pBox)
{
}

TaskDrivenThread::~TaskDrivenThread()
{
    if (! stopThread (m_stopTimeoutMs))
        reportFailure ("infra::TaskDrivenThread::~TaskDrivenThread");
    // m_nonBlockBox goes next and takes the inner box, and its unrun tasks, with it.
}

int TaskDrivenThread::enqueue (IAsyncTask* task, int mode)
{
    const int serial = m_nonBlockBox.postTask (task, mode);
    m_workPending = true;
    return serial;
}

void TaskDrivenThread::stopTaskThread (int timeoutMs, const char* ownerDestructorName)
{
    if (! stopThread (timeoutMs))
        reportFailure (ownerDestructorName);
}

void TaskDrivenThread::run()
{
    m_pBox->adopt (this);

    if (! onThreadStarted())
        return;

    // Every post signals the thread, and so does a request to exit, so it
    // sleeps without a time limit; tasks posted before it adopted its box
    // (and could signal it) are taken on the first pass.
    m_workPending = true;
    const auto name = getThreadName();
    while (! threadShouldExit())
    {
        try
        {
            while ((m_workPending.load() || wait (-1)) && ! threadShouldExit())
            {
                m_workPending = false;
                m_pBox->processTasks();
            }
        }
        catch (const std::exception& e)
        {
            debugPrintf ("Exception : %s : %s", e.what(), name.toRawUTF8());
        }
        catch (const char* text)
        {
            debugPrintf ("Exception : %s : %s", text, name.toRawUTF8());
        }
        catch (...)
        {
            debugPrintf ("Unknown exception : %s", name.toRawUTF8());
        }
    }

    onThreadFinished();
}

//==============================================================================
namespace
{
class TaskMessage final : public juce::MessageManager::MessageBase
{
public:
    TaskMessage (IAsyncTask* task, std::shared_ptr<std::atomic<bool>> alive)
        : m_task (task), m_alive (std::move (alive))
    {
    }

    void messageCallback() override
    {
        // A box that has gone takes its undelivered tasks with it: they are
        // deleted below without running.
        if (m_alive->load())
        {
            std::unique_ptr<IAsyncTask> task (std::move (m_task));
            task->run();
        }
    }

    IAsyncTask* releaseTask() noexcept { return m_task.release(); }

private:
    std::unique_ptr<IAsyncTask> m_task;
    std::shared_ptr<std::atomic<bool>> m_alive;
};
} // namespace

MessageThreadTaskBox::MessageThreadTaskBox() : m_alive (std::make_shared<std::atomic<bool>> (true))
{
}

MessageThreadTaskBox::~MessageThreadTaskBox()
{
    m_alive->store (false);
}

juce::Thread::ThreadID MessageThreadTaskBox::getThreadId() const noexcept
{
    if (auto* mm = juce::MessageManager::getInstanceWithoutCreating())
        return mm->getCurrentMessageThread();
    return nullptr;
}

int MessageThreadTaskBox::enqueue (IAsyncTask* task, int)
{
    const auto serial = static_cast<int> (task->getSerial());
    juce::MessageManager::MessageBase::Ptr message (new TaskMessage (task, m_alive));

    if (! message->post())
    {
        // The message loop has ended: hand the task back unrun.
        static_cast<TaskMessage*> (message.get())->releaseTask();
        return 0;
    }
    return serial;
}

} // namespace infra

} // namespace korva
