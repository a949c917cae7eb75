#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The window's content: 835 by 410 pixels on the application's dark background.
class MainContentComponent final : public juce::Component
{
public:
    static constexpr int kWidth = 835;
    static constexpr int kHeight = 410;
    static constexpr juce::uint32 kBackground = 0xFF191919;

    MainContentComponent();
    ~MainContentComponent() override;

    void paint (juce::Graphics& g) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainContentComponent)
};
