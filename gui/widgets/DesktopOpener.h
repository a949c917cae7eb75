#pragma once

// Opens a file or a folder with the desktop's default program (xdg-open):
// the manual with the PDF viewer, the data folder with the file manager. The
// path is passed as one argument, never through a shell; the programs
// started are reaped as they end.

#include <juce_events/juce_events.h>

namespace korva
{

class DesktopOpener final : private juce::Timer
{
public:
    DesktopOpener() = default;
    ~DesktopOpener() override;

    // False when the program could not be started.
    bool open (const juce::File& fileOrFolder);

    // What opens files (tests replace it).
    juce::String program { "xdg-open" };
    int getNumRunning() const noexcept { return m_running.size(); }

private:
    void timerCallback() override;

    juce::OwnedArray<juce::ChildProcess> m_running;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DesktopOpener)
};

} // namespace korva
