#include "gui/widgets/DesktopOpener.h"

namespace korva
{

DesktopOpener::~DesktopOpener()
{
    stopTimer();
}

bool DesktopOpener::open (const juce::File& fileOrFolder)
{
    auto child = std::make_unique<juce::ChildProcess>();
    if (! child->start (juce::StringArray { program, fileOrFolder.getFullPathName() }, 0))
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
