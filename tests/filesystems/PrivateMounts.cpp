#include "tests/filesystems/PrivateMounts.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace korva
{

namespace test
{

namespace
{
std::string g_unavailable = "enterPrivateMounts() was not called";

std::string failure (const char* what)
{
    return std::string (what) + ": " + std::strerror (errno);
}

const char* pathOf (const juce::File& folder)
{
    return folder.getFullPathName().toRawUTF8();
}
} // namespace

void enterPrivateMounts()
{
    if (::geteuid() != 0)
        g_unavailable = "not root (the tests mount file systems and run programs as another user)";
    else if (::unshare (CLONE_NEWNS) != 0)
        g_unavailable = failure ("unshare (CLONE_NEWNS)");
    else if (::mount (nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        g_unavailable = failure ("making / private");
    else
        g_unavailable.clear();
}

std::string privateMountsUnavailable()
{
    return g_unavailable;
}

ScopedMount::ScopedMount (juce::File folder, std::string error)
    : m_folder (std::move (folder)), m_error (std::move (error))
{
}

ScopedMount::ScopedMount (ScopedMount&& other) noexcept : m_folder (other.m_folder), m_error (std::move (other.m_error))
{
    other.m_folder = juce::File();
}

ScopedMount::~ScopedMount()
{
    if (m_folder != juce::File() && m_error.empty())
        ::umount2 (pathOf (m_folder), MNT_DETACH);
}

ScopedMount ScopedMount::tmpfs (const juce::File& folder, int bytes)
{
    const auto options = "size=" + std::to_string (bytes) + ",mode=0755";
    if (::mount ("tmpfs", pathOf (folder), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        return {folder, failure ("mounting a tmpfs")};
    return {folder, {}};
}

ScopedMount ScopedMount::readOnly (const juce::File& folder)
{
    if (::mount (pathOf (folder), pathOf (folder), nullptr, MS_BIND, nullptr) != 0)
        return {folder, failure ("bind-mounting")};
    if (::mount (nullptr, pathOf (folder), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
    {
        const auto error = failure ("remounting read-only");
        ::umount2 (pathOf (folder), MNT_DETACH);
        return {folder, error};
    }
    return {folder, {}};
}

} // namespace test

} // namespace korva
