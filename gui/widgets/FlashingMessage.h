#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// The window's one blinking status line. Pages write to it; the main content
// draws it. Message thread only.
class FlashingMessage final : public juce::ActionBroadcaster, private juce::Timer
{
public:
    static constexpr const char* kActionMessage = "FlashingMessage";
    static constexpr int kBlinkPeriodMs = 250;

    static FlashingMessage* getInstance();
    static void deleteInstance();

    // A non-empty text starts the blinking, an empty one stops it.
    void setMessage (const juce::String& text);
    const juce::String& getMessage() const noexcept { return m_text; }

    // The text while the blink phase is on, nothing while it is off.
    juce::String getText() const { return m_phase ? m_text : juce::String(); }

private:
    FlashingMessage() = default;
    ~FlashingMessage() override;
    void timerCallback() override;

    juce::String m_text;
    bool m_phase = true;

    static FlashingMessage* s_instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FlashingMessage)
};

} // namespace korva
