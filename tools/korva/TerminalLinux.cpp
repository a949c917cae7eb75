// The terminal on Linux: signals, isatty, TIOCGWINSZ and poll.

#include "tools/korva/Terminal.h"

#include "core/infra/CommandLine.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace korva
{

namespace tool
{

namespace terminal
{

namespace
{
std::atomic<void (*)()> g_handler { nullptr };

void onSignal (int)
{
    if (const auto handler = g_handler.load())
        handler();
}

int descriptorOf (Stream stream)
{
    switch (stream)
    {
        case Stream::kInput: return STDIN_FILENO;
        case Stream::kOutput: return STDOUT_FILENO;
        case Stream::kError:
        default: return STDERR_FILENO;
    }
}
} // namespace

std::vector<std::string> arguments (int argc, char** argv)
{
    return infra::commandline::argumentsOf (argc, argv);
}

void prepareStandardStreams()
{
    // Linux streams pass bytes as they are.
}

void onInterrupt (void (*handler)())
{
    void (*none)() = nullptr;
    if (! g_handler.compare_exchange_strong (none, handler))
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction (signal, &action, nullptr);
}

bool isTerminal (Stream stream)
{
    return ::isatty (descriptorOf (stream)) == 1;
}

int outputColumns()
{
    winsize size {};
    if (::ioctl (STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
        return size.ws_col;
    return 0;
}

std::string eraseLine()
{
    return "\r\033[K";
}

Input readByte (int timeoutMs, char& byte)
{
    pollfd input { STDIN_FILENO, POLLIN, 0 };
    if (::poll (&input, 1, timeoutMs) <= 0)
        return Input::kNothingYet;
    const auto got = ::read (STDIN_FILENO, &byte, 1);
    if (got < 0 && errno == EINTR)
        return Input::kNothingYet;
    return got <= 0 ? Input::kEnd : Input::kByte;
}

} // namespace terminal

} // namespace tool

} // namespace korva
