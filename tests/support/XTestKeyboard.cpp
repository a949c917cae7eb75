#include "tests/support/XTestKeyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>
#include <vector>

namespace korva::test::x11
{
namespace
{
Display* asDisplay (void* p)
{
    return static_cast<Display*> (p);
}

// Between two key events, as a quick typist leaves them: some toolkits drop
// a release that arrives in the same instant as its press.
void pause()
{
    std::this_thread::sleep_for (std::chrono::milliseconds (8));
}
} // namespace

XTestKeyboard::XTestKeyboard()
{
    Display* d = XOpenDisplay (nullptr);
    if (d == nullptr)
        return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (! XTestQueryExtension (d, &event, &error, &major, &minor))
    {
        XCloseDisplay (d);
        return;
    }
    m_display = d;
}

XTestKeyboard::~XTestKeyboard()
{
    if (m_display != nullptr)
        XCloseDisplay (asDisplay (m_display));
}

bool XTestKeyboard::key (unsigned long keysym, bool down)
{
    if (m_display == nullptr)
        return false;
    auto* d = asDisplay (m_display);
    const KeyCode code = XKeysymToKeycode (d, (KeySym) keysym);
    if (code == 0)
        return false;
    XTestFakeKeyEvent (d, code, down ? True : False, CurrentTime);
    XSync (d, False);
    pause();
    return true;
}

bool XTestKeyboard::tap (unsigned long keysym)
{
    return key (keysym, true) && key (keysym, false);
}

bool XTestKeyboard::chord (std::initializer_list<unsigned long> keysyms)
{
    std::vector<unsigned long> pressed;
    bool ok = true;
    for (const auto keysym : keysyms)
    {
        if (! key (keysym, true))
        {
            ok = false;
            break;
        }
        pressed.push_back (keysym);
    }
    for (auto i = pressed.rbegin(); i != pressed.rend(); ++i)
        key (*i, false);
    return ok;
}

bool XTestKeyboard::type (const std::string& text)
{
    if (m_display == nullptr)
        return false;
    auto* d = asDisplay (m_display);

    for (const char c : text)
    {
        // The keysyms of printable ASCII are the characters' own codes.
        if (c < 0x20 || c > 0x7E)
            return false;
        const auto keysym = (KeySym) c;
        const KeyCode code = XKeysymToKeycode (d, keysym);
        if (code == 0)
            return false;

        bool shifted = false;
        if (XkbKeycodeToKeysym (d, code, 0, 0) != keysym)
        {
            if (XkbKeycodeToKeysym (d, code, 0, 1) != keysym)
                return false;
            shifted = true;
        }

        if (shifted)
            key (XK_Shift_L, true);
        key (keysym, true);
        key (keysym, false);
        if (shifted)
            key (XK_Shift_L, false);
    }
    return true;
}

unsigned long XTestKeyboard::focusWindow() const
{
    if (m_display == nullptr)
        return 0;
    Window focus = None;
    int revert = 0;
    XGetInputFocus (asDisplay (m_display), &focus, &revert);
    return focus == PointerRoot ? 0 : focus;
}

bool XTestKeyboard::hasFocus (unsigned long window) const
{
    if (m_display == nullptr || window == 0)
        return false;
    auto* d = asDisplay (m_display);

    Window w = focusWindow();
    while (w != None && w != 0)
    {
        if (w == window)
            return true;
        Window root = None, parent = None, *children = nullptr;
        unsigned int count = 0;
        if (! XQueryTree (d, w, &root, &parent, &children, &count))
            return false;
        if (children != nullptr)
            XFree (children);
        if (parent == root)
            return false;
        w = parent;
    }
    return false;
}
} // namespace korva::test::x11
