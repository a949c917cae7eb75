// The program's X events are handled even when a round trip of its own has
// read them off the connection, where nothing else would come for them.

// Google Test first: the X headers' macros (None, Bool, ...) would break it.
#include <gtest/gtest.h>

#include <memory>

// The framework's connection to the X server, as the pump itself reaches it.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "gui/shell/X11EventPump.h"
#include "tests/gui/shell/X11Probe.h"
#include "tests/support/TestSupport.h"

namespace korva
{

using namespace korva::test;

namespace
{
struct ClickableWindow final : juce::DocumentWindow
{
    ClickableWindow() : juce::DocumentWindow ("Pump", juce::Colours::grey, 0)
    {
        setUsingNativeTitleBar (true);
        setContentOwned (new Surface (clicks), false);
        setSize (200, 100);
        setVisible (true);
    }
    void closeButtonPressed() override {}

    struct Surface final : juce::Component
    {
        explicit Surface (int& c) : count (c) {}
        void mouseDown (const juce::MouseEvent&) override { ++count; }
        int& count;
    };
    int clicks = 0;
};

// A click on the window, as the server passes it on, sent from a connection
// of its own, which has it with the server before returning.
void sendClick (unsigned long window, int x, int y)
{
    Display* other = XOpenDisplay (nullptr);
    ASSERT_NE (other, nullptr);
    for (const int type : { ButtonPress, ButtonRelease })
    {
        XEvent event {};
        event.xbutton.type = type;
        event.xbutton.window = window;
        event.xbutton.root = DefaultRootWindow (other);
        event.xbutton.x = x;
        event.xbutton.y = y;
        event.xbutton.button = Button1;
        event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        event.xbutton.same_screen = True;
        XSendEvent (other, window, False, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
    }
    XSync (other, False);
    XCloseDisplay (other);
}
} // namespace

TEST (X11EventPump, AnEventReadOffTheConnectionByARoundTripIsHandled)
{
    ASSERT_TRUE (x11probe::displayAvailable()) << "the GUI tests need an X display (make test starts Xvfb)";
    x11probe::internWindowManagerAtoms();

    ClickableWindow window;
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();
    ASSERT_NE (display, nullptr);
    const auto handle = (unsigned long) (juce::pointer_sized_uint) window.getWindowHandle();
    runMessageLoopFor (300); // mapped and painted: nothing more is on its way

    const auto pump = std::make_unique<X11EventPump>();
    for (int round = 1; round <= 3; ++round)
    {
        SCOPED_TRACE (round);
        // The click is with the server before the program's round trip (as
        // painting and window queries make them) reads its reply, and the
        // click with it, into the queue.
        sendClick (handle, 100, 50);
        XSync (display, False);
        EXPECT_GT (XEventsQueued (display, QueuedAlready), 0) << "the click is waiting in the queue";
        EXPECT_TRUE (runMessageLoopUntil ([&] { return window.clicks == round; }, 2000)) << "the click was not handled";
    }
}

} // namespace korva
