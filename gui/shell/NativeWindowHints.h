#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace korva
{

// Tells the X11 window manager that a top-level window has a fixed size.
//
// JUCE 7 on Linux writes the minimum and maximum size of a non-resizable
// window, then overwrites the same WM_NORMAL_HINTS with position and size
// only, so window managers offer to resize it all the same. This writes the
// hints again, complete, whenever the window has been moved or resized.
class NativeWindowHints
{
public:
    NativeWindowHints();
    ~NativeWindowHints();

    // Pins the window's current size (min = max = size). Does nothing where
    // there is no X display or the component has no native window.
    void pinSize (juce::Component& topLevel);
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
