#pragma once

// JUCE handles the X server's events when its connection has data to read.
// But every round trip made on the message thread (painting, a window's
// bounds, its attributes, a window closed) also reads whatever events have
// arrived into Xlib's queue, and those then wait there, unhandled, until the
// next event reaches the socket: a click, the close button or a window's
// repaint could wait until the user moves the mouse again.
//
// Each time the message loop has nothing left to do, before it sleeps, this
// looks at Xlib's queue; when something waits there, JUCE's own handler of
// the connection takes the whole queue. (The hook is ours, in JUCE's message
// loop: see cmake/juce-idle.patch.) Nothing runs while nothing happens.

#include <juce_core/juce_core.h>

namespace korva
{

class X11EventPump final
{
public:
    X11EventPump();
    ~X11EventPump();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (X11EventPump)
};

} // namespace korva
