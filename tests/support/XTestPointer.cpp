#include "tests/support/XTestPointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <thread>

namespace korva::test::x11
{
namespace
{
Display* asDisplay (void* p)
{
    return static_cast<Display*> (p);
}
} // namespace

XTestPointer::XTestPointer()
{
    Display* d = XOpenDisplay (nullptr);
    if (d == nullptr)
        return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension (d, &event, &error, &major, &minor))
    {
        XCloseDisplay (d);
        return;
    }
    m_display = d;

    Window root, child;
    int winX = 0, winY = 0;
    unsigned int mask = 0;
    XQueryPointer (d, DefaultRootWindow (d), &root, &child, &m_x, &m_y, &winX, &winY, &mask);
}

XTestPointer::~XTestPointer()
{
    if (m_display != nullptr)
        XCloseDisplay (asDisplay (m_display));
}

void XTestPointer::moveTo (int rootX, int rootY)
{
    if (m_display == nullptr)
        return;
    auto* d = asDisplay (m_display);
    XTestFakeMotionEvent (d, DefaultScreen (d), rootX, rootY, CurrentTime);
    XSync (d, False);
    m_x = rootX;
    m_y = rootY;
}

void XTestPointer::glideTo (int rootX, int rootY, int steps, int pauseMs)
{
    const int fromX = m_x, fromY = m_y;
    steps = steps < 1 ? 1 : steps;
    for (int i = 1; i <= steps; ++i)
    {
        moveTo (fromX + (rootX - fromX) * i / steps, fromY + (rootY - fromY) * i / steps);
        std::this_thread::sleep_for (std::chrono::milliseconds (pauseMs));
    }
}

void XTestPointer::press (unsigned int button)
{
    if (m_display == nullptr)
        return;
    XTestFakeButtonEvent (asDisplay (m_display), button, True, CurrentTime);
    XSync (asDisplay (m_display), False);
}

void XTestPointer::release (unsigned int button)
{
    if (m_display == nullptr)
        return;
    XTestFakeButtonEvent (asDisplay (m_display), button, False, CurrentTime);
    XSync (asDisplay (m_display), False);
}

void ignoreXErrors()
{
    XSetErrorHandler ([] (Display*, XErrorEvent*) { return 0; });
}

std::optional<Bounds> rootBoundsOf (unsigned long window)
{
    Display* d = XOpenDisplay (nullptr);
    if (d == nullptr)
        return std::nullopt;

    std::optional<Bounds> bounds;
    XWindowAttributes attributes;
    int x = 0, y = 0;
    Window child = None;
    if (XGetWindowAttributes (d, window, &attributes) &&
        XTranslateCoordinates (d, window, DefaultRootWindow (d), 0, 0, &x, &y, &child))
        bounds = Bounds{x, y, attributes.width, attributes.height};
    XCloseDisplay (d);
    return bounds;
}
} // namespace korva::test::x11
