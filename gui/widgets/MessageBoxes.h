#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// Shows a warning box with one "OK" button, without blocking.
void showWarningBox (const juce::String& title, const juce::String& text);
// The same with the information icon, for news that is not a warning.
void showInformationBox (const juce::String& title, const juce::String& text);

// Every box the program shows is also traced, "Message box: <title> | <text>",
// so that a trace sent with a report (or a test) tells what the user was told.
void traceMessageBox (const juce::String& title, const juce::String& text);

} // namespace korva
