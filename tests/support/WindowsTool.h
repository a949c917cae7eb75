#pragma once

// The Windows build of the korva tool (build-windows, `make windows`), run
// under Wine on this machine. Each caller may have a Wine prefix of its own:
// a Wine server serves one prefix and sees the devices of the mount
// namespace it was started in, so a test in the hidraw emulation's namespace
// must never share one with a test outside it.

#include "tests/support/HidrawKorva.h"
#include "tests/tools/ToolProcess.h"

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace korva
{

namespace test
{

// Empty when korva.exe and Wine are there; otherwise why not.
std::string windowsToolUnavailable();

class WindowsTool
{
public:
    // Without a folder, the build's own prefix; with one, a copy of it made
    // there (hard links for the files Wine only reads), whose Wine server
    // is stopped when this object goes.
    explicit WindowsTool (const juce::File& privatePrefixFolder = {});
    ~WindowsTool();

    // Empty when the prefix is ready.
    const std::string& getError() const noexcept { return m_error; }
    const juce::File& getPrefix() const noexcept { return m_prefix; }
    // The Windows user's profile folder in the prefix (C:\users\<name>).
    juce::File getProfileFolder() const;

    ProcessResult run (const std::vector<std::string>& args, const juce::File& workingFolder,
                       int timeoutMs = 60000) const;
    // The same, left running.
    std::unique_ptr<RunningProcess> start (const std::vector<std::string>& args,
                                           const juce::File& workingFolder) const;

private:
    Environment environment() const;

    juce::File m_prefix;
    bool m_private = false;
    std::string m_error;
};

} // namespace test

} // namespace korva

#define KORVA_REQUIRE_WINDOWS_TOOL() KORVA_REQUIRE ("Windows build under Wine", korva::test::windowsToolUnavailable())
