// The instance lock on Linux: flock on the lock file, and a Unix-domain
// socket beside it for the requests of later starts.

#include "core/settings/InstanceLock.h"

#include <juce_events/juce_events.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korva
{

struct InstanceLock::Native
{
    int fd = -1;
    int listenFd = -1;
    bool watched = false; // listenFd is registered with the event loop
};

namespace
{
bool socketAddress (const juce::File& socket, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    const auto path = socket.getFullPathName().toStdString();
    if (path.size() >= sizeof (address.sun_path))
        return false;
    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

juce::int64 nowMs()
{
    return (juce::int64) juce::Time::getMillisecondCounterHiRes();
}
} // namespace

InstanceLock::InstanceLock (const juce::File& lockFile) : m_lockFile (lockFile), m_native (std::make_unique<Native>())
{
    lockFile.getParentDirectory().createDirectory();
    const int fd = ::open (lockFile.getFullPathName().toRawUTF8(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;

    if (::flock (fd, LOCK_EX | LOCK_NB) != 0)
    {
        ::close (fd);
        return;
    }
    m_native->fd = fd;

    // The lock says who runs: a socket left by a copy that ended without
    // removing it is nobody's now.
    sockaddr_un address;
    const auto socketFile = requestSocketFor (lockFile);
    if (! socketAddress (socketFile, address))
        return;
    ::unlink (address.sun_path);

    const int listening = ::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listening < 0)
        return;
    // Connecting takes write permission on the socket: its owner's only.
    const bool bound = ::bind (listening, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0
                       && ::chmod (address.sun_path, 0600) == 0;
    if (! bound || ::listen (listening, 8) != 0)
    {
        ::close (listening);
        return;
    }
    m_native->listenFd = listening;
}

InstanceLock::~InstanceLock()
{
    if (m_native->watched)
        juce::LinuxEventLoop::unregisterFdCallback (m_native->listenFd);
    if (m_native->listenFd >= 0)
    {
        ::close (m_native->listenFd);
        ::unlink (requestSocketFor (m_lockFile).getFullPathName().toRawUTF8());
    }
    if (m_native->fd >= 0)
    {
        ::flock (m_native->fd, LOCK_UN);
        ::close (m_native->fd);
    }
}

bool InstanceLock::isHeld() const noexcept
{
    return m_native->fd >= 0;
}

int InstanceLock::getRequestDescriptor() const noexcept
{
    return m_native->listenFd;
}

bool InstanceLock::takeRequests()
{
    bool show = false;
    for (;;)
    {
        const int connection = ::accept4 (m_native->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            break;

        // A later start writes its request at once; one that does not (or
        // writes something else) is not waited for.
        pollfd ready { connection, POLLIN, 0 };
        char request[16] = {};
        if (::poll (&ready, 1, 500) == 1)
        {
            const auto n = ::read (connection, request, sizeof (request) - 1);
            if (n == (ssize_t) (sizeof (kShowRequest) - 1) && std::memcmp (request, kShowRequest, (size_t) n) == 0)
            {
                show = true;
                [[maybe_unused]] const auto written = ::send (connection, kAnswer, sizeof (kAnswer) - 1, MSG_NOSIGNAL);
            }
        }
        ::close (connection);
    }
    return show;
}

void InstanceLock::watchRequests (std::function<void()> show)
{
    if (m_native->listenFd < 0 || m_native->watched)
        return;
    m_native->watched = true;
    juce::LinuxEventLoop::registerFdCallback (m_native->listenFd,
                                              [this, show = std::move (show)] (int)
                                              {
                                                  if (takeRequests())
                                                      show();
                                              });
}

bool InstanceLock::askHolderToShowWindow (int timeoutMs, juce::String& problem) const
{
    sockaddr_un address;
    const auto socketFile = requestSocketFor (m_lockFile);
    if (! socketAddress (socketFile, address))
    {
        problem = "the path " + socketFile.getFullPathName() + " is too long for a socket";
        return false;
    }

    // The running copy makes its socket right after taking the lock: a start
    // that comes in between tries again for a moment.
    const auto deadline = nowMs() + timeoutMs;
    for (;;)
    {
        const int connection = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connection < 0)
        {
            problem = "no socket: " + juce::String (std::strerror (errno));
            return false;
        }

        if (::connect (connection, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0)
        {
            bool answered = false;
            if (::send (connection, kShowRequest, sizeof (kShowRequest) - 1, MSG_NOSIGNAL)
                == (ssize_t) (sizeof (kShowRequest) - 1))
            {
                pollfd ready { connection, POLLIN, 0 };
                char answer[8] = {};
                const auto waitMs = (int) juce::jmax<juce::int64> (0, deadline - nowMs());
                answered = ::poll (&ready, 1, waitMs) == 1
                           && ::read (connection, answer, sizeof (answer) - 1) == (ssize_t) (sizeof (kAnswer) - 1)
                           && std::memcmp (answer, kAnswer, sizeof (kAnswer) - 1) == 0;
            }
            ::close (connection);
            if (! answered)
                problem = "the running KORVA Manager did not answer at " + socketFile.getFullPathName();
            return answered;
        }

        const int error = errno;
        ::close (connection);
        if (nowMs() >= deadline || (error != ENOENT && error != ECONNREFUSED))
        {
            problem = "cannot reach the running KORVA Manager at " + socketFile.getFullPathName() + ": "
                      + juce::String (std::strerror (error));
            return false;
        }
        juce::Thread::sleep (20);
    }
}

juce::File InstanceLock::requestSocketFor (const juce::File& lockFile)
{
    return lockFile.getSiblingFile (".instance.socket");
}

} // namespace korva
