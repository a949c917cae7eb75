#include "app/Application.h"
#include "app/TerminationSignals.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace
{
juce::JUCEApplicationBase* createApplication()
{
    return new MELDRA_QX5_Application();
}

// Without an X display JUCE cannot make a window at all; say so plainly
// instead of failing somewhere inside the framework.
bool displayAvailable()
{
    if (Display* display = XOpenDisplay (nullptr))
    {
        XCloseDisplay (display);
        return true;
    }
    return false;
}
} // namespace

int main (int argc, char* argv[])
{
    terminationsignals::install();

    if (! displayAvailable())
    {
        std::fprintf (stderr, "KORVA Manager needs a graphical desktop (an X11 display), and none could be opened%s%s.\n",
                      std::getenv ("DISPLAY") != nullptr ? " at DISPLAY=" : ": DISPLAY is not set",
                      std::getenv ("DISPLAY") != nullptr ? std::getenv ("DISPLAY") : "");
        return 1;
    }

    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
