#include "gui/widgets/LookAndFeels.h"

namespace korva
{

void paintPageFrame (juce::Graphics& g, juce::Rectangle<int> bounds, int tabIndex)
{
    g.fillAll (juce::Colour (colours::kPageBackground));
    g.setColour (juce::Colour (colours::kPageBorder));
    g.drawRect (bounds, 1);

    g.setColour (juce::Colour (colours::kPageBackground));
    const auto left = (float) (100 * tabIndex);
    g.drawLine (left + 1.0f, 0.5f, left + 99.0f, 0.5f, 1.0f);
}

void drawVersion2ButtonText (juce::LookAndFeel& laf, juce::Graphics& g, juce::TextButton& button,
                             juce::Colour colour, juce::Justification justification)
{
    const auto font = laf.getTextButtonFont (button, button.getHeight());
    g.setFont (font);
    g.setColour (colour);

    const int yIndent = juce::jmin (4, button.proportionOfHeight (0.3f));
    const int cornerSize = juce::jmin (button.getHeight(), button.getWidth()) / 2;
    const int fontHeight = juce::roundToInt (font.getHeight() * 0.6f);
    const int leftIndent = juce::jmin (fontHeight, 2 + cornerSize / (button.isConnectedOnLeft() ? 4 : 2));
    const int rightIndent = juce::jmin (fontHeight, 2 + cornerSize / (button.isConnectedOnRight() ? 4 : 2));
    const int textWidth = button.getWidth() - leftIndent - rightIndent;

    if (textWidth > 0)
        g.drawFittedText (button.getButtonText(), leftIndent, yIndent, textWidth, button.getHeight() - yIndent * 2,
                          justification, 2, 0.7f);
}

//==============================================================================
void ProjectViewLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&,
                                                   bool mouseOver, bool buttonDown)
{
    const juce::Colour fill (colours::kButtonFill), outline (colours::kButtonOutline);
    juce::Colour fillColour, outlineColour;

    if (! button.isEnabled())
    {
        fillColour = fill.withAlpha (0.3f);
        outlineColour = juce::Colour (colours::kDisabled);
    }
    else if (buttonDown)
    {
        fillColour = fill.withAlpha (0.5f);
        outlineColour = outline.withAlpha (0.5f);
    }
    else if (mouseOver)
    {
        fillColour = fill.withAlpha (0.8f);
        outlineColour = outline.withAlpha (0.8f);
    }
    else
    {
        fillColour = fill;
        outlineColour = outline;
    }

    g.setColour (fillColour);
    g.fillRect (button.getLocalBounds());
    g.setColour (outlineColour);
    g.drawRect (button.getLocalBounds(), 1);
}

void ProjectViewLookAndFeel::drawButtonText (juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    drawVersion2ButtonText (*this, g, button, juce::Colour (button.isEnabled() ? colours::kText : colours::kDisabled),
                            juce::Justification::centred);
}

//==============================================================================
void AboutPageLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button,
                                                   const juce::Colour& backgroundColour, bool mouseOver,
                                                   bool buttonDown)
{
    auto baseColour = backgroundColour.withMultipliedSaturation (button.hasKeyboardFocus (true) ? 1.3f : 0.9f)
                          .withMultipliedAlpha (button.isEnabled() ? 0.9f : 0.5f);
    if (buttonDown || mouseOver)
        baseColour = baseColour.contrasting (buttonDown ? 0.2f : 0.1f);

    const float width = (float) button.getWidth() - 1.0f;
    const float height = (float) button.getHeight() - 1.0f;
    if (width <= 0 || height <= 0)
        return;

    // The framework's glass button shape, on a plain rectangle.
    juce::Path outline;
    outline.addRectangle (0.5f, 0.5f, width, height);

    const float brightness = baseColour.getBrightness();
    const float alpha = baseColour.getFloatAlpha();
    g.setGradientFill (
        juce::ColourGradient::vertical (baseColour.brighter (0.2f), 0.0f, baseColour.darker (0.25f), height));
    g.fillPath (outline);
    g.setColour (juce::Colours::white.withAlpha (0.4f * alpha * brightness * brightness));
    g.strokePath (outline, juce::PathStrokeType (1.0f),
                  juce::AffineTransform::translation (0.0f, 1.0f).scaled (1.0f, (height - 1.6f) / height));
    g.setColour (juce::Colours::black.withAlpha (0.4f * alpha));
    g.strokePath (outline, juce::PathStrokeType (1.0f));
}

void AboutPageLookAndFeel::drawButtonText (juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    drawVersion2ButtonText (*this, g, button, juce::Colour (colours::kText), juce::Justification::centredLeft);
}

//==============================================================================
void drawProjectTableHeaderColumn (juce::Graphics& g, const juce::String& columnName, int width, int height,
                                   bool mouseOver, bool mouseDown, int columnFlags, bool active,
                                   juce::Colour textColour)
{
    // An inactive header (the KORVA's, with no KORVA) has no highlight, no
    // inset and no sort arrow: just its names, in grey.
    juce::Rectangle<int> area (width, height);
    if (active)
    {
        if (mouseDown)
            g.fillAll (juce::Colour (colours::kHeaderPressed));
        else if (mouseOver)
            g.fillAll (juce::Colour (colours::kHeaderHovered));
        area.reduce (4, 0);
    }

    if (active
        && (columnFlags & (juce::TableHeaderComponent::sortedForwards | juce::TableHeaderComponent::sortedBackwards))
               != 0)
    {
        juce::Path sortArrow;
        sortArrow.addTriangle (0.0f, 0.0f, 0.5f,
                               (columnFlags & juce::TableHeaderComponent::sortedForwards) != 0 ? -0.8f : 0.8f, 1.0f,
                               0.0f);
        g.setColour (juce::Colour (colours::kSortArrow));
        g.fillPath (sortArrow,
                    sortArrow.getTransformToScaleToFit (area.removeFromRight (height / 2).reduced (2).toFloat(), true));
    }

    g.setColour (textColour);
    g.setFont (juce::Font ((float) height * 0.5f, juce::Font::bold));
    g.drawFittedText (columnName, area, juce::Justification::centredLeft, 1, 0.7f);
}

void KorvaProjectListLookAndFeel::drawTableHeaderColumn (juce::Graphics& g, juce::TableHeaderComponent&,
                                                         const juce::String& columnName, int, int width, int height,
                                                         bool mouseOver, bool mouseDown, int columnFlags)
{
    const bool connected = m_isConnected != nullptr && m_isConnected();
    drawProjectTableHeaderColumn (g, columnName, width, height, mouseOver, mouseDown, columnFlags, connected,
                                  juce::Colour (connected ? colours::kText : colours::kDisabled));
}

void PcProjectListLookAndFeel::drawTableHeaderColumn (juce::Graphics& g, juce::TableHeaderComponent&,
                                                      const juce::String& columnName, int, int width, int height,
                                                      bool mouseOver, bool mouseDown, int columnFlags)
{
    drawProjectTableHeaderColumn (g, columnName, width, height, mouseOver, mouseDown, columnFlags, true,
                                  juce::Colour (colours::kText));
}

//==============================================================================
void PatternViewLookAndFeel::drawComboBox (juce::Graphics& g, int width, int height, bool, int buttonX, int buttonY,
                                           int buttonW, int buttonH, juce::ComboBox& box)
{
    g.fillAll (box.findColour (juce::ComboBox::backgroundColourId));
    g.setColour (box.findColour (juce::ComboBox::outlineColourId));
    g.drawRect (0, 0, width, height, 1);

    const float x = (float) buttonX, y = (float) buttonY, w = (float) buttonW, h = (float) buttonH;
    juce::Path arrows;
    arrows.addTriangle (x + 0.5f * w, y + 0.25f * h, x + 0.7f * w, y + 0.45f * h, x + 0.3f * w, y + 0.45f * h);
    arrows.addTriangle (x + 0.5f * w, y + 0.75f * h, x + 0.7f * w, y + 0.55f * h, x + 0.3f * w, y + 0.55f * h);

    g.setColour (box.findColour (juce::ComboBox::arrowColourId).withAlpha (box.isEnabled() ? 1.0f : 0.3f));
    g.fillPath (arrows);
}

} // namespace korva
