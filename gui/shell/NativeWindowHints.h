#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace korva
{

// What the X11 desktop needs to be told beyond what JUCE tells it. (A fixed
// size needs nothing here: JUCE writes it into every WM_NORMAL_HINTS it sets,
// see cmake/juce-desktop.patch.)
class NativeWindowHints
{
public:
    NativeWindowHints();
    ~NativeWindowHints();

    // Without a window manager (none announces itself on the root window),
    // nobody acts on JUCE's request to activate the window: this raises it
    // and gives it the keyboard itself. With one, it leaves it to it.
    void activateWithoutWindowManager (juce::Component& topLevel);

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;

    JUCE_DECLARE_NON_COPYABLE (NativeWindowHints)
};

} // namespace korva
