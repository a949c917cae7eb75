#include "tools/korva-sim/VirtualKorva.h"

#include "core/hidlink/VirtualDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korva
{

namespace sim
{

namespace
{
void signal (int fd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write (fd, &one, sizeof (one));
}

void drain (int fd)
{
    std::uint64_t value = 0;
    [[maybe_unused]] const auto n = ::read (fd, &value, sizeof (value));
}

bool makeAddress (const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof (address.sun_path))
        return false;
    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket at `path` that accepts connections: another device lives there.
bool isLiveSocket (const std::string& path)
{
    sockaddr_un address;
    if (! makeAddress (path, address))
        return false;
    const int fd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const bool live = ::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0
                      || errno == EAGAIN || errno == EINPROGRESS;
    ::close (fd);
    return live;
}
} // namespace

Handler echoHandler()
{
    return [] (const Message& request) { return std::optional<Message> (request); };
}

Handler fixedAnswer (const Message& answer)
{
    return [answer] (const Message&) { return std::optional<Message> (answer); };
}

Handler silentHandler()
{
    return [] (const Message&) { return std::optional<Message>(); };
}

//==============================================================================
VirtualKorva::VirtualKorva (Options options)
    : m_options (std::move (options)), m_defaultHandler (echoHandler()),
      m_link (
          m_options.timing, [this] (const Message& request) { return answer (request); },
          [this] (const std::string& text) { log (text); })
{
    m_link.setFaults (m_options.faults);
}

VirtualKorva::~VirtualKorva()
{
    stop();
}

void VirtualKorva::log (const std::string& text) const
{
    if (m_options.log)
        m_options.log (text);
}

std::int64_t VirtualKorva::now() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds> (steady_clock::now().time_since_epoch()).count();
}

bool VirtualKorva::start (std::string& error)
{
    if (m_running)
        return true;

    const auto folder = m_options.folder.empty() ? hidlink::virtualdevice::defaultFolder() : m_options.folder;
    if (! hidlink::virtualdevice::prepareFolder (folder, error))
        return false;

    const auto name = m_options.name.empty() ? "korva-" + std::to_string (::getpid()) + ".sock" : m_options.name;
    if (name.empty() || name[0] == '.' || name.find ('/') != std::string::npos)
    {
        error = "invalid socket name \"" + name + "\"";
        return false;
    }

    m_socketPath = folder + "/" + name;
    // Bound under a hidden name and renamed once listening: whoever sees the
    // socket appear can connect to it at once.
    const auto hiddenPath = folder + "/." + name + "." + std::to_string (::getpid()) + ".tmp";

    sockaddr_un address;
    if (! makeAddress (hiddenPath, address))
    {
        error = "socket path too long: " + hiddenPath;
        return false;
    }
    if (isLiveSocket (m_socketPath))
    {
        error = "a device is already running at " + m_socketPath;
        return false;
    }
    // A socket nobody answers on was left by a device whose program was
    // killed: it goes first, so that the computer sees that device unplugged
    // before this one is plugged in.
    struct stat stale
    {
    };
    if (::lstat (m_socketPath.c_str(), &stale) == 0 && S_ISSOCK (stale.st_mode) && ::unlink (m_socketPath.c_str()) == 0)
        log ("removed the stale socket " + m_socketPath);

    m_listenFd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    m_commandFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_finishedFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
    ::unlink (hiddenPath.c_str());

    struct stat info
    {
    };
    if (m_listenFd < 0 || m_commandFd < 0 || m_finishedFd < 0
        || ::bind (m_listenFd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0
        || ::listen (m_listenFd, 16) != 0 || ::rename (hiddenPath.c_str(), m_socketPath.c_str()) != 0
        || ::stat (m_socketPath.c_str(), &info) != 0)
    {
        error = "cannot create " + m_socketPath + ": " + std::strerror (errno);
        ::unlink (hiddenPath.c_str());
        for (int* fd : {&m_listenFd, &m_commandFd, &m_finishedFd})
        {
            if (*fd >= 0)
                ::close (*fd);
            *fd = -1;
        }
        return false;
    }

    m_socketInode = info.st_ino;
    m_stopRequested = false;
    m_vanished = false;
    m_running = true;
    log ("plugged in at " + m_socketPath);
    m_thread = std::thread ([this] { run(); });
    return true;
}

void VirtualKorva::stop()
{
    if (m_thread.joinable())
    {
        m_stopRequested = true;
        signal (m_commandFd);
        m_thread.join();
    }
    for (int* fd : {&m_commandFd, &m_finishedFd})
    {
        if (*fd >= 0)
            ::close (*fd);
        *fd = -1;
    }
}

bool VirtualKorva::waitUntilFinished (int extraFd)
{
    if (m_finishedFd < 0)
        return true;

    for (;;)
    {
        pollfd fds[2] = {{m_finishedFd, POLLIN, 0}, {extraFd, POLLIN, 0}};
        const int ready = ::poll (fds, extraFd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[0].revents & POLLIN) != 0)
            return true;
        if (extraFd >= 0 && fds[1].revents != 0)
            return false;
    }
}

//==============================================================================
void VirtualKorva::setHandler (std::uint8_t type, Handler handler)
{
    const std::lock_guard<std::mutex> lock (m_handlerLock);
    m_handlers[type] = std::move (handler);
}

void VirtualKorva::setDefaultHandler (Handler handler)
{
    const std::lock_guard<std::mutex> lock (m_handlerLock);
    m_defaultHandler = std::move (handler);
}

std::optional<Message> VirtualKorva::answer (const Message& request)
{
    Handler handler;
    {
        const std::lock_guard<std::mutex> lock (m_handlerLock);
        const auto found = m_handlers.find (request.type);
        handler = found != m_handlers.end() ? found->second : m_defaultHandler;
    }
    {
        const std::lock_guard<std::mutex> lock (m_recordLock);
        m_requests.push_back (request);
    }
    return handler ? handler (request) : std::nullopt;
}

void VirtualKorva::post (std::function<void()> command)
{
    if (! m_running)
    {
        // Not serving: the command has nothing to act on but the settings.
        command();
        return;
    }
    {
        const std::lock_guard<std::mutex> lock (m_commandLock);
        m_commands.push_back (std::move (command));
    }
    signal (m_commandFd);
}

void VirtualKorva::setFaults (const Faults& faults)
{
    post ([this, faults] { m_link.setFaults (faults); });
}

void VirtualKorva::setResponseDelay (int milliseconds)
{
    post ([this, milliseconds] { m_link.setResponseDelay (milliseconds); });
}

void VirtualKorva::holdOutput (bool hold)
{
    post (
        [this, hold]
        {
            m_holding = hold;
            if (! hold)
            {
                auto held = std::move (m_held);
                m_held.clear();
                for (const auto& report : held)
                    transmit (report);
            }
        });
}

void VirtualKorva::sendMessage (const Message& message)
{
    post ([this, message] { perform (m_link.post (message, now())); });
}

void VirtualKorva::sendRawMessage (const std::vector<std::uint8_t>& message)
{
    post (
        [this, message]
        {
            std::vector<std::uint8_t> report (m_options.inputReportLength, 0);
            if (report.size() > 1)
                std::copy_n (message.begin(), std::min (message.size(), report.size() - 1), report.begin() + 1);
            transmit (report);
        });
}

void VirtualKorva::setReportObserver (std::function<void (const std::vector<std::uint8_t>&)> observer)
{
    const std::lock_guard<std::mutex> lock (m_handlerLock);
    m_observer = std::move (observer);
}

std::vector<std::vector<std::uint8_t>> VirtualKorva::getReceivedReports() const
{
    const std::lock_guard<std::mutex> lock (m_recordLock);
    return m_received;
}

std::vector<Message> VirtualKorva::getRequests() const
{
    const std::lock_guard<std::mutex> lock (m_recordLock);
    return m_requests;
}

std::vector<std::vector<std::uint8_t>> VirtualKorva::getSentReports() const
{
    const std::lock_guard<std::mutex> lock (m_recordLock);
    return m_sent;
}

//==============================================================================
void VirtualKorva::run()
{
    std::vector<pollfd> fds;

    while (! m_stopRequested && ! m_vanished)
    {
        fds.clear();
        fds.push_back ({m_commandFd, POLLIN, 0});
        fds.push_back ({m_listenFd, POLLIN, 0});
        for (int client : m_clients)
            fds.push_back ({client, POLLIN, 0});

        const auto deadline = m_link.nextDeadline();
        const int timeout = deadline < 0 ? -1 : static_cast<int> (std::max<std::int64_t> (0, deadline - now()));
        const int ready = ::poll (fds.data(), static_cast<nfds_t> (fds.size()), timeout);
        if (ready < 0 && errno != EINTR)
        {
            log (std::string ("poll failed: ") + std::strerror (errno));
            break;
        }

        if (ready > 0 && (fds[0].revents & POLLIN) != 0)
        {
            drain (m_commandFd);
            runCommands();
        }
        if (m_stopRequested || m_vanished)
            break;

        if (ready > 0 && (fds[1].revents & POLLIN) != 0)
            acceptConnections();

        // Connections accepted just now are not in fds; they wait for the next pass.
        for (std::size_t i = fds.size(); i-- > 2;)
        {
            if (fds[i].revents != 0 && ! m_vanished)
                readConnection (i - 2);
        }

        if (! m_vanished)
            perform (m_link.tick (now()));
    }

    shutDown (m_vanished);
    signal (m_finishedFd);
}

void VirtualKorva::runCommands()
{
    std::vector<std::function<void()>> commands;
    {
        const std::lock_guard<std::mutex> lock (m_commandLock);
        commands.swap (m_commands);
    }
    for (auto& command : commands)
        if (! m_vanished)
            command();
}

void VirtualKorva::acceptConnections()
{
    for (;;)
    {
        const int client = ::accept4 (m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
        {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: no more waiting
        }

        hidlink::virtualdevice::Hello hello;
        hello.vendorId = m_options.vendorId;
        hello.productId = m_options.productId;
        hello.versionNumber = m_options.versionNumber;
        hello.inputReportLength = m_options.inputReportLength;
        hello.outputReportLength = m_options.outputReportLength;
        hello.manufacturer = m_options.manufacturer;
        hello.product = m_options.product;
        const auto bytes = hidlink::virtualdevice::encodeHello (hello);

        // Counted before the hello goes out: whoever has the hello is counted.
        m_clients.push_back (client);
        m_connections = static_cast<int> (m_clients.size());
        ::send (client, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        log ("connection opened (" + std::to_string (m_clients.size()) + " open)");
    }
}

void VirtualKorva::readConnection (std::size_t index)
{
    // One report per pass: commands posted meanwhile (a hold, say) apply to
    // the next report already.
    const int client = m_clients[index];
    std::uint8_t buffer[4096];

    ssize_t n = 0;
    do
    {
        n = ::recv (client, buffer, sizeof (buffer), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);

    if (n < 0 && errno == EAGAIN)
        return;
    if (n <= 0)
    {
        closeConnection (index);
        return;
    }

    std::vector<std::uint8_t> report (buffer, buffer + n);
    {
        const std::lock_guard<std::mutex> lock (m_recordLock);
        m_received.push_back (report);
    }
    std::function<void (const std::vector<std::uint8_t>&)> observer;
    {
        const std::lock_guard<std::mutex> lock (m_handlerLock);
        observer = m_observer;
    }
    if (observer)
        observer (report);

    if (report.size() != m_options.outputReportLength)
        log ("report of " + std::to_string (report.size()) + " bytes where "
             + std::to_string (m_options.outputReportLength) + " were expected");
    if (report[0] != 0)
    {
        log ("report ID " + std::to_string (report[0]) + ", ignored");
        return;
    }

    perform (m_link.receive (report.data() + 1, report.size() - 1, now()));
}

void VirtualKorva::perform (const std::vector<Action>& actions)
{
    bool vanishing = false;
    for (const auto& action : actions)
        vanishing = vanishing || action.kind == Action::Kind::kVanish;

    // A device that vanishes refuses what the computer writes from now on,
    // even before the last report it sends has been read.
    if (vanishing)
        for (int client : m_clients)
            ::shutdown (client, SHUT_RD);

    for (const auto& action : actions)
    {
        if (action.kind == Action::Kind::kSend)
            broadcast (action.message);
    }

    if (vanishing)
        m_vanished = true;
}

void VirtualKorva::broadcast (const MessageBytes& message)
{
    const std::size_t length = m_options.inputReportLength;
    std::vector<std::uint8_t> report (length, 0);
    if (length > 1)
        std::copy_n (message.begin(), std::min (message.size(), length - 1), report.begin() + 1);

    if (m_holding)
        m_held.push_back (std::move (report));
    else
        transmit (report);
}

void VirtualKorva::transmit (const std::vector<std::uint8_t>& report)
{
    {
        const std::lock_guard<std::mutex> lock (m_recordLock);
        m_sent.push_back (report);
    }
    // Connections that do not read (a writer's, say) just miss reports, as
    // they would on a hidraw node.
    for (int client : m_clients)
        ::send (client, report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void VirtualKorva::closeConnection (std::size_t index)
{
    ::close (m_clients[index]);
    m_clients.erase (m_clients.begin() + static_cast<std::ptrdiff_t> (index));
    m_connections = static_cast<int> (m_clients.size());
    log ("connection closed (" + std::to_string (m_clients.size()) + " open)");
}

void VirtualKorva::shutDown (bool vanished)
{
    for (int client : m_clients)
        ::close (client);
    m_clients.clear();
    m_connections = 0;

    if (m_listenFd >= 0)
        ::close (m_listenFd);
    m_listenFd = -1;

    // Only our own socket is removed, not one a newer device put in its place.
    struct stat info
    {
    };
    if (! m_socketPath.empty() && ::lstat (m_socketPath.c_str(), &info) == 0 && info.st_ino == m_socketInode)
        ::unlink (m_socketPath.c_str());

    m_running = false;
    log (vanished ? "vanished" : "unplugged");
}

} // namespace sim

} // namespace korva
