#pragma once

// The keyboard of a user, for tests under Xvfb: real key events through the
// XTEST extension, delivered by the X server to the window that holds the
// input focus, as a user's typing is. Keys are named by their X keysyms
// (<X11/keysym.h>: XK_Return, XK_Control_L, XK_Next for Page Down, ...).

#include <initializer_list>
#include <string>

namespace korva::test::x11
{
class XTestKeyboard
{
public:
    XTestKeyboard();
    ~XTestKeyboard();

    // The display is open and has the XTEST extension.
    bool isAvailable() const noexcept { return m_display != nullptr; }

    // Presses and releases one key.
    bool tap (unsigned long keysym);
    // Presses the keys in order and releases them in reverse: Ctrl+Page Down is { XK_Control_L, XK_Next }.
    bool chord (std::initializer_list<unsigned long> keysyms);
    // Types printable ASCII text key by key, with Shift where the keyboard map wants it.
    // False (having typed what came before) at a character the map does not have.
    bool type (const std::string& text);

    // The window that holds the input focus (0 when none does, or it follows the pointer).
    unsigned long focusWindow() const;
    // The input focus is on `window` or on a window inside it.
    bool hasFocus (unsigned long window) const;

private:
    bool key (unsigned long keysym, bool down);

    void* m_display = nullptr;
};
} // namespace korva::test::x11
