#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// The application's default look and feel. It also resolves the interface
// typeface: "Meiryo UI" where it is installed, otherwise a sans-serif family
// with comparable metrics, so that fixed text boxes show their texts whole.
class AppLookAndFeel final : public juce::LookAndFeel_V3, public juce::DeletedAtShutdown
{
public:
    static constexpr const char* kInterfaceTypeface = "Meiryo UI";

    AppLookAndFeel();
    ~AppLookAndFeel() override;

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font& font) override;

    void drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height, double progress,
                          const juce::String& textToShow) override;

    // The family that stands for "Meiryo UI" on this machine; looked up once.
    static juce::String resolvedInterfaceTypeface();

    // In order of preference, after "Meiryo UI" itself.
    static juce::StringArray fallbackTypefaces();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AppLookAndFeel)
};

// The moving stripes of an indeterminate progress bar: parallelograms two
// heights apart, filled with a flat glass lozenge in `colour` at opacity 0.85.
void drawMovingStripes (juce::Graphics& g, int width, int height, juce::Colour colour);

} // namespace korva
