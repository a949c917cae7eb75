// The waits of the registry's thread on Windows: manual-reset events, and
// MsgWaitForMultipleObjects with a message pump, so that the windows of the
// waiting thread (the hot-plug window) get their messages while it waits.

#include "core/hidlink/HidWait.h"

#include <windows.h>

namespace korva
{

namespace hidlink
{

namespace
{
HidWaitable makeEvent()
{
    // Manual reset: it stays signalled until consumed, and looking at it
    // does not lower it.
    const HANDLE event = ::CreateEventA (nullptr, TRUE, FALSE, nullptr);
    return event != nullptr ? reinterpret_cast<HidWaitable> (event) : kNoWaitable;
}

HANDLE handleOf (HidWaitable waitable)
{
    return reinterpret_cast<HANDLE> (waitable);
}

// Every message waiting for this thread goes to its window procedure; the
// messages other threads send (WM_DEVICECHANGE is one) are delivered inside
// PeekMessage.
void dispatchMessages()
{
    MSG message;
    while (::PeekMessageA (&message, nullptr, 0, 0, PM_REMOVE))
    {
        ::TranslateMessage (&message);
        ::DispatchMessageA (&message);
    }
}
} // namespace

HidWakeSignal::HidWakeSignal() : m_waitable (makeEvent())
{
}

HidWakeSignal::~HidWakeSignal()
{
    if (isValid())
        ::CloseHandle (handleOf (m_waitable));
}

void HidWakeSignal::raise() noexcept
{
    if (isValid())
        ::SetEvent (handleOf (m_waitable));
}

void HidWakeSignal::consume() noexcept
{
    if (isValid())
        ::ResetEvent (handleOf (m_waitable));
}

int waitForAny (const std::vector<HidWaitable>& waitables, int timeoutMs, std::vector<bool>& ready, int& error)
{
    error = 0;
    ready.assign (waitables.size(), false);

    std::vector<HANDLE> handles;
    std::vector<size_t> positions;
    for (size_t i = 0; i < waitables.size(); ++i)
    {
        if (waitables[i] == kNoWaitable || waitables[i] == 0)
            continue;
        handles.push_back (handleOf (waitables[i]));
        positions.push_back (i);
    }
    // One slot is the message queue's.
    if (handles.size() >= MAXIMUM_WAIT_OBJECTS)
    {
        error = ERROR_INVALID_PARAMETER;
        return -1;
    }

    // The wait ends only for messages that arrive after it begins: those
    // already queued are dispatched first.
    dispatchMessages();

    const auto count = static_cast<DWORD> (handles.size());
    const DWORD result = ::MsgWaitForMultipleObjects (count, handles.empty() ? nullptr : handles.data(), FALSE,
                                                      timeoutMs < 0 ? INFINITE : static_cast<DWORD> (timeoutMs),
                                                      QS_ALLINPUT);
    if (result == WAIT_FAILED)
    {
        error = static_cast<int> (::GetLastError());
        return -1;
    }
    if (result == WAIT_TIMEOUT)
        return 0;
    if (result == WAIT_OBJECT_0 + count)
        dispatchMessages(); // a window procedure may have signalled one of the waitables

    // The wait names the first signalled object only: the others are
    // looked at without waiting. (An auto-reset object, which the wait has
    // lowered, is the one it named.)
    if (result < WAIT_OBJECT_0 + count)
        ready[positions[result - WAIT_OBJECT_0]] = true;
    else if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
        ready[positions[result - WAIT_ABANDONED_0]] = true;

    int readyCount = 0;
    for (size_t k = 0; k < handles.size(); ++k)
    {
        if (! ready[positions[k]])
            ready[positions[k]] = ::WaitForSingleObject (handles[k], 0) == WAIT_OBJECT_0;
        readyCount += ready[positions[k]] ? 1 : 0;
    }
    return readyCount;
}

} // namespace hidlink

} // namespace korva
