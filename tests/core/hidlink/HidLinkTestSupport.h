#pragma once

// What the tests of the access layer share, on every system: reports, and
// recorders of what reaches a client and the connect callbacks.

#include "core/hidlink/HidLink.h"
#include "tests/core/hidlink/ScopedRegistry.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace korva
{

namespace test
{

// A report of `size` bytes that starts with `head` and is zero after it.
inline std::vector<std::uint8_t> report (std::initializer_list<int> head, std::size_t size = 65)
{
    std::vector<std::uint8_t> bytes (size, 0);
    std::size_t i = 0;
    for (int value : head)
        bytes[i++] = static_cast<std::uint8_t> (value);
    return bytes;
}

// The number at the end of a device identifier.
inline juce::uint32 trailingNumber (const juce::String& identifier)
{
    return static_cast<juce::uint32> (identifier.fromLastOccurrenceOf (",", false, false).getLargeIntValue());
}

// Records what reaches it, and which input it came from.
class RecordingCallback final : public hidlink::HidInputCallback
{
public:
    void onHidInput (hidlink::HidInput* source, const std::uint8_t* data, int size) override
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_sources.push_back (source);
        m_reports.emplace_back (data, data + size);
        m_changed.notify_all();
    }

    bool waitForCount (std::size_t count, int timeoutMs = 3000)
    {
        std::unique_lock<std::mutex> lock (m_lock);
        return m_changed.wait_for (lock, std::chrono::milliseconds (timeoutMs),
                                   [&] { return m_reports.size() >= count; });
    }

    std::vector<std::vector<std::uint8_t>> reports()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_reports;
    }

    std::vector<hidlink::HidInput*> sources()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_sources;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::vector<std::uint8_t>> m_reports;
    std::vector<hidlink::HidInput*> m_sources;
};

// Records every arrival ("+path") and removal ("-path") the registry's
// callbacks hear of, with the thread each came on.
class ConnectRecorder final : public hidlink::HidDeviceConnectCallback
{
public:
    ConnectRecorder() { hidlink::HidManager::addConnectCallback (this); }
    ~ConnectRecorder() override { hidlink::HidManager::removeConnectCallback (this); }

    void onConnected (const hidlink::HidDeviceCaps& caps) override { record ("+" + caps.path, caps); }
    void onDisconnected (const hidlink::HidDeviceCaps& caps) override { record ("-" + caps.path, caps); }

    std::vector<std::string> events()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_events;
    }
    std::vector<hidlink::HidDeviceCaps> caps()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_caps;
    }
    std::vector<juce::Thread::ThreadID> threads()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_threads;
    }

private:
    void record (const std::string& event, const hidlink::HidDeviceCaps& caps)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_events.push_back (event);
        m_caps.push_back (caps);
        m_threads.push_back (juce::Thread::getCurrentThreadId());
    }

    std::mutex m_lock;
    std::vector<std::string> m_events;
    std::vector<hidlink::HidDeviceCaps> m_caps;
    std::vector<juce::Thread::ThreadID> m_threads;
};

} // namespace test

} // namespace korva
