#include "core/hidlink/HidBackend.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korva
{

namespace hidlink
{

namespace
{
class FlockClaim final : public HidClaim
{
public:
    explicit FlockClaim (int fd) : m_fd (fd) {}
    ~FlockClaim() override { ::close (m_fd); } // the lock goes with the descriptor

private:
    const int m_fd;

    JUCE_DECLARE_NON_COPYABLE (FlockClaim)
};
} // namespace

std::unique_ptr<HidClaim> claimWithLock (const std::string& file, bool create, int& error)
{
    // Read-only is enough for a lock, and a user who may use the device may
    // read it. A lock file made here may be locked by every user.
    const int fd = create ? ::open (file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666)
                          : ::open (file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
    {
        error = errno;
        return nullptr;
    }
    if (create)
        (void) ::fchmod (fd, 0666); // what the umask took away; fails harmlessly on another user's file
    int locked = 0;
    do
        locked = ::flock (fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0)
    {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close (fd);
        return nullptr;
    }
    error = 0;
    return std::make_unique<FlockClaim> (fd);
}

} // namespace hidlink

} // namespace korva
