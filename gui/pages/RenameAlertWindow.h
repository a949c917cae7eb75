#pragma once

// Asks for a new project name: shows a (n/32) counter while the user types
// and will not close on a name that the KORVA cannot store.

#include "core/projects/ProjectChecks.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace korva
{

class RenameAlertWindow final : public juce::AlertWindow, private juce::TextEditor::Listener
{
public:
    static constexpr const char* kTitle = projectchecks::kRenameTitle;
    static constexpr const char* kTooLong = projectchecks::kNameTooLong;
    static constexpr const char* kInvalidCharacters = projectchecks::kInvalidCharacters;
    static constexpr const char* kNameExists = projectchecks::kNameExists;

    // `checkDeviceNames`: the new name must not name another project on the KORVA.
    RenameAlertWindow (const juce::String& currentName, bool checkDeviceNames);
    ~RenameAlertWindow() override;

    // Runs the dialog modally. The editor's text when closed with "OK",
    // otherwise the current name unchanged.
    static juce::String askForName (const juce::String& currentName, bool checkDeviceNames);

    juce::String getNewName() const;
    juce::String getCounterText() const { return m_counter.getText(); }
    juce::TextEditor& getEditor() const { return *getTextEditor ("text"); }

    // Shows why a name was refused (title, text); a modal warning box unless
    // replaced (tests).
    std::function<void (const juce::String&, const juce::String&)> showWarning;

private:
    void okPressed();
    void updateCounter();
    void textEditorTextChanged (juce::TextEditor&) override;

    const juce::String m_currentName;
    const bool m_checkDeviceNames;
    juce::Component m_counterHolder;
    juce::Label m_counter;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RenameAlertWindow)
};

} // namespace korva
