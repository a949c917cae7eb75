#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// A short notice over a page: shown by `show`, it goes away by itself after
// its time (or at once with `dismiss`). A click on it dismisses it too.
// Message thread only.
class TimedNotice final : public juce::Component, private juce::Timer
{
public:
    static constexpr int kDefaultShownMs = 6000;

    TimedNotice();
    ~TimedNotice() override;

    void show (const juce::String& text);
    void dismiss();
    const juce::String& getText() const noexcept { return m_text; }

    // How long a notice stays; tests shorten it.
    void setShownTime (int milliseconds) noexcept { m_shownMs = milliseconds; }

    void paint (juce::Graphics& g) override;
    void mouseUp (const juce::MouseEvent&) override { dismiss(); }

private:
    void timerCallback() override { dismiss(); }

    juce::String m_text;
    int m_shownMs = kDefaultShownMs;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TimedNotice)
};

} // namespace korva
