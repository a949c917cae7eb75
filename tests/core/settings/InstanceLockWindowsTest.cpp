// The instance lock on Windows only: the loopback port a later start finds
// in the file beside the lock.

#include "core/settings/InstanceLock.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

namespace korva
{

namespace
{
// A connection to the holder's port that is no later start of the program.
class Stranger
{
public:
    explicit Stranger (int port)
    {
        WSADATA data {};
        m_started = ::WSAStartup (MAKEWORD (2, 2), &data) == 0;
        m_socket = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        address.sin_port = htons ((u_short) port);
        m_connected = m_socket != INVALID_SOCKET
                      && ::connect (m_socket, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0;
    }
    ~Stranger()
    {
        if (m_socket != INVALID_SOCKET)
            ::closesocket (m_socket);
        if (m_started)
            ::WSACleanup();
    }
    bool isConnected() const { return m_connected; }
    bool say (const char* text) { return ::send (m_socket, text, (int) std::strlen (text), 0) == (int) std::strlen (text); }

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
    bool m_connected = false;
};
} // namespace

TEST (InstanceLockOnWindows, TheHolderNamesItsLoopbackPortBesideTheLock)
{
    korva::test::TempFolder tmp;
    const auto file = tmp / ".instance.lock";
    const auto portFile = InstanceLock::requestSocketFor (file);
    EXPECT_EQ (portFile.getParentDirectory(), file.getParentDirectory());
    portFile.replaceWithText ("65000"); // left by a copy that ended without removing it

    {
        InstanceLock holder (file);
        ASSERT_TRUE (holder.isHeld());
        EXPECT_EQ (holder.getRequestDescriptor(), -1); // sockets are no descriptors here
        const int port = portFile.loadFileAsString().trim().getIntValue();
        EXPECT_GT (port, 0);
        EXPECT_NE (port, 65000);

        // Anything but the request is not taken for it.
        Stranger stranger (port);
        ASSERT_TRUE (stranger.isConnected());
        ASSERT_TRUE (stranger.say ("hello\n"));
        EXPECT_FALSE (holder.takeRequests());

        // The request itself is.
        std::atomic<bool> asked { false };
        juce::String problem;
        bool answered = false;
        std::thread later (
            [&]
            {
                answered = InstanceLock (file).askHolderToShowWindow (10000, problem);
                asked = true;
            });
        bool shown = false;
        EXPECT_TRUE (korva::test::waitUntil ([&] { return (shown = shown || holder.takeRequests()) && asked.load(); },
                                             10000));
        later.join();
        EXPECT_TRUE (answered) << problem;
    }
    EXPECT_FALSE (portFile.exists()); // the holder takes its port with it
}

} // namespace korva
