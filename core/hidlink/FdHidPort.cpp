#include "core/hidlink/HidBackend.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korva
{

namespace hidlink
{

namespace
{
bool isSocketDescriptor (int fd)
{
    struct stat info
    {
    };
    return fd >= 0 && ::fstat (fd, &info) == 0 && S_ISSOCK (info.st_mode);
}

juce::int64 nowMs()
{
    return static_cast<juce::int64> (juce::Time::getMillisecondCounterHiRes());
}
} // namespace

bool errnoMeansGone (int error) noexcept
{
    switch (error)
    {
        case EPIPE:
        case ECONNRESET:
        case ECONNREFUSED:
        case ENOTCONN:
        case ESHUTDOWN:
        case ENODEV:
        case ENXIO:
        case EIO:
        case EBADF: return true;
        default: return false;
    }
}

FdHidPort::FdHidPort (int fd, bool prependReportId)
    : m_fd (fd), m_wakeFd (::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK)), m_prependReportId (prependReportId),
      m_isSocket (isSocketDescriptor (fd))
{
}

FdHidPort::~FdHidPort()
{
    if (m_fd >= 0)
        ::close (m_fd);
    if (m_wakeFd >= 0)
        ::close (m_wakeFd);
}

HidPort::ReadStatus FdHidPort::readReport (std::uint8_t* buffer, int size, int timeoutMs, int& bytesRead)
{
    bytesRead = 0;
    if (! isValid() || buffer == nullptr || size <= (m_prependReportId ? 1 : 0))
        return ReadStatus::kGone;

    const auto deadline = nowMs() + timeoutMs;

    for (;;)
    {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int waitMs = timeoutMs < 0 ? -1 : static_cast<int> (juce::jmax<juce::int64> (0, deadline - nowMs()));
        const int ready = ::poll (fds, 2, waitMs);

        if (ready < 0)
        {
            if (errno == EINTR)
                continue;
            return ReadStatus::kGone;
        }
        if (ready == 0)
            return ReadStatus::kTimeout;

        // The wake-up stays signalled: a stopping reader must not block again.
        if ((fds[1].revents & POLLIN) != 0)
            return ReadStatus::kWoken;

        // Data that arrived before a hang-up is still read first.
        if ((fds[0].revents & POLLIN) != 0)
        {
            const int offset = m_prependReportId ? 1 : 0;
            const auto n = ::read (m_fd, buffer + offset, static_cast<size_t> (size - offset));
            if (n > 0)
            {
                if (m_prependReportId)
                    buffer[0] = 0;
                bytesRead = static_cast<int> (n) + offset;
                return ReadStatus::kReport;
            }
            if (n == 0)
                return ReadStatus::kGone; // the peer of a socket has closed
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return ReadStatus::kGone; // EIO, ENODEV: unplugged
        }

        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return ReadStatus::kGone;
    }
}

void FdHidPort::wake()
{
    if (m_wakeFd >= 0)
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write (m_wakeFd, &one, sizeof (one));
    }
}

bool FdHidPort::errorMeansGone (int error) const noexcept
{
    return errnoMeansGone (error);
}

int FdHidPort::writeReport (const std::uint8_t* data, int size)
{
    if (m_fd < 0)
        return -EBADF;

    for (;;)
    {
        const auto n = m_isSocket ? ::send (m_fd, data, static_cast<size_t> (size), MSG_NOSIGNAL)
                                  : ::write (m_fd, data, static_cast<size_t> (size));
        if (n >= 0)
            return static_cast<int> (n);
        if (errno != EINTR)
            return -errno;
    }
}

} // namespace hidlink

} // namespace korva
