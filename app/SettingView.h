#pragma once

#include "app/LookAndFeels.h"
#include "app/Resources.h"
#include "app/View.h"

// The "ABOUT" page: the version, and the button that opens the manual.
class SettingView final : public View, private juce::Button::Listener
{
public:
    static constexpr const char* kVersionText = "1.0.1";

    SettingView();
    ~SettingView() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void onTransitioned (bool shown) override;

    juce::TextButton& getManualButton() noexcept { return m_manualButton; }

    // Where the manual is and how it is opened: beside the program, with the
    // system's default program for PDF files (tests replace both).
    std::function<juce::File()> manualLocation = getManualFile;
    std::function<bool (const juce::File&)> openManual = [] (const juce::File& f) { return f.startAsProcess(); };

private:
    void buttonClicked (juce::Button*) override;

    SettingViewLookAndFeel m_lookAndFeel;
    juce::TextButton m_manualButton { "Manual" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SettingView)
};
