#pragma once

// The mouse of a user, for tests under Xvfb: real pointer motion and button
// events through the XTEST extension, so a program (in this process or
// another) gets them from the X server like any others. See XdndPeers.h for
// the drag-and-drop peers these are used with.

#include "tests/support/XdndPeers.h"

#include <optional>

namespace korva::test::x11
{
class XTestPointer
{
public:
    XTestPointer();
    ~XTestPointer();

    // The display is open and has the XTEST extension.
    bool isAvailable() const noexcept { return m_display != nullptr; }

    // Every call is flushed to the server before it returns.
    void moveTo (int rootX, int rootY);
    // From the current position in `steps` equal motions, `pauseMs` apart, as a hand moves.
    void glideTo (int rootX, int rootY, int steps, int pauseMs = 10);
    void press (unsigned int button = 1);
    void release (unsigned int button = 1);

    int x() const noexcept { return m_x; }
    int y() const noexcept { return m_y; }

private:
    void* m_display = nullptr;
    int m_x = 0, m_y = 0;
};

// Where a window lies on the root window (its client area) and its size.
std::optional<Bounds> rootBoundsOf (unsigned long window);

// The windows a test looks at belong to other programs and may go at any
// moment; Xlib's default answer to a request about a window that is gone is
// to end the process. From this call on, X protocol errors are ignored
// (the request that failed just yields nothing), for every connection of the process.
void ignoreXErrors();
} // namespace korva::test::x11
