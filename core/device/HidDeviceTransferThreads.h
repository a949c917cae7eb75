#pragma once

// The two transfer threads of HidDeviceManager: one sends a message, one
// receives one. Each waits on its event; input messages routed to it replace
// its m_rxMessage and set the event. Status, abort flag and progress are read
// by other threads without a lock.

#include "core/device/HidDeviceManager.h"

#include <atomic>
#include <optional>

namespace korva
{

class HidDeviceTransferThread : public juce::Thread
{
public:
    HidDeviceTransferThread (const juce::String& name, HidDeviceManager& owner);
    ~HidDeviceTransferThread() override;

    // Replaces m_rxMessage with the message and sets the event (reader thread).
    void route (const juce::uint8* data, int size);

    int getStatus() const noexcept { return m_status.load(); }
    // Waits at most timeoutMs for the thread to be idle; returns the status then.
    int waitUntilIdle (int timeoutMs) const;
    double getProgress() const noexcept { return m_progress.load(); }
    void setAbort() noexcept { m_abort = true; }
    // Ends a transfer in progress now rather than after its waits (the
    // device is gone); an idle thread wakes and goes back to sleep.
    void interrupt();

protected:
    enum class Wait
    {
        kAccepted,
        kRefused,   // 0xAF, where it ends the waiting
        kExhausted, // every try used up
        kAborted,
        kExit
    };

    void start();
    // Asks the thread to exit, wakes it, waits 3000 ms, then stops it with
    // 1000 ms. Called by the final class's destructor, while run() still exists.
    void stop();
    // Takes the routed message out; empty when none came since the last take.
    juce::MemoryBlock takeMessage();
    void setStatus (int status) noexcept { m_status.store (status); }
    // Goes back to idle unless someone armed the thread meanwhile.
    void returnToIdleFrom (int observed) noexcept { m_status.compare_exchange_strong (observed, 0); }

    HidDeviceManager& m_manager;
    juce::WaitableEvent m_event;
    juce::uint8 m_dataType = 0;
    juce::MemoryBlock m_payload;
    std::atomic<int> m_status{0};
    std::atomic<bool> m_abort{false};
    std::atomic<double> m_progress{0.0};

private:
    juce::CriticalSection m_rxLock;
    juce::MemoryBlock m_rxMessage;
};

//==============================================================================
class HidDeviceSendThread final : public HidDeviceTransferThread
{
public:
    enum eStatus
    {
        kDoNothing = 0,
        kPreStartDataSending = 1,
        kStartDataSending = 2,
        kDataSending = 3
    };
    static constexpr const char* kStatusNames = "kDoNothing, kPreStartDataSending, kStartDataSending, kDataSending";
    static juce::String getStatusName (int status);

    explicit HidDeviceSendThread (HidDeviceManager& owner);
    ~HidDeviceSendThread() override { stop(); }

    // Under the manager lock, while idle: takes the request and wakes the thread.
    void arm (juce::uint8 dataType, const juce::MemoryBlock& payload);

private:
    void run() override;
    // The outcome, or nothing when the thread is asked to exit.
    std::optional<HidDeviceManager::eResult> transfer();
    Wait waitForAck (juce::uint8 accepted, bool refusable);
    void notify (HidDeviceManager::eResult result);

    juce::uint8 m_lastCode = 0;
};

//==============================================================================
class HidDeviceRecvThread final : public HidDeviceTransferThread
{
public:
    enum eStatus
    {
        kDoNothing = 0,
        kStartDataRecving = 1,
        kDataRecving = 2 // declared; a transfer stays in kStartDataRecving
    };
    static constexpr const char* kStatusNames = "kDoNothing, kStartDataRecving, kDataRecving";
    static juce::String getStatusName (int status);

    explicit HidDeviceRecvThread (HidDeviceManager& owner);
    ~HidDeviceRecvThread() override { stop(); }

private:
    void run() override;
    std::optional<HidDeviceManager::eResult> transfer();
};

} // namespace korva
