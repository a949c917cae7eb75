#include "gui/shell/X11EventPump.h"

// JUCE's own connection to the X server is only reachable through its X11
// declarations, which it leaves out unless asked for.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include <juce_events/native/juce_linux_EventLoopInternal.h>

namespace juce
{
// Called by the message loop before it sleeps (cmake/juce-idle.patch).
extern bool (*korvaBeforeMessageLoopSleeps)();
} // namespace juce

namespace korva
{

namespace
{
bool handleQueuedEvents()
{
    auto* system = juce::XWindowSystem::getInstanceWithoutCreating();
    auto* display = system != nullptr ? system->getDisplay() : nullptr;
    if (display == nullptr)
        return false;

    XLockDisplay (display);
    const bool waiting = XEventsQueued (display, QueuedAlready) > 0;
    XUnlockDisplay (display);

    // JUCE's handler of the connection reads events until none is left.
    if (waiting)
        juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd (ConnectionNumber (display));
    return waiting;
}
} // namespace

X11EventPump::X11EventPump()
{
    juce::korvaBeforeMessageLoopSleeps = handleQueuedEvents;
}

X11EventPump::~X11EventPump()
{
    juce::korvaBeforeMessageLoopSleeps = nullptr;
}

} // namespace korva
