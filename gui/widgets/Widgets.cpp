#include "gui/widgets/Widgets.h"

#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/Resources.h"

namespace korva
{

AppImageButton::AppImageButton (const juce::String& buttonName, const juce::String& imageFileName)
    : juce::ImageButton (buttonName)
{
    const auto image = loadResourceImage (imageFileName);
    const juce::Colour overlay (colours::kImageOverlay);
    setImages (true, true, true, image, 1.0f, overlay, image, 0.8f, overlay, image, 0.5f, overlay);
}

//==============================================================================
AppArrowButton::AppArrowButton (float rotation, const juce::String& buttonName, juce::Colour colour)
    : juce::Button (buttonName), m_colour (colour)
{
    m_outline.addTriangle (0.5f, 0.0f, 0.5f, 1.0f, 1.0f, 0.5f);
    m_outline.addRectangle (0.0f, 0.25f, 0.5f, 0.5f);
    m_outline.applyTransform (
        juce::AffineTransform::rotation (rotation * juce::MathConstants<float>::twoPi, 0.5f, 0.5f));
}

void AppArrowButton::paintButton (juce::Graphics& g, bool mouseOver, bool buttonDown)
{
    auto arrow = m_outline;
    const float w = (float) getWidth() - 3.0f, h = (float) getHeight() - 3.0f;
    if (w <= 0 || h <= 0)
        return;
    arrow.applyTransform (arrow.getTransformToScaleToFit (((float) getWidth() - w) * 0.5f,
                                                          ((float) getHeight() - h) * 0.5f, w, h, false));
    // Pressed, it moves half a pixel down and right. (Moved before the
    // scaling, which fits the outline's own bounds, it would not move at all.)
    if (buttonDown)
        arrow.applyTransform (juce::AffineTransform::translation (0.5f, 0.5f));

    float alpha = 1.0f;
    if (! isEnabled())
        alpha = 0.3f;
    else if (mouseOver)
        alpha = 0.8f;

    g.setColour (m_colour.withMultipliedAlpha (alpha));
    g.fillPath (arrow);
}

//==============================================================================
Led::Led (juce::Colour onColour, const juce::String& componentName)
    : juce::Component (componentName), m_onColour (onColour), m_offColour (juce::Colour (0xFF8B0000).darker (1.0f))
{
    setWantsKeyboardFocus (false);
}

void Led::setOn (bool on)
{
    if (m_on != on)
    {
        m_on = on;
        repaint();
    }
}

void Led::paint (juce::Graphics& g)
{
    juce::LookAndFeel_V2::drawGlassSphere (g, 0.0f, 0.0f, (float) getWidth(), m_on ? m_onColour : m_offColour, 0.5f);
}

} // namespace korva
