#pragma once

// The window's content: the three pages under their tabs, the connection lamp
// with "Connected"/"Not Connected", the blinking status line, and the reports
// of device-link failures that no page handles itself.

#include "core/device/HidSequenceManager.h"
#include "core/infra/AsyncTask.h"
#include "gui/widgets/View.h"
#include "gui/widgets/Widgets.h"

#include <functional>

namespace korva
{

class MainContentComponent final : public ViewDispatcher,
                                   public juce::ActionListener,
                                   public HidSequenceManagerListener
{
public:
    static constexpr int kWidth = 835;
    static constexpr int kHeight = 410;
    static constexpr juce::uint32 kBackground = 0xFF191919;
    // What the lamp's text says of a KORVA that is there but does not answer.
    static constexpr const char* kNotRespondingText = "No Answer";

    // The pages to show; the program's own by default, placeholders in tests.
    struct Pages
    {
        View::Ptr project, pattern, about;
    };
    static Pages makeApplicationPages();

    explicit MainContentComponent (HidSequenceManager& sequencer = *HidSequenceManager::getInstance(),
                                   Pages pages = makeApplicationPages());
    ~MainContentComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // The window is to close: true when every page agrees; otherwise a page
    // calls `closeNow` later if the window is to close after all.
    bool closeRequested (std::function<void()> closeNow);

    void connectionChanged() override;
    void sendErrorOccurred (juce::uint8 dataType, eResult result) override;
    void receiveErrorOccurred (juce::uint8 dataType, eResult result) override;
    void getVersionInfoResponsed (int result) override;
    void openErrorOccurred (juce::String devicePath, int error) override;

    const Led& getLamp() const noexcept { return m_lamp; }

    // Shows a warning box (title, text); the framework's asynchronous box unless replaced (tests).
    std::function<void (const juce::String&, const juce::String&)> showMessage;

private:
    void actionListenerCallback (const juce::String& message) override;
    void reportCommunicationError (juce::uint8 dataType, eResult result);

    infra::MessageThreadTaskBox m_taskBox;
    HidSequenceManager& m_sequencer;
    bool m_toldNotResponding = false; // since the KORVA last answered or was plugged in
    Led m_lamp { juce::Colour (0xFFFF0000), "activeIndicator" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainContentComponent)
};

} // namespace korva
