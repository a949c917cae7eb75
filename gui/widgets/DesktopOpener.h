#pragma once

// Opens a file or a folder with the desktop's default program (xdg-open):
// the manual with the PDF viewer, the data folder with the file manager. The
// path is passed as one argument, never through a shell; the programs
// started are reaped as they end, and one that ends in failure (xdg-open
// finds no program for the file, or the program it starts fails) is told.

#include <juce_events/juce_events.h>

#include <functional>

namespace korva
{

class DesktopOpener final : private juce::Timer
{
public:
    using Failed = std::function<void (const juce::String& reason)>;

    DesktopOpener() = default;
    ~DesktopOpener() override;

    // Starts the program; false when it could not be started. A program that
    // could not be started, or that ends with a failure status later, calls
    // `failed` with the reason (at once, or later on the message thread
    // unless the opener is gone by then).
    bool open (const juce::File& fileOrFolder, Failed failed = {});

    // The reason told for a program that ended with this status: xdg-open's
    // statuses in its own words, others as they are.
    static juce::String reasonForStatus (const juce::String& program, int status);

    // What opens files (tests replace it), and how often ended programs are
    // looked for (tests shorten it).
    juce::String program { "xdg-open" };
    int checkIntervalMs = 500;
    int getNumRunning() const noexcept { return (int) m_running.size(); }

private:
    void timerCallback() override;

    struct Running
    {
        std::unique_ptr<juce::ChildProcess> process;
        Failed failed;
    };
    std::vector<Running> m_running;

    JUCE_DECLARE_WEAK_REFERENCEABLE (DesktopOpener)
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DesktopOpener)
};

} // namespace korva
