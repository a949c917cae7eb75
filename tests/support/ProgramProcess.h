#pragma once

// Starts a program of ours as a user would: a child process with a home folder
// of its own (and any other environment the test gives it), its standard error
// going to a file, with the command-line arguments given. The process is
// killed if it still runs when this goes.

#include <juce_core/juce_core.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korva
{

namespace test
{
class ProgramProcess
{
public:
    // Variables to set; a variable without a value is removed.
    using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

    ProgramProcess (const std::string& executable, const juce::File& home, const juce::File& standardError,
                    const Environment& extraEnvironment = {}, const std::vector<std::string>& arguments = {});
    ~ProgramProcess();

    // -1 when it could not be started.
    int pid() const noexcept { return m_pid; }

    // The exit code (128 + the signal for a signal), or -1 while it still runs after the time limit.
    int waitForExit (int timeoutMs);

    // Sends a signal to the process while it runs; false when it has ended.
    bool signal (int signalNumber);

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_exitCode = -1;

    JUCE_DECLARE_NON_COPYABLE (ProgramProcess)
};
} // namespace test

} // namespace korva
