#pragma once

// What the registry's thread waits on, whatever the system: a wake-up signal
// that any thread raises, and a wait for the first of several waitables.
//
// A waitable is what the system waits on: a file descriptor on Linux (ready
// when readable), a kernel object HANDLE on Windows (ready when signalled),
// held in an intptr_t. kNoWaitable stands for none and is left out of every
// wait; on Windows a null handle is none as well.
//
// On Windows the wait also dispatches the window messages of the waiting
// thread's windows (the hot-plug window lives there), and may end early
// after doing so with nothing ready. On Linux it is poll().

#include <cstdint>
#include <vector>

namespace korva
{

namespace hidlink
{

using HidWaitable = std::intptr_t;
constexpr HidWaitable kNoWaitable = -1;

// A level signal: once raised it stays ready until consumed.
class HidWakeSignal
{
public:
    HidWakeSignal();
    ~HidWakeSignal();

    HidWakeSignal (const HidWakeSignal&) = delete;
    HidWakeSignal& operator= (const HidWakeSignal&) = delete;

    // False when the system would not make one: it never becomes ready.
    bool isValid() const noexcept { return m_waitable != kNoWaitable; }

    // Any thread.
    void raise() noexcept;
    // Lowers it again; a raise that comes afterwards is seen by the next wait.
    void consume() noexcept;

    HidWaitable getWaitable() const noexcept { return m_waitable; }

private:
    const HidWaitable m_waitable;
};

// Waits until at least one of the waitables is ready, or timeoutMs has
// passed (-1: no limit). `ready` gets one entry per waitable. Returns how
// many are ready (0: none, the time is up or the wait was interrupted), or
// -1 when the system cannot wait, with its error number in `error` (errno on
// Linux, GetLastError() on Windows).
int waitForAny (const std::vector<HidWaitable>& waitables, int timeoutMs, std::vector<bool>& ready, int& error);

} // namespace hidlink

} // namespace korva
