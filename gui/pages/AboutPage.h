#pragma once

#include "gui/widgets/DesktopOpener.h"
#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/Resources.h"
#include "gui/widgets/View.h"

namespace korva
{

// The "ABOUT" page: the version, and the button that opens the manual.
class AboutPage final : public View, private juce::Button::Listener
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
    // system's default program for PDF files (tests replace both). A manual
    // that is there but cannot be opened is told through `showMessage`
    // (title, text), a warning box unless replaced (tests).
    std::function<juce::File()> manualLocation = getManualFile;
    std::function<bool (const juce::File&)> openManual;
    std::function<void (const juce::String&, const juce::String&)> showMessage;

    // The desktop's default program, which opens the manual.
    DesktopOpener& getOpener() noexcept { return m_opener; }

private:
    void buttonClicked (juce::Button*) override;

    AboutPageLookAndFeel m_lookAndFeel;
    juce::TextButton m_manualButton { "Manual" };
    DesktopOpener m_opener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutPage)
};

} // namespace korva
