#pragma once

// Runs a program to its end, as a shell script would: arguments, a working
// folder, standard output and standard error collected apart, a time limit,
// and environment variables of the test's own on top of the test's own
// environment.

#include <juce_core/juce_core.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korva
{

namespace test
{

struct ProcessResult
{
    int exitCode = -1; // 128 + signal when killed, -1 when it could not start or ran out of time
    std::string out;
    std::string err;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

ProcessResult runProcess (const std::string& program, const std::vector<std::string>& args,
                          const juce::File& workingFolder, int timeoutMs = 60000, const Environment& environment = {});

// A program left running while the test does something else (sends it a
// signal, looks at its files); finish() waits for its end. Standard input is
// /dev/null.
class RunningProcess
{
public:
    RunningProcess (const std::string& program, const std::vector<std::string>& args, const juce::File& workingFolder,
                    const Environment& environment = {});
    ~RunningProcess(); // kills a process still running

    bool started() const noexcept { return m_pid > 0; }
    int pid() const noexcept { return m_pid; }
    bool isRunning();
    void signal (int number);
    ProcessResult finish (int timeoutMs = 60000);

private:
    int m_pid = -1;
    bool m_ended = false;
    int m_status = 0;
    std::unique_ptr<juce::TemporaryFile> m_out, m_err;
};

} // namespace test

} // namespace korva
