#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// A notice over a page, in the page's own text size: shown by `show`, it
// stays until the user clicks it or the page takes it away (`dismiss`). It
// sits at the bottom of the area it is given, as tall as its text needs
// there, wrapped at words. Message thread only.
class Notice final : public juce::Component
{
public:
    static constexpr float kTextHeight = 15.0f;
    static constexpr int kPadding = 8;

    Notice();

    // Where the notice may go, in its parent's coordinates.
    void setArea (juce::Rectangle<int> area);
    void show (const juce::String& text);
    void dismiss();
    const juce::String& getText() const noexcept { return m_text; }

    void paint (juce::Graphics& g) override;
    void mouseUp (const juce::MouseEvent&) override { dismiss(); }

private:
    // Lays the text out for the area's width and sizes the notice to it.
    void place();

    juce::String m_text;
    juce::Rectangle<int> m_area;
    juce::TextLayout m_layout; // the text as place() laid it out

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Notice)
};

} // namespace korva
