// The waits of the registry's thread on Linux: eventfd and poll().

#include "core/hidlink/HidWait.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korva
{

namespace hidlink
{

namespace
{
HidWaitable makeEventFd()
{
    const int fd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd >= 0 ? static_cast<HidWaitable> (fd) : kNoWaitable;
}
} // namespace

HidWakeSignal::HidWakeSignal() : m_waitable (makeEventFd())
{
}

HidWakeSignal::~HidWakeSignal()
{
    if (isValid())
        ::close (static_cast<int> (m_waitable));
}

void HidWakeSignal::raise() noexcept
{
    if (! isValid())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write (static_cast<int> (m_waitable), &one, sizeof (one));
}

void HidWakeSignal::consume() noexcept
{
    if (! isValid())
        return;
    std::uint64_t count = 0;
    [[maybe_unused]] const auto n = ::read (static_cast<int> (m_waitable), &count, sizeof (count));
}

int waitForAny (const std::vector<HidWaitable>& waitables, int timeoutMs, std::vector<bool>& ready, int& error)
{
    error = 0;
    ready.assign (waitables.size(), false);

    std::vector<pollfd> fds;
    fds.reserve (waitables.size());
    for (const auto waitable : waitables)
        fds.push_back ({waitable == kNoWaitable ? -1 : static_cast<int> (waitable), POLLIN, 0}); // -1 is ignored

    const int count = ::poll (fds.data(), static_cast<nfds_t> (fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
    if (count < 0)
    {
        if (errno == EINTR)
            return 0;
        error = errno;
        return -1;
    }

    // A hang-up or an error is news too: whoever reads the descriptor finds it.
    int readyCount = 0;
    for (size_t i = 0; i < fds.size(); ++i)
    {
        ready[i] = count > 0 && (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        readyCount += ready[i] ? 1 : 0;
    }
    return readyCount;
}

} // namespace hidlink

} // namespace korva
