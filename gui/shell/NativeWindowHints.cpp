#include "gui/shell/NativeWindowHints.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace korva
{

struct NativeWindowHints::Connection
{
    Display* display = XOpenDisplay (nullptr);
    ~Connection()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }
};

NativeWindowHints::NativeWindowHints() : m_connection (std::make_unique<Connection>())
{
}

NativeWindowHints::~NativeWindowHints() = default;

namespace
{
::Window nativeWindowOf (juce::ComponentPeer* peer)
{
    return peer != nullptr ? static_cast<::Window> (reinterpret_cast<std::uintptr_t> (peer->getNativeHandle())) : 0;
}
} // namespace

namespace
{
bool windowManagerRunning (Display* display)
{
    const Atom check = XInternAtom (display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None)
        return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty (display, DefaultRootWindow (display), check, 0, 1, False, XA_WINDOW, &type,
                                           &format, &count, &after, &data)
                           == Success
                       && type == XA_WINDOW && count == 1;
    if (data != nullptr)
        XFree (data);
    return found;
}
} // namespace

void NativeWindowHints::activateWithoutWindowManager (juce::Component& topLevel)
{
    auto* display = m_connection->display;
    const auto window = nativeWindowOf (topLevel.getPeer());
    if (display == nullptr || window == 0 || windowManagerRunning (display))
        return;
    XMapRaised (display, window);
    XSetInputFocus (display, window, RevertToParent, CurrentTime);
    XFlush (display);
}

} // namespace korva
