#pragma once

// The window's content: the three pages under their tabs, the connection lamp
// with "Connected"/"Not Connected", the blinking status line, and the reports
// of device-link failures that no page handles itself.

#include "app/View.h"
#include "app/Widgets.h"
#include "device/HidSequenceManager.h"
#include "infra/AsyncTask.h"

#include <functional>

class MainContentComponent final : public ViewDispatcher,
                                   public juce::ActionListener,
                                   public HidSequenceManagerListener
{
public:
    static constexpr int kWidth = 835;
    static constexpr int kHeight = 410;
    static constexpr juce::uint32 kBackground = 0xFF191919;

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
    Led m_lamp { juce::Colour (0xFFFF0000), "activeIndicator" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainContentComponent)
};

// Shows a warning box with one "OK" button, without blocking.
void showWarningBox (const juce::String& title, const juce::String& text);

// Every box the program shows is also traced, "Message box: <title> | <text>",
// so that a trace sent with a report (or a test) tells what the user was told.
void traceMessageBox (const juce::String& title, const juce::String& text);
