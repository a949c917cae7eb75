#include "tests/support/HidrawKorva.h"

#include "tests/support/TestSupport.h"
#include "tests/support/hidraw/EmulationNamespace.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace korva
{

namespace test
{

std::string hidrawEmulationUnavailable()
{
    if (hidraw::insideEmulation())
        return {};
    if (const char* reason = std::getenv (hidraw::kUnavailableVariable))
        return reason;
    return "the test did not run under korva-hidraw-emu env";
}

bool runningUnderCi()
{
    const char* ci = std::getenv ("CI");
    return ci != nullptr && std::strcmp (ci, "true") == 0;
}

//==============================================================================
HidrawKorva::HidrawKorva (juce::File log) : m_log (std::move (log)) {}

HidrawKorva::~HidrawKorva()
{
    unplug();
}

bool HidrawKorva::plugIn (const std::vector<std::string>& simArguments, int number, const std::string& mode)
{
    if (m_process != nullptr)
        return false;

    std::vector<std::string> arguments{"plug"};
    if (number >= 0)
        arguments.insert (arguments.end(), {"--number", std::to_string (number)});
    if (! mode.empty())
        arguments.insert (arguments.end(), {"--mode", mode});
    arguments.push_back ("--");
    arguments.insert (arguments.end(), simArguments.begin(), simArguments.end());

    const juce::String plugged ("hidraw node plugged in at ");
    const int before = countInLog (plugged);
    m_process = std::make_unique<ProgramProcess> (KORVA_HIDRAW_EMU_BINARY, m_log.getParentDirectory(), m_log,
                                                  ProgramProcess::Environment{}, arguments);
    if (m_process->pid() <= 0
        || ! waitUntil ([&] { return countInLog (plugged) > before || m_process->waitForExit (0) != -1; }, 15000)
        || countInLog (plugged) == before)
    {
        m_process.reset();
        return false;
    }

    const auto text = log();
    m_node = text.fromLastOccurrenceOf (plugged, false, false).upToFirstOccurrenceOf (" ", false, false).toStdString();
    return true;
}

bool HidrawKorva::unplug (int timeoutMs)
{
    if (m_process == nullptr)
        return true;
    m_process->signal (SIGTERM);
    const int code = m_process->waitForExit (timeoutMs);
    m_process.reset(); // kills it when it did not end
    return code == 0;
}

bool HidrawKorva::beginUnplug()
{
    if (m_process == nullptr)
        return false;
    const juce::String unplugged ("hidraw node unplugged from ");
    const int before = countInLog (unplugged);
    m_process->signal (SIGTERM);
    return waitUntil ([&] { return countInLog (unplugged) > before; }, 10000);
}

bool HidrawKorva::hasEnded()
{
    if (m_process == nullptr)
        return true;
    const int code = m_process->waitForExit (0);
    if (code == -1)
        return false;
    m_process.reset();
    return code == 0;
}

bool HidrawKorva::signalDevice (int signalNumber)
{
    if (m_process == nullptr)
        return false;
    // korva-sim is the emulation's one child.
    const auto pid = juce::String (m_process->pid());
    const auto children = juce::File ("/proc/" + pid + "/task/" + pid + "/children").loadFileAsString().trim();
    const int sim = children.upToFirstOccurrenceOf (" ", false, false).getIntValue();
    return sim > 0 && ::kill (sim, signalNumber) == 0;
}

bool HidrawKorva::freeze()
{
    return signalDevice (SIGSTOP);
}

bool HidrawKorva::thaw()
{
    return signalDevice (SIGCONT);
}

void HidrawKorva::kill()
{
    if (m_process == nullptr)
        return;
    m_process->signal (SIGKILL);
    m_process->waitForExit (10000);
    m_process.reset();
}

juce::String HidrawKorva::log() const
{
    return m_log.loadFileAsString();
}

int HidrawKorva::countInLog (const juce::String& text) const
{
    return occurrences (log(), text);
}

} // namespace test

} // namespace korva
