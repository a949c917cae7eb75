#include "core/device/HidDeviceTransferThreads.h"

#include "core/infra/VarUtility.h"

#include <cstring>

namespace korva
{

namespace
{
constexpr int kExitWaitMs = 3000;
constexpr int kForcedStopMs = 1000;

// Offsets within an output report: one more than within the message, behind
// the report ID.
constexpr int kCode = 1;
constexpr int kType = 2;
constexpr int kPacket = 3;
constexpr int kLength = 5;
constexpr int kCrc = 9;
constexpr int kData = 5;

void put16 (juce::uint8* p, juce::uint32 value)
{
    p[0] = static_cast<juce::uint8> (value & 0xFF);
    p[1] = static_cast<juce::uint8> ((value >> 8) & 0xFF);
}

void put32 (juce::uint8* p, juce::uint32 value)
{
    put16 (p, value & 0xFFFF);
    put16 (p + 2, value >> 16);
}

juce::uint32 get16 (const juce::uint8* p)
{
    return static_cast<juce::uint32> (p[0] | (p[1] << 8));
}

juce::uint32 get32 (const juce::uint8* p)
{
    return get16 (p) | (get16 (p + 2) << 16);
}
} // namespace

//==============================================================================
HidDeviceTransferThread::HidDeviceTransferThread (const juce::String& name, HidDeviceManager& owner)
    : juce::Thread (name), m_manager (owner)
{
}

HidDeviceTransferThread::~HidDeviceTransferThread()
{
    jassert (! isThreadRunning());
}

void HidDeviceTransferThread::stop()
{
    signalThreadShouldExit();
    m_event.signal();
    if (! waitForThreadToExit (kExitWaitMs))
        stopThread (kForcedStopMs);
}

void HidDeviceTransferThread::start()
{
    // The lowest priority that still gets the processor when the machine is
    // busy: JUCE's "background" is SCHED_IDLE on Linux, which could leave an
    // acknowledgement unanswered for longer than the device waits.
    startThread (juce::Thread::Priority::low);
}

void HidDeviceTransferThread::route (const juce::uint8* data, int size)
{
    {
        const juce::ScopedLock lock (m_rxLock);
        m_rxMessage.replaceAll (data, static_cast<size_t> (size));
    }
    m_event.signal();
}

void HidDeviceTransferThread::interrupt()
{
    m_abort = true;
    m_event.signal();
}

int HidDeviceTransferThread::waitUntilIdle (int timeoutMs) const
{
    const auto deadline = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (juce::jmax (0, timeoutMs));
    int status = getStatus();
    while (status != 0 && juce::Time::getMillisecondCounter() < deadline)
    {
        juce::Thread::sleep (1);
        status = getStatus();
    }
    return status;
}

juce::MemoryBlock HidDeviceTransferThread::takeMessage()
{
    juce::MemoryBlock message;
    const juce::ScopedLock lock (m_rxLock);
    message.swapWith (m_rxMessage);
    return message;
}

//==============================================================================
HidDeviceSendThread::HidDeviceSendThread (HidDeviceManager& owner) : HidDeviceTransferThread ("HidDevSndThrd", owner)
{
    start();
}

juce::String HidDeviceSendThread::getStatusName (int status)
{
    return infra::EnumUtility<eStatus>::getName (static_cast<eStatus> (status), kStatusNames);
}

void HidDeviceSendThread::arm (juce::uint8 dataType, const juce::MemoryBlock& payload)
{
    m_abort = false;
    m_progress = 0.0;
    m_payload = payload;
    m_dataType = dataType;
    // The status goes last: whoever sees it armed sees the request too.
    setStatus (kPreStartDataSending);
    m_event.signal();
}

void HidDeviceSendThread::notify (HidDeviceManager::eResult result)
{
    if (auto* listener = m_manager.liveListener())
        listener->onHidSendCompleted (result);
    else
        infra::debugPrint ("m_pHidDevMgr->m_pListene == nullptr");
}

void HidDeviceSendThread::run()
{
    while (! threadShouldExit())
    {
        m_lastCode = 0;
        m_event.wait (-1);
        if (threadShouldExit())
            return;

        const int status = getStatus();
        if (status != kPreStartDataSending)
        {
            // A stray acknowledgement woke the thread.
            returnToIdleFrom (status);
            continue;
        }

        const auto result = transfer();
        if (! result.has_value())
            return;

        // Idle first, then the listener hears of the end: a device that starts
        // its answer right after the last acknowledgement must not find the
        // send thread still busy, or its start message would be dropped.
        m_payload.reset();
        setStatus (kDoNothing);
        notify (*result);
    }
}

HidDeviceTransferThread::Wait HidDeviceSendThread::waitForAck (juce::uint8 accepted, bool refusable)
{
    const auto& timing = m_manager.getTiming();
    for (int tries = 0; tries < timing.ackTries;)
    {
        const bool fired = m_event.wait (timing.ackWaitMs);
        if (threadShouldExit())
            return Wait::kExit;

        if (fired)
        {
            const auto message = takeMessage();
            if (message.getSize() > 0)
                m_lastCode = static_cast<const juce::uint8*> (message.getData())[0];

            if (refusable && m_lastCode == HidDeviceManager::kCmdDataError)
                return Wait::kRefused;
            if (m_lastCode == accepted)
                return Wait::kAccepted;
        }

        ++tries; // a time-out or a wrong answer
        if (m_abort)
            return Wait::kAborted;
    }
    return Wait::kExhausted;
}

std::optional<HidDeviceManager::eResult> HidDeviceSendThread::transfer()
{
    juce::uint8 report[HidDeviceManager::kReportLength] = {};

    setStatus (kStartDataSending);
    const auto length = static_cast<juce::uint32> (m_payload.getSize());
    const auto crc = HidDeviceManager::calcCrc16 (m_payload.getData(), m_payload.getSize());
    if (m_abort)
        return HidDeviceManager::kCanceled;

    report[kCode] = HidDeviceManager::kCmdStartData;
    report[kType] = m_dataType;
    put16 (report + kPacket, 0);
    put32 (report + kLength, length);
    put16 (report + kCrc, crc);
    if (! m_manager.writeReport (report))
        return HidDeviceManager::kSendStartWriteError;
    if (m_abort)
        return HidDeviceManager::kCanceled;

    const auto started = waitForAck (HidDeviceManager::kCmdStartDataAck, false);
    if (started == Wait::kExit)
        return std::nullopt;
    if (started != Wait::kAccepted)
        return HidDeviceManager::kSendStartAckTimeout;

    setStatus (kDataSending);
    const auto* payload = static_cast<const juce::uint8*> (m_payload.getData());
    juce::uint32 remaining = length;

    // The first packet always goes out: an empty payload is one packet without bytes.
    for (juce::uint32 packet = 1;; ++packet)
    {
        std::memset (report, 0, sizeof (report));
        const auto count = juce::jmin<juce::uint32> (remaining, HidDeviceManager::kPacketPayload);
        report[kCode] = HidDeviceManager::kCmdData;
        report[kType] = m_dataType;
        put16 (report + kPacket, packet);
        if (count > 0)
            std::memcpy (report + kData, payload + (length - remaining), count);
        remaining -= count;

        const bool written = m_manager.writeReport (report);
        if (length > 0)
            m_progress = static_cast<double> (static_cast<float> (length - remaining) / static_cast<float> (length));

        auto answer = Wait::kExhausted;
        if (written)
        {
            answer =
                waitForAck (remaining > 0 ? HidDeviceManager::kCmdDataAck : HidDeviceManager::kCmdDataComplete, true);
            if (answer == Wait::kAccepted)
            {
                if (remaining == 0)
                    m_progress = 1.0;
                if (m_abort)
                    return remaining > 0 ? HidDeviceManager::kCanceled : HidDeviceManager::kSuccess;
                if (remaining > 0)
                    continue;
                return HidDeviceManager::kSuccess;
            }
        }

        if (answer == Wait::kExit || threadShouldExit())
            return std::nullopt;
        if (written && answer == Wait::kExhausted)
            return HidDeviceManager::kSendDataAckTimeout;
        if (m_lastCode == HidDeviceManager::kCmdDataError)
            return HidDeviceManager::kSendDataRejected;
        return HidDeviceManager::kSendDataWriteError; // a failed write, or the abort flag
    }
}

//==============================================================================
HidDeviceRecvThread::HidDeviceRecvThread (HidDeviceManager& owner) : HidDeviceTransferThread ("HidDevRcvThrd", owner)
{
    start();
}

juce::String HidDeviceRecvThread::getStatusName (int status)
{
    return infra::EnumUtility<eStatus>::getName (static_cast<eStatus> (status), kStatusNames);
}

void HidDeviceRecvThread::run()
{
    while (! threadShouldExit())
    {
        m_abort = false;
        m_event.wait (-1);
        if (threadShouldExit())
            return;

        const int status = getStatus();
        if (status != kDoNothing)
        {
            returnToIdleFrom (status);
            continue;
        }
        if (m_abort)
            continue; // woken by an interrupt, not by a start message

        setStatus (kStartDataRecving);
        m_payload.reset();
        m_progress = 0.0;
        if (auto* listener = m_manager.liveListener())
            listener->onHidRecvStarted();
        else
            infra::debugPrint ("m_pHidDevMgr->m_pListene == nullptr");

        const auto result = transfer();
        if (! result.has_value())
            return;

        if (auto* listener = m_manager.liveListener())
            listener->onHidRecvCompleted (*result, m_dataType, m_payload);
        else
            infra::debugPrint ("m_pHidDevMgr->m_pListene == nullptr");

        m_payload.reset();
        setStatus (kDoNothing);
    }
}

std::optional<HidDeviceManager::eResult> HidDeviceRecvThread::transfer()
{
    juce::uint8 report[HidDeviceManager::kReportLength] = {};

    // The message that woke the thread must be a start message.
    const auto start = takeMessage();
    const auto* startBytes = static_cast<const juce::uint8*> (start.getData());
    if (start.getSize() < static_cast<size_t> (HidDeviceManager::kReadLength)
        || startBytes[0] != HidDeviceManager::kCmdStartData)
        return HidDeviceManager::kRecvStartError;

    m_dataType = startBytes[1];
    const auto packetNumber = get16 (startBytes + 2);
    const auto announced = static_cast<juce::int32> (get32 (startBytes + 4));
    const auto expectedCrc = static_cast<juce::uint16> (get16 (startBytes + 8));
    if (packetNumber != 0 || announced <= 0)
        return HidDeviceManager::kRecvStartError;
    if (static_cast<juce::uint32> (announced) > HidDeviceManager::kMaxRecvLength)
    {
        infra::debugPrintf ("Recv length(%d) > kMaxRecvLength(%u)", announced, HidDeviceManager::kMaxRecvLength);
        return HidDeviceManager::kRecvStartError;
    }

    report[kCode] = HidDeviceManager::kCmdStartDataAck;
    report[kType] = m_dataType;
    if (! m_manager.writeReport (report))
        return HidDeviceManager::kRecvStartAckWriteError;
    if (m_abort)
        return HidDeviceManager::kCanceled;

    const auto length = static_cast<juce::uint32> (announced);
    m_payload.setSize (length, true);
    auto* payload = static_cast<juce::uint8*> (m_payload.getData());
    juce::uint32 remaining = length;

    const auto& timing = m_manager.getTiming();
    bool timedOut = false;
    bool written = true;

    for (;;)
    {
        // Wait for the next data message; anything else uses up a try.
        bool received = false;
        juce::uint32 packet = 0;
        for (int tries = 0; tries < timing.ackTries && ! received;)
        {
            const bool fired = m_event.wait (timing.ackWaitMs);
            if (threadShouldExit() || m_abort)
                break;
            if (fired)
            {
                const auto message = takeMessage();
                const auto* bytes = static_cast<const juce::uint8*> (message.getData());
                if (message.getSize() >= static_cast<size_t> (HidDeviceManager::kReadLength)
                    && bytes[0] == HidDeviceManager::kCmdData && get16 (bytes + 2) != 0)
                {
                    // Packets are placed in order of arrival; their numbers are not checked.
                    received = true;
                    m_dataType = bytes[1];
                    packet = get16 (bytes + 2);
                    const auto count = juce::jmin<juce::uint32> (remaining, HidDeviceManager::kPacketPayload);
                    std::memcpy (payload + (length - remaining), bytes + 4, count);
                    remaining -= count;
                    break;
                }
            }
            ++tries;
        }

        if (! received && ! threadShouldExit() && ! m_abort)
        {
            timedOut = true;
            break;
        }

        m_progress = static_cast<double> (length - remaining) / static_cast<double> (length);
        if (m_abort || threadShouldExit())
            break;

        std::memset (report, 0, sizeof (report));
        if (remaining > 0)
        {
            report[kCode] = HidDeviceManager::kCmdDataAck;
        }
        else
        {
            const bool crcMatched = HidDeviceManager::calcCrc16 (payload, length) == expectedCrc;
            report[kCode] = crcMatched ? HidDeviceManager::kCmdDataComplete : HidDeviceManager::kCmdDataError;
        }
        report[kType] = m_dataType;
        put16 (report + kPacket, packet);
        // Without an open device nothing is written, and the transfer goes on.
        written = m_manager.writeReport (report, true);

        if (m_abort || threadShouldExit() || remaining == 0 || ! written)
            break;
    }

    if (threadShouldExit())
        return std::nullopt;
    if (m_abort && remaining > 0)
        return HidDeviceManager::kCanceled;
    if (timedOut)
        return HidDeviceManager::kRecvDataTimeout;
    if (! written)
        return HidDeviceManager::kRecvAckWriteError;
    if (remaining == 0)
        return HidDeviceManager::calcCrc16 (payload, length) == expectedCrc ? HidDeviceManager::kSuccess
                                                                            : HidDeviceManager::kRecvChecksumError;
    return HidDeviceManager::kCanceled; // not reached: an abort is the only other way out
}

} // namespace korva
