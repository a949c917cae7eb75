#include "gui/pages/PatternPreviewPopup.h"

#include <algorithm>

namespace korva
{

namespace
{
constexpr int kMargin = 8;
constexpr int kLineHeight = 18;
constexpr int kNameWidth = 34; // "C#-1" in the small font
} // namespace

PatternPreviewPopup::PatternPreviewPopup()
{
    setInterceptsMouseClicks (false, false);
    setVisible (false);
    setSize (kWidth, kHeight);
}

void PatternPreviewPopup::setPreview (const PatternPreview& preview)
{
    m_preview = preview;
    m_summary = juce::String::fromUTF8 (preview.summary().c_str());
    m_range = preview.getNotes().empty() ? juce::String() : "Notes " + juce::String::fromUTF8 (preview.range().c_str());
    repaint();
}

void PatternPreviewPopup::setFailure (const juce::String& reason)
{
    m_preview = PatternPreview();
    m_summary = reason;
    m_range.clear();
    repaint();
}

juce::Rectangle<int> PatternPreviewPopup::getGridArea() const
{
    return getLocalBounds()
        .reduced (kMargin)
        .withTrimmedTop (kLineHeight)
        .withTrimmedBottom (kLineHeight)
        .withTrimmedLeft (kNameWidth);
}

void PatternPreviewPopup::paint (juce::Graphics& g)
{
    const auto bounds = getLocalBounds();
    g.setColour (juce::Colours::white);
    g.fillRoundedRectangle (bounds.toFloat(), 6.0f);
    g.setColour (juce::Colour (0xFF7D7D7D));
    g.drawRoundedRectangle (bounds.toFloat().reduced (0.5f), 6.0f, 1.0f);

    const auto inner = bounds.reduced (kMargin);
    g.setColour (juce::Colours::black);
    g.setFont (juce::Font (13.0f, juce::Font::bold));
    g.drawText (m_range, inner.withHeight (kLineHeight), juce::Justification::centredLeft, true);
    g.setFont (juce::Font (13.0f));
    g.drawText (m_summary, inner.withTop (inner.getBottom() - kLineHeight), juce::Justification::centredLeft, true);

    const auto& notes = m_preview.getNotes();
    const int bars = m_preview.getBarCount();
    if (notes.empty() || bars <= 0)
        return;

    const auto grid = getGridArea();
    const int low = m_preview.getLowestNote(), high = m_preview.getHighestNote();
    const float rowHeight = (float)grid.getHeight() / (float)(high - low + 1);
    const double ticks = (double)bars * m_preview.getTicksPerBar();
    const auto xOf = [&] (double tick)
    { return (float)(grid.getX() + grid.getWidth() * std::min (tick, ticks) / ticks); };
    const auto yOf = [&] (int pitch) { return (float)grid.getY() + rowHeight * (float)(high - pitch); };

    // The rows of C in a light shade, named at the left when there is room.
    g.setFont (juce::Font (std::min (11.0f, std::max (rowHeight, 8.0f))));
    for (int pitch = low; pitch <= high; ++pitch)
    {
        if (pitch % 12 != 0 && pitch != low && pitch != high)
            continue;
        if (pitch % 12 == 0)
        {
            g.setColour (juce::Colour (0xFFF0F0F0));
            g.fillRect (juce::Rectangle<float> ((float)grid.getX(), yOf (pitch), (float)grid.getWidth(), rowHeight));
        }
        g.setColour (juce::Colour (0xFF7D7D7D));
        g.drawText (
            previewNoteName (pitch),
            juce::Rectangle<float> ((float)inner.getX(), yOf (pitch) + rowHeight / 2 - 6, (float)kNameWidth - 4, 12.0f),
            juce::Justification::centredLeft, false);
    }

    // Bar lines, then the notes over them.
    g.setColour (juce::Colour (0xFFB4B4B4));
    for (int b = 0; b <= bars; ++b)
        g.fillRect (juce::Rectangle<float> (xOf ((double)b * m_preview.getTicksPerBar()) - (b == bars ? 1.0f : 0.0f),
                                            (float)grid.getY(), 1.0f, (float)grid.getHeight()));

    g.setColour (juce::Colour (kNoteColour));
    for (const PreviewNote& note : notes)
    {
        const float x = xOf (note.start);
        const float width = std::max (2.0f, xOf ((double)note.start + note.length) - x);
        g.fillRect (juce::Rectangle<float> (x, yOf (note.pitch), width, std::max (1.0f, rowHeight - 1.0f)));
    }
}

} // namespace korva
