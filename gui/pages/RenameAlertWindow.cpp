#include "gui/pages/RenameAlertWindow.h"

#include "core/projects/ProjectDataManager.h"
#include "gui/widgets/MessageBoxes.h"

namespace korva
{

RenameAlertWindow::RenameAlertWindow (const juce::String& currentName, bool checkDeviceNames)
    : juce::AlertWindow (kTitle, {}, juce::MessageBoxIconType::NoIcon),
      m_currentName (currentName),
      m_checkDeviceNames (checkDeviceNames)
{
    showWarning = [] (const juce::String& title, const juce::String& text) {
        traceMessageBox (title, text);
        juce::AlertWindow::showMessageBox (juce::MessageBoxIconType::WarningIcon, title, text, "OK");
    };

    addTextEditor ("text", currentName, "Project Name:");
    getEditor().setFont (juce::Font (15.0f));
    // The field, not the "OK" button (which JUCE puts first), has the keyboard
    // whenever the dialog gets it, with the name selected to type over.
    getEditor().setExplicitFocusOrder (1);

    m_counterHolder.setSize (390, 12);
    m_counter.setFont (juce::Font (12.0f));
    m_counter.setBorderSize ({});
    m_counterHolder.addAndMakeVisible (m_counter);
    m_counter.setBounds (m_counterHolder.getLocalBounds());
    addCustomComponent (&m_counterHolder);

    addButton ("OK", 1, juce::KeyPress (juce::KeyPress::returnKey));
    addButton ("Cancel", 0, juce::KeyPress (juce::KeyPress::escapeKey));

    // "OK" closes only on an acceptable name; "Cancel" keeps the framework's handling.
    for (auto* child : getChildren())
        if (auto* button = dynamic_cast<juce::TextButton*> (child); button != nullptr && button->getName() == "OK")
            button->onClick = [this] { okPressed(); };

    getEditor().addListener (this);
    updateCounter();
}

RenameAlertWindow::~RenameAlertWindow()
{
    getEditor().removeListener (this);
    removeCustomComponent (0);
}

juce::String RenameAlertWindow::askForName (const juce::String& currentName, bool checkDeviceNames)
{
#if JUCE_MODAL_LOOPS_PERMITTED
    RenameAlertWindow window (currentName, checkDeviceNames);
    return window.runModalLoop() == 1 ? window.getNewName() : currentName;
#else
    juce::ignoreUnused (checkDeviceNames);
    return currentName;
#endif
}

juce::String RenameAlertWindow::getNewName() const
{
    return getEditor().getText();
}

void RenameAlertWindow::okPressed()
{
    const auto refusal = projectchecks::checkNewName (getNewName(), m_currentName, m_checkDeviceNames);
    if (refusal.isEmpty())
        exitModalState (1);
    else if (showWarning)
        showWarning (kTitle, refusal);
}

void RenameAlertWindow::updateCounter()
{
    m_counter.setFont (juce::Font (12.0f));
    m_counter.setText ("(" + juce::String (getNewName().length()) + "/" + juce::String (ProjectDataManager::kMaxNameLength)
                           + ")",
                       juce::dontSendNotification);
}

void RenameAlertWindow::textEditorTextChanged (juce::TextEditor&)
{
    updateCounter();
}

} // namespace korva
