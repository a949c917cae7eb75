#include "tests/support/ProgramProcess.h"

#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;

namespace korva
{

namespace test
{
ProgramProcess::ProgramProcess (const std::string& executable, const juce::File& home, const juce::File& standardError,
                                const Environment& extraEnvironment, const std::vector<std::string>& arguments)
{
    const auto replaced = [&] (const char* entry)
    {
        if (std::strncmp (entry, "HOME=", 5) == 0)
            return true;
        for (const auto& [name, value] : extraEnvironment)
            if (std::strncmp (entry, (name + "=").c_str(), name.size() + 1) == 0)
                return true;
        return false;
    };

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (!replaced (*e))
            env.emplace_back (*e);
    env.push_back ("HOME=" + home.getFullPathName().toStdString());
    for (const auto& [name, value] : extraEnvironment)
        if (value.has_value())
            env.push_back (name + "=" + *value);

    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back (s.data());
    envp.push_back (nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, 2, standardError.getFullPathName().toRawUTF8(),
                                      O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<std::string> words { executable };
    words.insert (words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back (word.data());
    argv.push_back (nullptr);
    if (posix_spawn (&m_pid, executable.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy (&actions);
}

ProgramProcess::~ProgramProcess()
{
    if (m_pid > 0 && !m_exited)
    {
        kill (m_pid, SIGKILL);
        waitpid (m_pid, nullptr, 0);
    }
}

bool ProgramProcess::signal (int signalNumber)
{
    return m_pid > 0 && ! m_exited && kill (m_pid, signalNumber) == 0;
}

int ProgramProcess::waitForExit (int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    if (m_exited)
        return m_exitCode;
    // Looked at once at least, so that a time limit of 0 asks whether it has ended.
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32)timeoutMs;
    for (;;)
    {
        int status = 0;
        if (waitpid (m_pid, &status, WNOHANG) == m_pid)
        {
            m_exited = true;
            m_exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
            return m_exitCode;
        }
        if (juce::Time::getMillisecondCounter() >= deadline)
            return -1;
        juce::Thread::sleep (20);
    }
}
} // namespace test

} // namespace korva
