#include "tests/support/WindowsTool.h"

namespace korva
{

namespace test
{

namespace
{
const juce::File kTool{KORVA_WINDOWS_TOOL};
const juce::File kWineRun{KORVA_WINE_RUN};
const juce::File kBuildPrefix = kTool.getParentDirectory().getSiblingFile ("wine-prefix");

bool onPath (const char* program)
{
    return runProcess ("/bin/sh", {"-c", std::string ("command -v ") + program}, juce::File ("/"), 10000).exitCode
           == 0;
}

// Runs a command with WINEPREFIX set; empty when it worked, else what it said.
std::string runWith (const juce::File& prefix, const std::vector<std::string>& command)
{
    const auto r = runProcess (command[0], {command.begin() + 1, command.end()}, prefix.getParentDirectory(), 300000,
                               {{"WINEPREFIX", prefix.getFullPathName().toStdString()}});
    return r.exitCode == 0 ? std::string() : command[0] + " ended with " + std::to_string (r.exitCode) + ": " + r.err;
}
} // namespace

std::string windowsToolUnavailable()
{
    if (! kTool.existsAsFile())
        return kTool.getFullPathName().toStdString() + " is not built (make windows)";
    if (! onPath ("wine") || ! onPath ("wineserver"))
        return "Wine is not installed";
    return {};
}

WindowsTool::WindowsTool (const juce::File& privatePrefixFolder)
{
    const auto prepare = kWineRun.getSiblingFile ("wine-prefix.sh").getFullPathName().toStdString();
    m_error = runWith (kBuildPrefix, {prepare});
    if (! m_error.empty() || privatePrefixFolder == juce::File())
    {
        m_prefix = kBuildPrefix;
        return;
    }

    // The registry files are rewritten by the Wine server: real copies; the
    // rest, read only, hard links.
    m_prefix = privatePrefixFolder.getChildFile ("wine-prefix");
    m_private = true;
    const auto from = kBuildPrefix.getFullPathName().toStdString(), to = m_prefix.getFullPathName().toStdString();
    auto copy = runProcess ("/bin/cp", {"-al", from, to}, privatePrefixFolder, 120000);
    if (copy.exitCode == 0)
        copy = runProcess ("/bin/sh",
                           {"-c", "for f in \"$0\"/*.reg; do cp --remove-destination \"$f\" \"$1/\"; done", from, to},
                           privatePrefixFolder, 120000);
    if (copy.exitCode != 0)
        m_error = "cannot copy the Wine prefix: " + copy.err;
}

WindowsTool::~WindowsTool()
{
    if (! m_private)
        return;
    runWith (m_prefix, {"wineserver", "-k"});
    // The drive letters are links to Linux folders ("z:" is "/"): they go
    // first, so that nothing that walks the test's folder ever walks them.
    m_prefix.getChildFile ("dosdevices").deleteRecursively (false);
}

juce::File WindowsTool::getProfileFolder() const
{
    const auto user = juce::SystemStats::getLogonName();
    return m_prefix.getChildFile ("drive_c/users").getChildFile (user);
}

Environment WindowsTool::environment() const
{
    return {{"WINEPREFIX", m_prefix.getFullPathName().toStdString()}};
}

ProcessResult WindowsTool::run (const std::vector<std::string>& args, const juce::File& workingFolder,
                                int timeoutMs) const
{
    std::vector<std::string> all{kTool.getFullPathName().toStdString()};
    all.insert (all.end(), args.begin(), args.end());
    return runProcess (kWineRun.getFullPathName().toStdString(), all, workingFolder, timeoutMs, environment());
}

std::unique_ptr<RunningProcess> WindowsTool::start (const std::vector<std::string>& args,
                                                    const juce::File& workingFolder) const
{
    std::vector<std::string> all{kTool.getFullPathName().toStdString()};
    all.insert (all.end(), args.begin(), args.end());
    return std::make_unique<RunningProcess> (kWineRun.getFullPathName().toStdString(), all, workingFolder,
                                             environment());
}

} // namespace test

} // namespace korva
