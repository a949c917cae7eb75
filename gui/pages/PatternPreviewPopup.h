#pragma once

// The pop-up over the PATTERN page that shows what dragging the MIDI file
// icon gives: the notes of that very file as bars on a pitch/time grid with
// the bar lines, the range of notes at the top and the summary line at the
// bottom. It takes no mouse events: the page under it keeps the pointer.

#include "core/conversion/PatternPreview.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

class PatternPreviewPopup final : public juce::Component
{
public:
    static constexpr int kWidth = 360;
    static constexpr int kHeight = 210;
    static constexpr juce::uint32 kNoteColour = 0xFF3264FF;

    PatternPreviewPopup();

    // Shows the notes of `preview`, or instead of them a line saying why there
    // are none to show.
    void setPreview (const PatternPreview& preview);
    void setFailure (const juce::String& reason);

    const PatternPreview& getPreview() const noexcept { return m_preview; }
    // The line under the piano roll: the summary, or the reason of a failure.
    const juce::String& getSummaryLine() const noexcept { return m_summary; }
    // The line above it: "Notes C3 – G4", empty without notes.
    const juce::String& getRangeLine() const noexcept { return m_range; }
    // Where the notes are drawn, inside the pop-up.
    juce::Rectangle<int> getGridArea() const;

    void paint (juce::Graphics& g) override;

private:
    PatternPreview m_preview;
    juce::String m_summary;
    juce::String m_range;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PatternPreviewPopup)
};

} // namespace korva
