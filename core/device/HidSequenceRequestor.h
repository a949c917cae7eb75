#pragma once

// The request queue of one: at most one request waits and one is in
// progress. A thread of its own sends the waiting request 50 ms after it was
// reserved, once nothing is in progress.

#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>

namespace korva
{

class HidSequenceRequestor final : public juce::Thread, public juce::ActionBroadcaster
{
public:
    static constexpr juce::uint8 kNone = 0xFF;
    static constexpr int kPacingMs = 50;
    static constexpr const char* kSendRequestAction = "SendRequest";

    // `send` hands a request to the transport; `refused` is told when it would
    // not take it; `starting` is told just before a request goes out.
    HidSequenceRequestor (std::function<bool (juce::uint8, const juce::MemoryBlock&)> send,
                          std::function<void (juce::uint8)> refused,
                          std::function<void (juce::uint8)> starting = nullptr);
    ~HidSequenceRequestor() override;

    // Ends the thread: nothing is sent any more. The queue's state stays
    // readable and settable.
    void stop();

    // Reserves a request unless one of the same or higher priority is waiting.
    void setReservation (juce::uint8 dataType, const juce::MemoryBlock& payload, int priority);
    // Drops the waiting request (not the one in progress). Any thread.
    void clearReservation();
    // Ends the request in progress: the next waiting one goes out at once.
    void release();
    // Nothing waiting, nothing in progress (connect and disconnect).
    void reset();

    // The pause before a reserved request goes out (kPacingMs unless a
    // fuzzer or a test shortens it).
    void setPacing (int milliseconds) noexcept { m_pacingMs = milliseconds; }
    int getPacing() const noexcept { return m_pacingMs.load(); }

    juce::uint8 getInFlightType() const noexcept { return m_inFlightType.load(); }
    juce::uint8 getReservedType() const;
    int getReservedPriority() const;
    // Nothing waiting and nothing in progress, read at one instant: the two
    // read one after the other could miss a request being taken over.
    bool isIdle() const;

    // "[hh:mm:ss.mmm] " in front of the request traces.
    static juce::String timeStamp();

private:
    void run() override;

    std::function<bool (juce::uint8, const juce::MemoryBlock&)> m_send;
    std::function<void (juce::uint8)> m_refused;
    std::function<void (juce::uint8)> m_starting;

    // Reserving, clearing and taking over a reservation happen under this lock.
    juce::CriticalSection m_lock;
    juce::uint8 m_reservedType = kNone;
    juce::MemoryBlock m_reservedPayload;
    int m_reservedPriority = 0;
    std::atomic<juce::uint8> m_inFlightType { kNone };
    std::atomic<int> m_pacingMs { kPacingMs };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidSequenceRequestor)
};

} // namespace korva
