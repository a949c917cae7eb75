#pragma once

// Small widgets shared by the pages.

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// A button showing a PNG from the resource folder, scaled into its bounds.
class AppImageButton final : public juce::ImageButton
{
public:
    AppImageButton (const juce::String& buttonName, const juce::String& imageFileName);

    // Every pixel of the bounds counts, transparent or not (and with no image at all).
    bool hitTest (int, int) override { return true; }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AppImageButton)
};

// A vector arrow button: an arrow pointing right, turned by `rotation` turns.
class AppArrowButton final : public juce::Button
{
public:
    AppArrowButton (float rotation, const juce::String& buttonName, juce::Colour colour);

    void paintButton (juce::Graphics& g, bool mouseOver, bool buttonDown) override;
    const juce::Path& getArrowOutline() const noexcept { return m_outline; }

private:
    juce::Colour m_colour;
    juce::Path m_outline;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AppArrowButton)
};

// A round indicator lamp.
class Led final : public juce::Component
{
public:
    Led (juce::Colour onColour, const juce::String& componentName);

    void setOn (bool on);
    bool isOn() const noexcept { return m_on; }
    juce::Colour getOnColour() const noexcept { return m_onColour; }
    juce::Colour getOffColour() const noexcept { return m_offColour; }

    void paint (juce::Graphics& g) override;

private:
    bool m_on = false;
    juce::Colour m_onColour;
    juce::Colour m_offColour;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Led)
};

} // namespace korva
