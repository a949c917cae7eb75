#include "tests/tools/ToolProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvatest
{

ProcessResult runProcess (const std::string& program, const std::vector<std::string>& args,
                          const juce::File& workingFolder, int timeoutMs)
{
    ProcessResult result;
    const juce::TemporaryFile outFile, errFile;

    std::vector<std::string> argvStrings{program};
    argvStrings.insert (argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings)
        argv.push_back (s.data());
    argv.push_back (nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen (&actions, 1, outFile.getFile().getFullPathName().toRawUTF8(),
                                      O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen (&actions, 2, errFile.getFile().getFullPathName().toRawUTF8(),
                                      O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np (&actions, workingFolder.getFullPathName().toRawUTF8());

    pid_t pid = -1;
    const int spawned = posix_spawn (&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy (&actions);
    if (spawned != 0)
        return result;

    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32)timeoutMs;
    int status = 0;
    while (waitpid (pid, &status, WNOHANG) != pid)
    {
        if (juce::Time::getMillisecondCounter() > deadline)
        {
            kill (pid, SIGKILL);
            waitpid (pid, &status, 0);
            return result;
        }
        juce::Thread::sleep (5);
    }
    result.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
    result.out = outFile.getFile().loadFileAsString().toStdString();
    result.err = errFile.getFile().loadFileAsString().toStdString();
    return result;
}

} // namespace korvatest
