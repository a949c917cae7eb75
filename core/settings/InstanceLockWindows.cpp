// The instance lock on Windows: LockFileEx on the lock file, and a TCP socket
// on the loopback address for the requests of later starts, whose port the
// holder writes in a file beside the lock (Wine has no Unix-domain sockets).

#include "core/settings/InstanceLock.h"

#include "core/infra/FileTools.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace korva
{

struct InstanceLock::Native
{
    HANDLE file = INVALID_HANDLE_VALUE;
    SOCKET listening = INVALID_SOCKET;

    // watchRequests: a thread that waits for connections or for `stop`.
    WSAEVENT connected = WSA_INVALID_EVENT;
    HANDLE stop = nullptr;
    std::thread watcher;
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>> (true);
};

namespace
{
constexpr int kRequestWaitMs = 500;

bool startSockets()
{
    static const bool started = []
    {
        WSADATA data {};
        return ::WSAStartup (MAKEWORD (2, 2), &data) == 0;
    }();
    return started;
}

juce::int64 nowMs()
{
    return (juce::int64) juce::Time::getMillisecondCounterHiRes();
}

sockaddr_in loopback (int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    address.sin_port = htons ((u_short) port);
    return address;
}

// A socket no child process inherits, in non-blocking mode.
SOCKET openSocket()
{
    const SOCKET s = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return s;
    ::SetHandleInformation ((HANDLE) s, HANDLE_FLAG_INHERIT, 0);
    u_long nonBlocking = 1;
    if (::ioctlsocket (s, FIONBIO, &nonBlocking) != 0)
    {
        ::closesocket (s);
        return INVALID_SOCKET;
    }
    return s;
}

// Waits until the socket can be read (or, with `forWriting`, written or has
// failed to connect). True when it can.
bool waitFor (SOCKET s, bool forWriting, int timeoutMs)
{
    fd_set ready, failed;
    FD_ZERO (&ready);
    FD_ZERO (&failed);
    FD_SET (s, &ready);
    FD_SET (s, &failed);
    timeval timeout { timeoutMs / 1000, (timeoutMs % 1000) * 1000 };
    const int n = ::select (0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &timeout);
    return n > 0 && FD_ISSET (s, &ready);
}

juce::String socketErrorText (int code)
{
    switch (code)
    {
        case WSAECONNREFUSED: return "Connection refused";
        case WSAETIMEDOUT: return "Connection timed out";
        case WSAECONNRESET: return "Connection reset by peer";
        case WSAENETUNREACH: return "Network is unreachable";
        default: return "socket error " + juce::String (code);
    }
}

// The port the holder wrote; 0 and the reason when there is none to try.
int readPort (const juce::File& portFile, juce::String& reason)
{
    if (! portFile.existsAsFile())
    {
        reason = infra::FileTools::errorText (ENOENT);
        return 0;
    }
    const auto text = portFile.loadFileAsString().trim();
    const int port = text.getIntValue();
    if (text.isEmpty() || ! text.containsOnly ("0123456789") || port <= 0 || port > 65535)
    {
        reason = "the file names no port";
        return 0;
    }
    return port;
}
} // namespace

InstanceLock::InstanceLock (const juce::File& lockFile) : m_lockFile (lockFile), m_native (std::make_unique<Native>())
{
    lockFile.getParentDirectory().createDirectory();
    const juce::String path = lockFile.getFullPathName();
    const HANDLE file = ::CreateFileW (path.toWideCharPointer(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;

    OVERLAPPED whole {};
    if (! ::LockFileEx (file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
    {
        ::CloseHandle (file);
        return;
    }
    m_native->file = file;

    // The lock says who runs: a port left by a copy that ended without
    // removing its file is nobody's now.
    const auto portFile = requestSocketFor (lockFile);
    portFile.deleteFile();

    if (! startSockets())
        return;
    const SOCKET listening = openSocket();
    if (listening == INVALID_SOCKET)
        return;
    // No other socket may take the port while it is ours.
    BOOL exclusive = TRUE;
    ::setsockopt (listening, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*> (&exclusive),
                  sizeof (exclusive));
    auto address = loopback (0);
    int length = sizeof (address);
    const bool listens = ::bind (listening, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0
                         && ::listen (listening, 8) == 0
                         && ::getsockname (listening, reinterpret_cast<sockaddr*> (&address), &length) == 0;
    // Written whole or not at all: the framework writes beside it and renames.
    if (! listens || ! portFile.replaceWithText (juce::String (ntohs (address.sin_port)), false, false, nullptr))
    {
        ::closesocket (listening);
        return;
    }
    m_native->listening = listening;
}

InstanceLock::~InstanceLock()
{
    m_native->alive->store (false);
    if (m_native->watcher.joinable())
    {
        ::SetEvent (m_native->stop);
        m_native->watcher.join();
    }
    if (m_native->stop != nullptr)
        ::CloseHandle (m_native->stop);
    if (m_native->connected != WSA_INVALID_EVENT)
        ::WSACloseEvent (m_native->connected);
    if (m_native->listening != INVALID_SOCKET)
    {
        ::closesocket (m_native->listening);
        requestSocketFor (m_lockFile).deleteFile();
    }
    if (m_native->file != INVALID_HANDLE_VALUE)
    {
        OVERLAPPED whole {};
        ::UnlockFileEx (m_native->file, 0, MAXDWORD, MAXDWORD, &whole);
        ::CloseHandle (m_native->file);
    }
}

bool InstanceLock::isHeld() const noexcept
{
    return m_native->file != INVALID_HANDLE_VALUE;
}

int InstanceLock::getRequestDescriptor() const noexcept
{
    return -1;
}

bool InstanceLock::takeRequests()
{
    if (m_native->listening == INVALID_SOCKET)
        return false;

    bool show = false;
    for (;;)
    {
        // Non-blocking, as the listening socket is.
        const SOCKET connection = ::accept (m_native->listening, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            break;

        // A later start writes its request at once; one that does not (or
        // writes something else) is not waited for.
        char request[16] = {};
        if (waitFor (connection, false, kRequestWaitMs))
        {
            const int n = ::recv (connection, request, sizeof (request) - 1, 0);
            if (n == (int) (sizeof (kShowRequest) - 1) && std::memcmp (request, kShowRequest, (size_t) n) == 0)
            {
                show = true;
                ::send (connection, kAnswer, (int) (sizeof (kAnswer) - 1), 0);
            }
        }
        ::closesocket (connection);
    }
    return show;
}

void InstanceLock::watchRequests (std::function<void()> show)
{
    auto& native = *m_native;
    if (native.listening == INVALID_SOCKET || native.watcher.joinable())
        return;

    native.connected = ::WSACreateEvent();
    native.stop = ::CreateEventW (nullptr, TRUE, FALSE, nullptr);
    if (native.connected == WSA_INVALID_EVENT || native.stop == nullptr
        || ::WSAEventSelect (native.listening, native.connected, FD_ACCEPT) != 0)
        return;

    native.watcher = std::thread (
        [this, show = std::move (show)]
        {
            auto& n = *m_native;
            const HANDLE events[] = { n.stop, n.connected };
            while (::WaitForMultipleObjects (2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
            {
                WSANETWORKEVENTS happened {};
                ::WSAEnumNetworkEvents (n.listening, n.connected, &happened); // resets the event
                if (takeRequests())
                    juce::MessageManager::callAsync (
                        [alive = n.alive, show]
                        {
                            if (alive->load())
                                show();
                        });
            }
        });
}

bool InstanceLock::askHolderToShowWindow (int timeoutMs, juce::String& problem) const
{
    const auto portFile = requestSocketFor (m_lockFile);
    if (! startSockets())
    {
        problem = "no sockets: Windows Sockets did not start";
        return false;
    }

    // The running copy writes its port right after taking the lock: a start
    // that comes in between tries again for a moment.
    const auto deadline = nowMs() + timeoutMs;
    const auto remainingMs = [deadline] { return (int) juce::jmax<juce::int64> (0, deadline - nowMs()); };
    for (;;)
    {
        juce::String reason;
        if (const int port = readPort (portFile, reason); port > 0)
        {
            const SOCKET connection = openSocket();
            if (connection == INVALID_SOCKET)
            {
                problem = "no socket: " + socketErrorText (::WSAGetLastError());
                return false;
            }

            const auto address = loopback (port);
            int error = 0;
            if (::connect (connection, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0)
            {
                error = ::WSAGetLastError();
                if (error == WSAEWOULDBLOCK)
                {
                    // Under way: writable once connected, failed when refused.
                    error = 0;
                    if (! waitFor (connection, true, remainingMs()))
                    {
                        int length = sizeof (error);
                        ::getsockopt (connection, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*> (&error), &length);
                        if (error == 0)
                            error = WSAETIMEDOUT;
                    }
                }
            }

            if (error == 0)
            {
                char answer[8] = {};
                const bool answered =
                    ::send (connection, kShowRequest, (int) (sizeof (kShowRequest) - 1), 0)
                        == (int) (sizeof (kShowRequest) - 1)
                    && waitFor (connection, false, remainingMs())
                    && ::recv (connection, answer, sizeof (answer) - 1, 0) == (int) (sizeof (kAnswer) - 1)
                    && std::memcmp (answer, kAnswer, sizeof (kAnswer) - 1) == 0;
                ::closesocket (connection);
                if (! answered)
                    problem = "the running KORVA Manager did not answer at " + portFile.getFullPathName();
                return answered;
            }

            ::closesocket (connection);
            reason = socketErrorText (error);
            if (error != WSAECONNREFUSED)
            {
                problem = "cannot reach the running KORVA Manager at " + portFile.getFullPathName() + ": " + reason;
                return false;
            }
        }

        if (nowMs() >= deadline)
        {
            problem = "cannot reach the running KORVA Manager at " + portFile.getFullPathName() + ": " + reason;
            return false;
        }
        juce::Thread::sleep (20);
    }
}

juce::File InstanceLock::requestSocketFor (const juce::File& lockFile)
{
    return lockFile.getSiblingFile (".instance.port");
}

} // namespace korva
