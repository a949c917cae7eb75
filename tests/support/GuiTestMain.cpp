#include "tests/support/TestMain.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
juce::JUCEApplicationBase* noApplication()
{
    return nullptr;
}
} // namespace

int main (int argc, char** argv)
{
    return korvatest::runAllTests (argc, argv, [] {
        // Behave like the application towards X11: JUCE then enables Xlib's
        // thread support and installs its own X error handlers, as it does in
        // the real program. It only does so for a standalone application.
        juce::JUCEApplicationBase::createInstance = &noApplication;
        (void) juce::Desktop::getInstance().getDisplays();
    });
}
