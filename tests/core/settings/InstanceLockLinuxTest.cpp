// The instance lock on Linux only: its Unix-domain socket and the descriptor
// the program's event loop watches.

#include "core/settings/InstanceLock.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace korva
{

namespace
{
// What the running program does with its descriptor, in the test's thread.
bool answerOneRequest (InstanceLock& holder, int timeoutMs)
{
    pollfd ready { holder.getRequestDescriptor(), POLLIN, 0 };
    return ::poll (&ready, 1, timeoutMs) == 1 && holder.takeRequests();
}
} // namespace

TEST (InstanceLockOnLinux, ALaterStartReachesTheHoldersOwnSocket)
{
    korva::test::TempFolder tmp;
    const auto file = tmp / ".instance.lock";
    // A socket left by a copy that ended without removing it is in nobody's way.
    InstanceLock::requestSocketFor (file).replaceWithText ("left over");

    InstanceLock holder (file);
    ASSERT_TRUE (holder.isHeld());
    ASSERT_GE (holder.getRequestDescriptor(), 0);
    struct stat info {};
    ASSERT_EQ (::stat (InstanceLock::requestSocketFor (file).getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_TRUE (S_ISSOCK (info.st_mode));
    EXPECT_EQ (info.st_mode & 0777, 0600u) << "only its owner may ask";

    for (int round = 0; round < 2; ++round)
    {
        juce::String problem;
        bool answered = false;
        std::thread later ([&] { answered = InstanceLock (file).askHolderToShowWindow (10000, problem); });
        EXPECT_TRUE (answerOneRequest (holder, 10000));
        later.join();
        EXPECT_TRUE (answered) << problem;
    }

    // Anything but the request is not taken for it.
    const int stranger = ::socket (AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strcpy (address.sun_path, InstanceLock::requestSocketFor (file).getFullPathName().toRawUTF8());
    ASSERT_EQ (::connect (stranger, reinterpret_cast<sockaddr*> (&address), sizeof (address)), 0);
    ASSERT_EQ (::write (stranger, "hello\n", 6), 6);
    EXPECT_FALSE (answerOneRequest (holder, 10000));
    ::close (stranger);
}

} // namespace korva
