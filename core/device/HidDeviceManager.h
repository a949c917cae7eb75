#pragma once

// The transport of the device link. Detects the KORVA when the device registry
// reports a change, opens it through the HID access layer, and moves one
// message at a time between the computer and the device: a data type and a
// payload of any length, cut into 64-byte messages, acknowledged one by one
// and checked with a CRC at the end.
// One thread sends, one receives; the exchange is half-duplex. Results go to
// one listener.

#include "core/hidlink/HidLink.h"
#include "core/infra/AsyncTask.h"
#include "core/infra/Diagnostics.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>

namespace korva
{

class HidDeviceSendThread;
class HidDeviceRecvThread;

class HidDeviceManager final : public hidlink::HidInputCallback,
                               public infra::TaskDrivenThread,
                               public juce::Timer,
                               public infra::ExistenceConfirmable
{
public:
    // The outcome of one transfer. The numbers are shown to the user.
    enum eResult
    {
        kSuccess = 0,
        kCanceled = 1,
        kSendStartWriteError = 2,
        kSendStartAckTimeout = 3,
        kSendDataWriteError = 4,
        kSendDataRejected = 5,
        kSendDataAckTimeout = 6,
        kRecvStartError = 7,
        kRecvStartAckWriteError = 8,
        kRecvDataTimeout = 9,
        kRecvAckWriteError = 10,
        kRecvChecksumError = 11
    };

    // Message codes (byte 0 of every message).
    enum eCommand : juce::uint8
    {
        kCmdStartData = 0xA0,
        kCmdData = 0xA1,
        kCmdStartDataAck = 0xA8,
        kCmdDataAck = 0xA9,
        kCmdDataComplete = 0xAE,
        kCmdDataError = 0xAF
    };

    static constexpr int kReadLength = 64;   // every input message: a report without its ID byte
    static constexpr int kReportLength = 65; // every output report: report ID 0, then a message
    static constexpr int kPacketPayload = 60;
    // Larger announcements are refused: no message of the device comes near
    // it, and the receiver would otherwise allocate whatever a start says.
    static constexpr juce::uint32 kMaxRecvLength = 1 << 20;
    // How long a start message that comes right after the final acknowledgement
    // of a send waits for the send thread to notice that acknowledgement.
    static constexpr int kAnswerGraceMs = 100;

    class IHidDeviceManagerListener : public infra::ExistenceConfirmable
    {
    public:
        virtual ~IHidDeviceManagerListener() = default;
        virtual void onHidConnected (juce::StringArray& identifiers) { juce::ignoreUnused (identifiers); }
        virtual void onHidDisconnected (juce::StringArray& identifiers) { juce::ignoreUnused (identifiers); }
        // A device was found but could not be opened (a hidraw node this user
        // may not open, say); it stays unconnected until it is plugged in
        // again. Called on the manager's own thread, once per plug-in.
        virtual void onHidOpenFailed (const hidlink::HidOpenFailure& failure) { juce::ignoreUnused (failure); }
        virtual void onHidSendCompleted (eResult result) { juce::ignoreUnused (result); }
        virtual void onHidRecvStarted() {}
        // The payload must be copied during the call.
        virtual void onHidRecvCompleted (eResult result, juce::uint8 dataType, juce::MemoryBlock& data)
        {
            juce::ignoreUnused (result, dataType, data);
        }
    };

    // The program's timing; tests may shorten it.
    struct Timing
    {
        int detectionPeriodMs = 1000;
        int ackWaitMs = 1000; // one wait for an answer
        int ackTries = 5;     // waits before a transfer fails
    };

    // The process's instance, created on the first call. The application
    // deletes it at shutdown (deleteInstance), after stopping the timer and
    // clearing the listener.
    static HidDeviceManager* getInstance();
    static void deleteInstance();

    HidDeviceManager();
    explicit HidDeviceManager (Timing timing);
    ~HidDeviceManager() override;

    // How soon after a change of the registry its devices are looked at.
    static constexpr int kChangeDelayMs = 1;

    // Stores the listener and starts device detection (a first pass after
    // the detection period, then one after every change of the registry's
    // devices); null is refused.
    void setListener (IHidDeviceManagerListener* listener);
    // For shutdown: stops device detection and forgets the listener.
    void clearListener();

    // Arms the send thread with a copy of the payload; false (with a trace)
    // without a listener, without a device, or while a transfer runs.
    bool sendRequest (juce::uint8 dataType, const juce::MemoryBlock& payload);

    double getSendProgress() const;
    double getRecvProgress() const;

    // Device detection, on the message thread: one pass.
    void timerCallback() override;
    // How many passes have been made.
    int getDetectionPasses() const noexcept { return m_detectionPasses.load(); }

    // Hop onto the manager's own thread.
    void connectedHidDevice (juce::String identifier);
    void disconnectedHidDevice (juce::String identifier);
    // Asks for one more detection pass.
    void lookAgain();

    // Routes an input message to the thread it is for; on the reader thread.
    void onHidInput (hidlink::HidInput* source, const juce::uint8* data, int size) override;

    // CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR.
    static juce::uint16 calcCrc16 (const void* data, size_t size) noexcept;

    const Timing& getTiming() const noexcept { return m_timing; }

private:
    friend class HidDeviceSendThread;
    friend class HidDeviceRecvThread;
    friend struct HidDeviceManagerTestAccess;

    // One output report under the manager lock. Without an open device the
    // write fails, unless missingInputIsSuccess.
    bool writeReport (const juce::uint8* report, bool missingInputIsSuccess = false);
    // The listener when it is set and alive, else null.
    IHidDeviceManagerListener* liveListener() const;

    const Timing m_timing;
    std::atomic<int> m_detectionPasses{0};
    std::atomic<hidlink::HidInput*> m_pHidInput{nullptr}; // owned; written under m_lock
    juce::StringArray m_connectedDevices;                 // under m_lock
    juce::String m_unopenedDevice; // under m_lock: a device that could not be opened, not tried again while listed
    juce::String m_busyDevice;     // under m_lock: a device another program uses, tried again every detection period
    std::unique_ptr<HidDeviceSendThread> m_pSendThread;
    std::unique_ptr<HidDeviceRecvThread> m_pRecvThread;
    std::atomic<IHidDeviceManagerListener*> m_pListener{nullptr};
    std::atomic<juce::uint8> m_lastAckToSender{0}; // the reader's last acknowledgement for the send thread
    juce::CriticalSection m_lock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidDeviceManager)
};

} // namespace korva
