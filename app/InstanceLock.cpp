#include "app/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::InstanceLock (const juce::File& lockFile)
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
    m_fd = fd;
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
    {
        ::flock (m_fd, LOCK_UN);
        ::close (m_fd);
    }
}

juce::File InstanceLock::defaultLockFile()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile ("MELDRA")
        .getChildFile ("KORVA Manager")
        .getChildFile (".instance.lock");
}
