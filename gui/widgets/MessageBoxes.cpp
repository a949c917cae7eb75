#include "gui/widgets/MessageBoxes.h"

#include "core/infra/Diagnostics.h"

namespace korva
{

void traceMessageBox (const juce::String& title, const juce::String& text)
{
    infra::debugPrint (("Message box: " + title + " | " + text).toRawUTF8());
}

void showWarningBox (const juce::String& title, const juce::String& text)
{
    traceMessageBox (title, text);
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, title, text, "OK");
}

void showInformationBox (const juce::String& title, const juce::String& text)
{
    traceMessageBox (title, text);
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::InfoIcon, title, text, "OK");
}

} // namespace korva
