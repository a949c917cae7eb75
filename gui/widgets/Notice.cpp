#include "gui/widgets/Notice.h"

#include "core/infra/Diagnostics.h"

namespace korva
{

Notice::Notice()
{
    setVisible (false);
    setInterceptsMouseClicks (true, false);
}

void Notice::setArea (juce::Rectangle<int> area)
{
    m_area = area;
    place();
}

void Notice::show (const juce::String& text)
{
    m_text = text;
    if (text.isEmpty())
    {
        dismiss();
        return;
    }
    // Traced as the message boxes are, so that a trace tells what the user saw.
    infra::debugPrint (("Notice: " + text).toRawUTF8());
    place();
    setVisible (true);
    toFront (false);
    repaint();
}

void Notice::dismiss()
{
    m_text.clear();
    setVisible (false);
}

void Notice::place()
{
    juce::AttributedString text;
    text.setWordWrap (juce::AttributedString::byWord);
    text.setJustification (juce::Justification::centred);
    text.append (m_text, juce::Font (kTextHeight), juce::Colours::black);
    m_layout.createLayout (text, (float) juce::jmax (1, m_area.getWidth() - 2 * kPadding));

    // As tall as the text needs, from the bottom of the area up; a text taller
    // than the area is cut at its foot.
    const int needed = (int) std::ceil (m_layout.getHeight()) + 2 * kPadding;
    const int height = juce::jmin (m_area.getHeight(), needed);
    setBounds (m_area.withTop (m_area.getBottom() - height));
}

void Notice::paint (juce::Graphics& g)
{
    // The page's own colours: black on a pale yellow, with a thin border.
    const auto area = getLocalBounds().toFloat().reduced (0.5f);
    g.setColour (juce::Colour (0xFFFFF8D6));
    g.fillRoundedRectangle (area, 4.0f);
    g.setColour (juce::Colour (0xFF7D7D7D));
    g.drawRoundedRectangle (area, 4.0f, 1.0f);

    auto text = getLocalBounds().reduced (kPadding).toFloat();
    m_layout.draw (g, text.withSizeKeepingCentre (text.getWidth(), juce::jmin (text.getHeight(), m_layout.getHeight())));
}

} // namespace korva
