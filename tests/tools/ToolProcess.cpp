#include "tests/tools/ToolProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
extern char** environ;

namespace korva
{

namespace test
{

namespace
{

// The test's environment with the given variables set on top.
std::vector<std::string> environmentWith (const Environment& overrides)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        const std::string text = *entry;
        const std::string name = text.substr (0, text.find ('='));
        bool replaced = false;
        for (const auto& [key, value] : overrides)
            replaced = replaced || key == name;
        if (! replaced)
            result.push_back (text);
    }
    for (const auto& [key, value] : overrides)
        result.push_back (key + "=" + value);
    return result;
}

int spawn (const std::string& program, const std::vector<std::string>& args, const juce::File& workingFolder,
           const Environment& environment, const juce::File& out, const juce::File& err)
{
    std::vector<std::string> argvStrings{program};
    argvStrings.insert (argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings)
        argv.push_back (s.data());
    argv.push_back (nullptr);

    auto envStrings = environmentWith (environment);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back (s.data());
    envp.push_back (nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen (&actions, 1, out.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC,
                                      0644);
    posix_spawn_file_actions_addopen (&actions, 2, err.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC,
                                      0644);
    posix_spawn_file_actions_addchdir_np (&actions, workingFolder.getFullPathName().toRawUTF8());

    pid_t pid = -1;
    const int spawned = posix_spawn (&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy (&actions);
    return spawned == 0 ? pid : -1;
}

} // namespace

ProcessResult runProcess (const std::string& program, const std::vector<std::string>& args,
                          const juce::File& workingFolder, int timeoutMs, const Environment& environment)
{
    RunningProcess process (program, args, workingFolder, environment);
    return process.finish (timeoutMs);
}

RunningProcess::RunningProcess (const std::string& program, const std::vector<std::string>& args,
                                const juce::File& workingFolder, const Environment& environment)
    : m_out (std::make_unique<juce::TemporaryFile>()), m_err (std::make_unique<juce::TemporaryFile>())
{
    m_pid = spawn (program, args, workingFolder, environment, m_out->getFile(), m_err->getFile());
}

RunningProcess::~RunningProcess()
{
    if (m_pid > 0 && ! m_ended)
    {
        ::kill (m_pid, SIGKILL);
        ::waitpid (m_pid, &m_status, 0);
    }
}

bool RunningProcess::isRunning()
{
    if (m_pid <= 0 || m_ended)
        return false;
    if (::waitpid (m_pid, &m_status, WNOHANG) == m_pid)
        m_ended = true;
    return ! m_ended;
}

void RunningProcess::signal (int number)
{
    if (isRunning())
        ::kill (m_pid, number);
}

ProcessResult RunningProcess::finish (int timeoutMs)
{
    ProcessResult result;
    if (m_pid <= 0)
        return result;

    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (isRunning())
    {
        if (juce::Time::getMillisecondCounter() > deadline)
        {
            ::kill (m_pid, SIGKILL);
            ::waitpid (m_pid, &m_status, 0);
            m_ended = true;
            return result;
        }
        juce::Thread::sleep (5);
    }
    result.exitCode = WIFEXITED (m_status) ? WEXITSTATUS (m_status) : 128 + WTERMSIG (m_status);
    result.out = m_out->getFile().loadFileAsString().toStdString();
    result.err = m_err->getFile().loadFileAsString().toStdString();
    return result;
}

} // namespace test

} // namespace korva
