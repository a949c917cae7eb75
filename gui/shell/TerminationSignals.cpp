#include "gui/shell/TerminationSignals.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

namespace korva
{

namespace terminationsignals
{
namespace
{
int pipeFds[2] = { -1, -1 };

void onSignal (int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write (pipeFds[1], &byte, 1);
    errno = saved;
}
} // namespace

void install()
{
    if (pipeFds[0] >= 0 || ::pipe2 (pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction (signal, &action, nullptr);
}

int readFd()
{
    return pipeFds[0];
}

void drain()
{
    char buffer[64];
    while (pipeFds[0] >= 0 && ::read (pipeFds[0], buffer, sizeof (buffer)) > 0)
    {
    }
}
} // namespace terminationsignals

} // namespace korva
