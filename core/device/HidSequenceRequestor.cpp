#include "core/device/HidSequenceRequestor.h"

#include "core/infra/AsyncTask.h"

namespace korva
{

HidSequenceRequestor::HidSequenceRequestor (std::function<bool (juce::uint8, const juce::MemoryBlock&)> send,
                                            std::function<void (juce::uint8)> refused,
                                            std::function<void (juce::uint8)> starting)
    : juce::Thread ("HidSequenceRequestor"),
      m_send (std::move (send)),
      m_refused (std::move (refused)),
      m_starting (std::move (starting))
{
    startThread (infra::threadPriority (0));
}

HidSequenceRequestor::~HidSequenceRequestor()
{
    stop();
}

void HidSequenceRequestor::stop()
{
    signalThreadShouldExit();
    notify();
    if (! waitForThreadToExit (3000))
        stopThread (1000);
}

juce::String HidSequenceRequestor::timeStamp()
{
    const auto now = juce::Time::getCurrentTime();
    return now.formatted ("[%H:%M:%S") + juce::String::formatted (".%03d] ", now.getMilliseconds());
}

void HidSequenceRequestor::setReservation (juce::uint8 dataType, const juce::MemoryBlock& payload, int priority)
{
    {
        const juce::ScopedLock lock (m_lock);
        if (m_reservedType != kNone && m_reservedPriority >= priority)
            return;

        m_reservedType = dataType;
        // Not operator=: copying an empty block into a cleared one hands
        // memcpy a null pointer.
        m_reservedPayload.replaceAll (payload.getData(), payload.getSize());
        m_reservedPriority = infra::limitPriority (priority, "HidSequenceRequestor::setReservation");
    }
    infra::debugPrintf ("setReq dataType => 0x%02x", dataType);
    notify();
}

void HidSequenceRequestor::clearReservation()
{
    const juce::ScopedLock lock (m_lock);
    m_reservedType = kNone;
    m_reservedPayload.reset();
    m_reservedPriority = 0;
}

void HidSequenceRequestor::release()
{
    m_inFlightType = kNone;
    notify();
}

void HidSequenceRequestor::reset()
{
    const juce::ScopedLock lock (m_lock);
    m_reservedType = kNone;
    m_reservedPayload.reset();
    m_reservedPriority = 0;
    m_inFlightType = kNone;
}

juce::uint8 HidSequenceRequestor::getReservedType() const
{
    const juce::ScopedLock lock (m_lock);
    return m_reservedType;
}

bool HidSequenceRequestor::isIdle() const
{
    const juce::ScopedLock lock (m_lock);
    return m_inFlightType == kNone && m_reservedType == kNone;
}

int HidSequenceRequestor::getReservedPriority() const
{
    const juce::ScopedLock lock (m_lock);
    return m_reservedPriority;
}

void HidSequenceRequestor::run()
{
    while (! threadShouldExit())
    {
        bool waiting;
        {
            const juce::ScopedLock lock (m_lock);
            waiting = m_inFlightType == kNone && m_reservedType != kNone;
        }

        if (waiting)
        {
            // The pacing: a request goes out no sooner than 50 ms (kPacingMs)
            // after it was reserved, which also gives the receive thread time
            // to go idle.
            juce::Thread::sleep (m_pacingMs.load());
            if (threadShouldExit())
                break;

            juce::uint8 type = kNone;
            juce::MemoryBlock payload;
            {
                // Take the reservation over, unless it was cleared or a
                // request went out meanwhile.
                const juce::ScopedLock lock (m_lock);
                if (m_inFlightType == kNone && m_reservedType != kNone)
                {
                    type = m_reservedType;
                    payload.swapWith (m_reservedPayload);
                    m_reservedType = kNone;
                    m_reservedPriority = 0;
                    m_inFlightType = type;
                }
            }

            if (type != kNone)
            {
                if (m_starting != nullptr)
                    m_starting (type);
                if (m_send != nullptr && m_send (type, payload))
                {
                    sendActionMessage (kSendRequestAction);
                    infra::debugPrint ((timeStamp() + juce::String::formatted ("sendReqStart dataType => 0x%02x", type))
                                           .toRawUTF8());
                }
                else if (m_refused != nullptr)
                {
                    m_refused (type);
                }
            }
            continue;
        }

        // Nothing to send until a reservation or a release says so (both
        // signal the thread); an idle program is not woken for nothing.
        wait (-1);
    }
}

} // namespace korva
