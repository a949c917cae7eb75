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

bool DesktopOpener::open (const juce::File& fileOrFolder)
{
    const auto executable = findProgram (program);
    if (! executable.existsAsFile() || ::access (executable.getFullPathName().toRawUTF8(), X_OK) != 0)
        return false;

    auto child = std::make_unique<juce::ChildProcess>();
    if (! child->start (juce::StringArray { executable.getFullPathName(), fileOrFolder.getFullPathName() }, 0))
        return false;

    m_running.add (child.release());
    startTimer (1000);
    return true;
}

void DesktopOpener::timerCallback()
{
    for (int i = m_running.size(); --i >= 0;)
        if (! m_running.getUnchecked (i)->isRunning()) // also collects the ended process
            m_running.remove (i);
    if (m_running.isEmpty())
        stopTimer();
}

} // namespace korva
