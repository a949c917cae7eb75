#pragma once

// JUCE handles the X server's events when its connection has data to read.
// But every round trip made on the message thread (painting, a window's
// bounds, its attributes) also reads whatever events have arrived into
// Xlib's queue, and those then wait there, unhandled, until the next event
// reaches the socket: a click, the close button or a window's first paint
// could wait until the user moves the mouse again. This looks at that queue
// a few times a second and, when something waits in it, sends one of the
// program's windows an event of no meaning, whose arrival wakes the handler,
// which then takes the whole queue.

#include <juce_events/juce_events.h>

class X11EventPump final : private juce::Timer
{
public:
    static constexpr int kPeriodMs = 40;

    X11EventPump();
    ~X11EventPump() override;

private:
    void timerCallback() override;

    unsigned long m_wakeUpAtom = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (X11EventPump)
};
