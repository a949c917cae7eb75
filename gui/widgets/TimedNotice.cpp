#include "gui/widgets/TimedNotice.h"

namespace korva
{

TimedNotice::TimedNotice()
{
    setVisible (false);
    setInterceptsMouseClicks (true, false);
}

TimedNotice::~TimedNotice()
{
    stopTimer();
}

void TimedNotice::show (const juce::String& text)
{
    m_text = text;
    setVisible (text.isNotEmpty());
    if (text.isEmpty())
    {
        stopTimer();
        return;
    }
    toFront (false);
    repaint();
    startTimer (m_shownMs);
}

void TimedNotice::dismiss()
{
    stopTimer();
    m_text.clear();
    setVisible (false);
}

void TimedNotice::paint (juce::Graphics& g)
{
    // The page's own colours: black on a pale yellow, with a thin border.
    const auto area = getLocalBounds().toFloat().reduced (0.5f);
    g.setColour (juce::Colour (0xFFFFF8D6));
    g.fillRoundedRectangle (area, 4.0f);
    g.setColour (juce::Colour (0xFF7D7D7D));
    g.drawRoundedRectangle (area, 4.0f, 1.0f);
    g.setColour (juce::Colours::black);
    g.setFont (juce::Font (14.0f));
    g.drawFittedText (m_text, getLocalBounds().reduced (8, 4), juce::Justification::centred, 3, 0.9f);
}

} // namespace korva
