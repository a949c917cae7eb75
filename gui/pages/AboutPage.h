#pragma once

#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/Resources.h"
#include "gui/widgets/View.h"

namespace korva
{

// The "ABOUT" page: the version, and the button that opens the manual.
class AboutPage final : public View, private juce::Button::Listener, private juce::Timer
{
public:
    static constexpr const char* kVersionText = "1.0.1";

    AboutPage();
    ~AboutPage() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void onTransitioned (bool shown) override;

    juce::TextButton& getManualButton() noexcept { return m_manualButton; }

    // Where the manual is and how it is opened: beside the program, with the
    // system's default program for PDF files (tests replace both).
    std::function<juce::File()> manualLocation = getManualFile;
    std::function<bool (const juce::File&)> openManual;

    // Opens a file with the desktop's default program (xdg-open), passing the
    // path as one argument, never through a shell.
    bool openWithDefaultProgram (const juce::File& file);
    juce::String viewerProgram { "xdg-open" };
    int getNumRunningViewers() const noexcept { return m_viewers.size(); }

private:
    void buttonClicked (juce::Button*) override;
    void timerCallback() override; // reaps the viewers that have ended

    AboutPageLookAndFeel m_lookAndFeel;
    juce::TextButton m_manualButton { "Manual" };
    juce::OwnedArray<juce::ChildProcess> m_viewers;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutPage)
};

} // namespace korva
