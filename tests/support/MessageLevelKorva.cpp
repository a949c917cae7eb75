#include "tests/support/MessageLevelKorva.h"

#include "core/infra/AsyncTask.h"
#include "tests/support/TestSupport.h"

namespace korva
{

namespace test
{
MessageLevelKorva::MessageLevelKorva (HidSequenceManager& manager) : m_manager (manager)
{
    m_thread = std::thread ([this] { serve(); });
}

MessageLevelKorva::~MessageLevelKorva()
{
    {
        std::lock_guard<std::mutex> lock (m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool MessageLevelKorva::sendRequest (juce::uint8 dataType, const juce::MemoryBlock& payload)
{
    if (refuse)
        return false;
    {
        std::lock_guard<std::mutex> lock (m_mutex);
        m_sent.emplace_back (dataType, payload);
        m_queue.emplace_back (dataType, payload);
    }
    m_wake.notify_all();
    return true;
}

std::vector<std::pair<juce::uint8, juce::MemoryBlock>> MessageLevelKorva::sent() const
{
    std::lock_guard<std::mutex> lock (m_mutex);
    return m_sent;
}

int MessageLevelKorva::count (juce::uint8 type) const
{
    std::lock_guard<std::mutex> lock (m_mutex);
    int n = 0;
    for (const auto& m : m_sent)
        n += m.first == type;
    return n;
}

void MessageLevelKorva::serve()
{
    for (;;)
    {
        std::pair<juce::uint8, juce::MemoryBlock> message;
        {
            std::unique_lock<std::mutex> lock (m_mutex);
            m_wake.wait (lock, [this] { return m_stop || ! m_queue.empty(); });
            if (m_stop)
                return;
            message = std::move (m_queue.front());
            m_queue.pop_front();
        }

        // The transport's threads call the manager exactly like this.
        const auto result = sendOutcome ? sendOutcome (message.first, message.second)
                                        : static_cast<HidDeviceManager::eResult> (sendResult.load());
        m_manager.onHidSendCompleted (result);
        if (result != HidDeviceManager::kSuccess || answer == nullptr)
            continue;

        if (auto reply = answer (message.first, message.second))
        {
            m_manager.onHidRecvStarted();
            m_manager.onHidRecvCompleted (HidDeviceManager::kSuccess, message.first, *reply);
        }
    }
}

//==============================================================================
std::vector<std::string> RecordingListener::events() const
{
    std::lock_guard<std::mutex> lock (m_mutex);
    return m_events;
}

bool RecordingListener::has (const std::string& event) const
{
    return count (event) > 0;
}

int RecordingListener::count (const std::string& event) const
{
    std::lock_guard<std::mutex> lock (m_mutex);
    return (int) std::count (m_events.begin(), m_events.end(), event);
}

void RecordingListener::clear()
{
    std::lock_guard<std::mutex> lock (m_mutex);
    m_events.clear();
}

void RecordingListener::add (const std::string& event)
{
    std::lock_guard<std::mutex> lock (m_mutex);
    m_events.push_back (event);
}

//==============================================================================
bool catchUpWith (HidSequenceManager& sequencer, int timeoutMs)
{
    // The sequencer's thread runs its tasks in posting order. The loop runs
    // while it waits: the sequencer may itself be waiting for the message thread.
    auto done = std::make_shared<std::atomic<bool>> (false);
    infra::hop (sequencer, [done] { *done = true; });
    return runMessageLoopUntil ([done] { return done->load(); }, timeoutMs) && deliverPostedMessages (timeoutMs);
}

bool waitUntilAtRest (HidSequenceManager& sequencer, int timeoutMs)
{
    // Requests handed over are reserved first; the one that ends last is
    // released before its listeners are told, hence the second catching up.
    return catchUpWith (sequencer, timeoutMs)
           && runMessageLoopUntil ([&] { return sequencer.getRequestor().isIdle(); }, timeoutMs)
           && catchUpWith (sequencer, timeoutMs);
}
} // namespace test

} // namespace korva
