// Virtual devices: the sockets in one folder. A socket appearing is a device
// plugged in, one disappearing is a device unplugged. A device that is being
// set up binds a hidden name (starting with ".") and renames it once it
// listens, so a socket that appears is ready to be greeted.

#include "core/hidlink/HidBackend.h"
#include "core/hidlink/HidrawDescription.h"
#include "core/hidlink/InotifyEvents.h"
#include "core/hidlink/VirtualDevice.h"
#include "core/infra/Diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korva
{

namespace hidlink
{

namespace
{
constexpr int kHelloTimeoutMs = 1000;
constexpr int kWriteTimeoutMs = 2000;
constexpr int kRewatchIntervalMs = 2000;

void setSendTimeout (int fd, int milliseconds)
{
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt (fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof (limit));
}

// Connects and reads the hello; the connected descriptor, or -1 with the
// reason in `error` (ECONNREFUSED: a socket left behind by a device whose
// program has gone; ETIMEDOUT: no hello in time).
int connectAndGreet (const std::string& path, virtualdevice::Hello& hello, int& error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    error = ENAMETOOLONG;
    if (path.size() >= sizeof (address.sun_path))
        return -1;
    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);

    const int fd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        error = errno;
        return -1;
    }

    // A device whose queue of connections is full makes connect wait: not for ever.
    setSendTimeout (fd, kHelloTimeoutMs);

    int result = -1;
    do
    {
        result = ::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address));
    } while (result != 0 && errno == EINTR);
    error = result == 0 ? ETIMEDOUT : errno;

    if (result == 0)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (kHelloTimeoutMs);
        for (;;)
        {
            const auto now = juce::Time::getMillisecondCounter();
            pollfd entry{fd, POLLIN, 0};
            const int ready = ::poll (&entry, 1, now >= deadline ? 0 : static_cast<int> (deadline - now));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0 || (entry.revents & POLLIN) == 0)
                break;

            std::uint8_t buffer[virtualdevice::kMaxHelloSize + 1];
            const auto n = ::recv (fd, buffer, sizeof (buffer), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n > 0 && virtualdevice::decodeHello (buffer, static_cast<std::size_t> (n), hello))
            {
                error = 0;
                return fd;
            }
            error = n == 0 ? ECONNRESET : EPROTO;
            break;
        }
    }

    ::close (fd);
    return -1;
}

bool isSocketFile (const std::string& path)
{
    struct stat info
    {
    };
    return ::lstat (path.c_str(), &info) == 0 && S_ISSOCK (info.st_mode);
}

bool isVisibleName (const char* name)
{
    return name != nullptr && name[0] != '\0' && name[0] != '.';
}

class VirtualBackend;

class VirtualWatcher final : public HidWatcher
{
public:
    VirtualWatcher (VirtualBackend& backend, int inotifyFd);
    ~VirtualWatcher() override { ::close (m_inotifyFd); }

    HidWaitable getWaitable() const override { return m_inotifyFd; }
    int getTimeoutMs() const override { return m_watching ? -1 : kRewatchIntervalMs; }
    void collect (bool readable, std::vector<HidChange>& changes) override;

private:
    bool watch();
    void arrived (const std::string& path, std::vector<HidChange>& changes);

    VirtualBackend& m_backend;
    const int m_inotifyFd;
    int m_watch = -1;
    bool m_watching = false;
    std::set<std::string> m_known;
};

//==============================================================================
class VirtualBackend final : public HidBackend
{
public:
    explicit VirtualBackend (std::string folder) : m_folder (std::move (folder))
    {
        while (m_folder.size() > 1 && m_folder.back() == '/')
            m_folder.pop_back();
        prepare();
    }

    const char* getName() const override { return "virtual"; }
    const std::string& getFolder() const noexcept { return m_folder; }

    bool prepare()
    {
        std::string error;
        m_ready = virtualdevice::prepareFolder (m_folder, error);
        if (! m_ready)
            infra::debugPrintf ("VirtualBackend: no virtual devices (%s)", error.c_str());
        return m_ready;
    }

    bool ownsPath (const std::string& path) const override
    {
        return path.size() > m_folder.size() + 1 && path.compare (0, m_folder.size(), m_folder) == 0
               && path[m_folder.size()] == '/';
    }

    // The socket paths in the folder, sorted.
    std::vector<std::string> listSockets() const
    {
        std::vector<std::string> paths;
        if (! m_ready)
            return paths;

        if (DIR* dir = ::opendir (m_folder.c_str()))
        {
            while (const dirent* entry = ::readdir (dir))
            {
                if (! isVisibleName (entry->d_name))
                    continue;
                const auto path = m_folder + "/" + entry->d_name;
                if (isSocketFile (path))
                    paths.push_back (path);
            }
            ::closedir (dir);
        }
        std::sort (paths.begin(), paths.end());
        return paths;
    }

    std::vector<HidDeviceCaps> enumerate() override
    {
        std::vector<HidDeviceCaps> result;
        for (const auto& path : listSockets())
            result.push_back (describe (path));
        return result;
    }

    HidDeviceCaps describe (const std::string& path) override
    {
        HidDeviceCaps caps (path);
        virtualdevice::Hello hello;
        int error = 0;
        const int fd = connectAndGreet (path, hello, error);
        if (fd < 0)
            return caps; // a socket whose device has gone is no device
        ::close (fd);

        caps.vendorId = hello.vendorId;
        caps.productId = hello.productId;
        caps.versionNumber = hello.versionNumber;
        caps.manufacturer = sanitiseDeviceString (hello.manufacturer);
        caps.product = sanitiseDeviceString (hello.product);
        caps.inputReportLength = hello.inputReportLength;
        caps.outputReportLength = hello.outputReportLength;
        return caps;
    }

    std::unique_ptr<HidPort> openPort (const std::string& path, HidPortUse, int& error) override
    {
        virtualdevice::Hello hello;
        const int fd = connectAndGreet (path, hello, error);
        if (fd < 0)
        {
            infra::debugPrintf ("VirtualBackend: cannot open %s: %s", path.c_str(), std::strerror (error));
            return nullptr;
        }
        // A device that stops reading must not hold a writer for ever.
        setSendTimeout (fd, kWriteTimeoutMs);

        auto port = std::make_unique<FdHidPort> (fd, false);
        if (! port->isValid())
        {
            error = EMFILE;
            return nullptr;
        }
        return port;
    }

    // A socket cannot be locked for all its connections: a lock file beside it is.
    std::unique_ptr<HidClaim> claim (const std::string& path, int& error) override
    {
        auto claimed = claimWithLock (path + ".lock", true, error);
        if (claimed == nullptr)
            infra::debugPrintf ("VirtualBackend: cannot claim %s: %s", path.c_str(), std::strerror (error));
        return claimed;
    }

    std::unique_ptr<HidWatcher> createWatcher() override
    {
        const int fd = ::inotify_init1 (IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0)
        {
            infra::debugPrintf ("VirtualBackend: inotify failed (%s), no hot-plug", std::strerror (errno));
            return nullptr;
        }
        return std::make_unique<VirtualWatcher> (*this, fd);
    }

private:
    std::string m_folder;
    bool m_ready = false;
};

VirtualWatcher::VirtualWatcher (VirtualBackend& backend, int inotifyFd) : m_backend (backend), m_inotifyFd (inotifyFd)
{
    if (watch())
        for (const auto& path : m_backend.listSockets())
            if (m_backend.describe (path).isTarget())
                m_known.insert (path);
}

bool VirtualWatcher::watch()
{
    if (! m_backend.prepare())
        return false;
    m_watch = ::inotify_add_watch (m_inotifyFd, m_backend.getFolder().c_str(),
                                   IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF
                                       | IN_ONLYDIR);
    m_watching = m_watch >= 0;
    if (! m_watching)
        infra::debugPrintf ("VirtualBackend: cannot watch %s (%s)", m_backend.getFolder().c_str(),
                            std::strerror (errno));
    return m_watching;
}

void VirtualWatcher::arrived (const std::string& path, std::vector<HidChange>& changes)
{
    if (! isSocketFile (path))
        return;
    auto caps = m_backend.describe (path);
    if (! caps.isTarget())
        return;
    m_known.insert (path);
    changes.push_back ({true, std::move (caps)});
}

void VirtualWatcher::collect (bool readable, std::vector<HidChange>& changes)
{
    bool lost = false;

    if (readable)
        readInotifyEvents (m_inotifyFd, [this, &lost, &changes] (const inotify_event& event) {
            if ((event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW)) != 0)
            {
                lost = true;
                return;
            }
            if (event.len == 0 || ! isVisibleName (event.name))
                return;

            const auto path = m_backend.getFolder() + "/" + event.name;
            if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0 && m_known.erase (path) > 0)
                changes.push_back ({false, HidDeviceCaps (path)});
            if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0)
                arrived (path, changes);
        });

    if (lost)
    {
        // The folder went away (or events were lost): start again from what is there.
        for (const auto& path : m_known)
            changes.push_back ({false, HidDeviceCaps (path)});
        m_known.clear();
        if (m_watch >= 0)
            ::inotify_rm_watch (m_inotifyFd, m_watch); // a watch the system dropped already just fails
        m_watch = -1;
        m_watching = false;
    }

    if (! m_watching && watch())
        for (const auto& path : m_backend.listSockets())
            arrived (path, changes);
}
} // namespace

std::shared_ptr<HidBackend> makeVirtualBackend (const std::string& folder)
{
    return std::make_shared<VirtualBackend> (folder);
}

} // namespace hidlink

} // namespace korva
