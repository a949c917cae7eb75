#include "app/X11EventPump.h"

// JUCE's own connection to the X server is only reachable through its X11
// declarations, which it leaves out unless asked for.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

X11EventPump::X11EventPump()
{
    startTimer (kPeriodMs);
}

X11EventPump::~X11EventPump()
{
    stopTimer();
}

void X11EventPump::timerCallback()
{
    auto* system = juce::XWindowSystem::getInstanceWithoutCreating();
    auto* display = system != nullptr ? system->getDisplay() : nullptr;
    if (display == nullptr || juce::ComponentPeer::getNumPeers() == 0)
        return;

    XLockDisplay (display);
    if (XEventsQueued (display, QueuedAlready) > 0)
    {
        if (m_wakeUpAtom == 0)
            m_wakeUpAtom = XInternAtom (display, "KORVA_WAKE_UP", False);

        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = (::Window) juce::ComponentPeer::getPeer (0)->getNativeHandle();
        event.xclient.message_type = (Atom) m_wakeUpAtom;
        event.xclient.format = 32;
        XSendEvent (display, event.xclient.window, False, NoEventMask, &event);
        XFlush (display);
    }
    XUnlockDisplay (display);
}
