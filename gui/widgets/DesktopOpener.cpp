#include "gui/widgets/DesktopOpener.h"

#include <unistd.h>

namespace korva
{

DesktopOpener::~DesktopOpener()
{
    stopTimer();
}

namespace
{
// The program's file: a path as it stands, a name looked up on the PATH. A
// child process that cannot run its program is only seen to fail after it
// started, so this is asked first.
juce::File findProgram (const juce::String& program)
{
    if (program.containsChar ('/'))
        return juce::File::getCurrentWorkingDirectory().getChildFile (program);
    for (const auto& folder : juce::StringArray::fromTokens (juce::SystemStats::getEnvironmentVariable ("PATH", {}), ":", {}))
        if (folder.isNotEmpty())
            if (const auto file = juce::File (folder).getChildFile (program); file.existsAsFile() && file.hasReadAccess())
                return file;
    return {};
}
} // namespace

bool DesktopOpener::open (const juce::File& fileOrFolder, Failed failed)
{
    const auto notStarted = [&] {
        if (failed)
            failed (program + " could not be started");
        return false;
    };
    const auto executable = findProgram (program);
    if (! executable.existsAsFile() || ::access (executable.getFullPathName().toRawUTF8(), X_OK) != 0)
        return notStarted();

    auto child = std::make_unique<juce::ChildProcess>();
    if (! child->start (juce::StringArray { executable.getFullPathName(), fileOrFolder.getFullPathName() }, 0))
        return notStarted();

    m_running.push_back ({ std::move (child), std::move (failed) });
    startTimer (checkIntervalMs);
    return true;
}

juce::String DesktopOpener::reasonForStatus (const juce::String& program, int status)
{
    const auto name = juce::File::createFileWithoutCheckingPath (program).getFileName();
    const auto ended = " (" + name + " ended with status " + juce::String (status) + ")";
    if (name == "xdg-open")
    {
        // The exit statuses xdg-open(1) documents.
        switch (status)
        {
            case 2: return "it does not exist" + ended;
            case 3: return "this desktop has no program set up to open it" + ended;
            case 4: return "the program that opens it failed" + ended;
            default: break;
        }
    }
    return name + " ended with status " + juce::String (status);
}

void DesktopOpener::timerCallback()
{
    // Taken out first: a callback may open another file or end the opener's owner.
    std::vector<Running> ended;
    for (auto it = m_running.begin(); it != m_running.end();)
    {
        if (it->process->isRunning()) // also collects the ended process
        {
            ++it;
            continue;
        }
        ended.push_back (std::move (*it));
        it = m_running.erase (it);
    }
    if (m_running.empty())
        stopTimer();

    juce::WeakReference<DesktopOpener> self (this);
    for (auto& done : ended)
    {
        const auto status = (int) done.process->getExitCode();
        if (status != 0 && done.failed)
            done.failed (reasonForStatus (program, status));
        if (self == nullptr)
            return;
    }
}

} // namespace korva
