#pragma once

// The window's tabs: one per page, above the current page. A click or
// Ctrl+PageUp/PageDown switches pages; every other key goes to the page.

#include "gui/widgets/View.h"

namespace korva
{

class TabBar final : public TransitionCtrlBar, private juce::Button::Listener
{
public:
    static constexpr int kBarHeight = 32;
    static constexpr juce::uint32 kBackground = 0xFFF5F5F5;

    explicit TabBar (IViewDispatcher* dispatcher);
    ~TabBar() override;

    bool supportsMode (int mode) const override { return mode == 1 || mode == 3; }
    int getBarHeight() const override { return kBarHeight; }
    void addTab (const juce::String& text, const juce::Identifier& viewId) override;

    bool keyPressed (const juce::KeyPress& key) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    int getNumTabs() const noexcept { return m_buttons.size(); }
    juce::TextButton* getTab (int index) const noexcept { return m_buttons[index]; }

private:
    void buttonClicked (juce::Button* button) override;

    juce::OwnedArray<juce::TextButton> m_buttons;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TabBar)
};

} // namespace korva
