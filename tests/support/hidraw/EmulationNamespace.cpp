#include "tests/support/hidraw/EmulationNamespace.h"

#include "tests/support/hidraw/SysfsTree.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#ifndef SYSFS_MAGIC
#define SYSFS_MAGIC 0x62656572
#endif

namespace korva::test::hidraw
{

namespace
{
std::string failure (const std::string& what)
{
    return what + ": " + std::strerror (errno);
}

bool mountTmpfs (const std::string& target, std::string& error)
{
    if (::mount ("tmpfs", target.c_str(), "tmpfs", MS_NOSUID, "mode=0755") != 0)
    {
        error = failure ("mount tmpfs on " + target);
        return false;
    }
    return true;
}

// The nodes and folders of /dev that programs expect, taken from the real one.
bool populateDev (const std::string& dev, std::string& error)
{
    for (const char* node : {"null", "zero", "full", "random", "urandom", "tty", "fuse"})
    {
        const auto source = std::string ("/dev/") + node;
        const auto target = dev + "/" + node;
        if (::access (source.c_str(), F_OK) != 0)
            continue;
        const int fd = ::open (target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0)
        {
            error = failure ("create " + target);
            return false;
        }
        ::close (fd);
        if (::mount (source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        {
            error = failure ("bind " + source);
            return false;
        }
    }

    for (const char* folder : {"pts", "shm"})
    {
        const auto source = std::string ("/dev/") + folder;
        const auto target = dev + "/" + folder;
        ::mkdir (target.c_str(), 0755);
        if (::access (source.c_str(), F_OK) == 0
            && ::mount (source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        {
            error = failure ("bind " + source);
            return false;
        }
    }

    const std::pair<const char*, const char*> links[] = {{"fd", "/proc/self/fd"},
                                                         {"stdin", "/proc/self/fd/0"},
                                                         {"stdout", "/proc/self/fd/1"},
                                                         {"stderr", "/proc/self/fd/2"},
                                                         {"ptmx", "pts/ptmx"}};
    for (const auto& [name, target] : links)
        if (::symlink (target, (dev + "/" + name).c_str()) != 0)
        {
            error = failure (std::string ("link ") + name);
            return false;
        }

    const auto runtime = dev + std::string (kRuntimeFolder).substr (4);
    if (::mkdir (runtime.c_str(), 0755) != 0)
    {
        error = failure ("create " + runtime);
        return false;
    }
    return true;
}

bool build (const std::string& staging, std::string& error)
{
    const auto sys = staging + "/sys";
    const auto dev = staging + "/dev";
    if (::mkdir (sys.c_str(), 0755) != 0 || ::mkdir (dev.c_str(), 0755) != 0)
    {
        error = failure ("create folders in " + staging);
        return false;
    }
    if (! mountTmpfs (sys, error) || ! createSysfsSkeleton (sys, error) || ! mountTmpfs (dev, error)
        || ! populateDev (dev, error))
        return false;

    // The processors, which the C library and the sanitizers count in sysfs.
    const auto system = sys + "/devices/system";
    ::mkdir (system.c_str(), 0755);
    ::mount ("/sys/devices/system", system.c_str(), nullptr, MS_BIND | MS_REC, nullptr);

    if (::mount (sys.c_str(), "/sys", nullptr, MS_MOVE, nullptr) != 0)
    {
        error = failure ("move the emulated sysfs onto /sys");
        return false;
    }
    if (::mount (dev.c_str(), "/dev", nullptr, MS_MOVE, nullptr) != 0)
    {
        error = failure ("move the emulated /dev onto /dev");
        return false;
    }
    return true;
}
} // namespace

bool enterEmulationNamespace (std::string& error)
{
    if (::geteuid() != 0)
    {
        error = "needs root, for a private mount namespace and FUSE";
        return false;
    }
    if (::access ("/dev/fuse", R_OK | W_OK) != 0)
    {
        error = failure ("/dev/fuse");
        return false;
    }
    if (::unshare (CLONE_NEWNS) != 0)
    {
        error = failure ("unshare (CLONE_NEWNS)");
        return false;
    }
    // Nothing mounted from here on is seen outside.
    if (::mount (nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    {
        error = failure ("make the mounts private");
        return false;
    }

    char pattern[] = "/tmp/korva-hidraw-XXXXXX";
    if (::mkdtemp (pattern) == nullptr)
    {
        error = failure ("mkdtemp");
        return false;
    }
    const std::string staging = pattern;
    bool built = mountTmpfs (staging, error) && build (staging, error);
    ::umount2 (staging.c_str(), MNT_DETACH);
    ::rmdir (staging.c_str());
    if (! built)
        return false;

    // Without udevd, as in a container: the program reads sysfs and watches /dev.
    struct stat info{};
    if (::stat ("/run/udev", &info) == 0 && S_ISDIR (info.st_mode) && ! mountTmpfs ("/run/udev", error))
        return false;

    ::setenv ("SYSTEMD_DEVICE_VERIFY_SYSFS", "0", 1);
    ::setenv (kEmulationVariable, kRuntimeFolder, 1);
    ::unsetenv (kUnavailableVariable);
    return true;
}

bool insideEmulation()
{
    const char* folder = std::getenv (kEmulationVariable);
    struct statfs info{};
    return folder != nullptr && ::statfs ("/sys", &info) == 0 && info.f_type != SYSFS_MAGIC
           && ::access (kRuntimeFolder, F_OK) == 0;
}

} // namespace korva::test::hidraw
