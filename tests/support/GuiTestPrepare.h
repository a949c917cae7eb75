#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

namespace test
{
// Behave like the application towards X11: JUCE then enables Xlib's thread
// support and installs its own X error handlers, as it does in the real
// program. It only does so for a standalone application.
inline void prepareGuiTests()
{
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
    (void)juce::Desktop::getInstance().getDisplays();
}
} // namespace test

} // namespace korva
