#pragma once

#include "core/infra/AsyncTask.h"
#include "gui/shell/NativeWindowHints.h"
#include "gui/shell/X11EventPump.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

class MainContentComponent;

class ITitleBar
{
public:
    virtual ~ITitleBar() = default;
    // Title = base title followed directly by text. Safe from any thread.
    virtual void setAppName (const juce::String& text) = 0;
};

class MainWindow final : public juce::DocumentWindow, public ITitleBar
{
public:
    static constexpr juce::uint32 kBackground = 0xFFD3D3D3;

    explicit MainWindow (const juce::String& name);
    ~MainWindow() override;

    void closeButtonPressed() override;
    void setAppName (const juce::String& text) override;
    // Shows the window to a user who started the program again: restored if
    // minimised, raised, focused, its open boxes above it.
    void bringToFront();

    MainContentComponent* getMainContent() const noexcept { return m_pContent; }

private:
    const juce::String m_baseTitle;
    MainContentComponent* m_pContent = nullptr; // owned by the content slot
    infra::MessageThreadTaskBox m_taskBox;
    NativeWindowHints m_nativeHints;
    X11EventPump m_eventPump;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};

} // namespace korva
