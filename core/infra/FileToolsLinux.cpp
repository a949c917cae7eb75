// The file calls on Linux: POSIX, with errno as it comes.

#include "core/infra/FileTools.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korva
{

namespace infra
{

namespace
{
const char* pathOf (const juce::File& file)
{
    return file.getFullPathName().toRawUTF8();
}

// The errno of a call that returned -1, or 0.
int errorOf (int returned)
{
    return returned == -1 ? errno : 0;
}

// Opens with O_CLOEXEC; the descriptor, or -1 with errno set.
int openFile (const juce::File& file, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open (pathOf (file), flags | O_CLOEXEC, mode);
    while (fd == -1 && errno == EINTR);
    return fd;
}

// Writes every byte, at `position` or (with -1) where the descriptor stands.
int writeAll (int fd, const void* data, size_t size, off_t position = -1)
{
    const auto* bytes = static_cast<const char*> (data);
    size_t done = 0;
    while (done < size)
    {
        const auto written = position < 0 ? ::write (fd, bytes + done, size - done)
                                          : ::pwrite (fd, bytes + done, size - done, position + (off_t)done);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += (size_t)written;
    }
    return 0;
}

// Closes, and keeps the first error: a file system may report a failed
// write only when the file is closed.
int closeKeeping (int fd, int error)
{
    const int closed = errorOf (::close (fd));
    return error != 0 ? error : (closed == EINTR ? 0 : closed);
}
} // namespace

juce::String FileTools::errorText (int error)
{
    char buffer[256] = {};
    return juce::String (::strerror_r (error, buffer, sizeof (buffer)));
}

int FileTools::lastError()
{
    return errno;
}

void FileTools::clearLastError()
{
    errno = 0;
}

int FileTools::makeFolders (const juce::File& folder)
{
    if (folder.isDirectory())
        return 0;
    const auto parent = folder.getParentDirectory();
    if (parent != folder)
        if (const int error = makeFolders (parent); error != 0)
            return error;
    const int error = errorOf (::mkdir (pathOf (folder), 0777));
    if (error == EEXIST)
        return folder.isDirectory() ? 0 : ENOTDIR; // a file stands in the folder's place
    return error;
}

int FileTools::truncate (const juce::File& file)
{
    const int fd = openFile (file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd < 0 ? errno : closeKeeping (fd, 0);
}

int FileTools::append (const juce::File& file, const void* data, size_t size)
{
    const int fd = openFile (file, O_WRONLY | O_APPEND);
    return fd < 0 ? errno : closeKeeping (fd, writeAll (fd, data, size));
}

int FileTools::writeAt (const juce::File& file, juce::int64 position, const void* data, size_t size)
{
    const int fd = openFile (file, O_WRONLY);
    if (fd < 0)
        return errno;
    int error = writeAll (fd, data, size, (off_t)position);
    if (error == 0)
        error = errorOf (::fsync (fd));
    return closeKeeping (fd, error);
}

int FileTools::readAt (const juce::File& file, juce::int64 position, void* buffer, size_t size, size_t& got)
{
    got = 0;
    const int fd = openFile (file, O_RDONLY);
    if (fd < 0)
        return errno;
    int error = 0;
    while (got < size)
    {
        const auto n = ::pread (fd, static_cast<char*> (buffer) + got, size - got, (off_t)position + (off_t)got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        got += (size_t)n;
    }
    return closeKeeping (fd, error);
}

int FileTools::sync (const juce::File& file)
{
    const int fd = openFile (file, O_RDONLY);
    return fd < 0 ? errno : closeKeeping (fd, errorOf (::fsync (fd)));
}

int FileTools::renameWithoutReplacing (const juce::File& source, const juce::File& destination)
{
    const int error =
        errorOf (::renameat2 (AT_FDCWD, pathOf (source), AT_FDCWD, pathOf (destination), RENAME_NOREPLACE));
    if (error != EINVAL)
        return error;
    // A file system that cannot promise this: a link cannot replace anything
    // either; one without links gets a look first and a plain rename.
    const int linked = errorOf (::link (pathOf (source), pathOf (destination)));
    if (linked == 0)
        return errorOf (::unlink (pathOf (source)));
    if (linked != EPERM && linked != EOPNOTSUPP)
        return linked;
    if (destination.exists())
        return EEXIST;
    return errorOf (std::rename (pathOf (source), pathOf (destination)));
}

int FileTools::copyWithoutReplacing (const juce::File& source, const juce::File& destination)
{
    const int in = openFile (source, O_RDONLY);
    if (in < 0)
        return errno;
    const int out = openFile (destination, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (out < 0)
        return closeKeeping (in, errno);

    int error = 0;
    char buffer[65536];
    for (;;)
    {
        const auto n = ::read (in, buffer, sizeof (buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0 || (error = writeAll (out, buffer, (size_t)n)) != 0)
            break;
    }
    if (error == 0)
        error = errorOf (::fsync (out));
    error = closeKeeping (out, error);
    ::close (in);
    if (error != 0)
        ::unlink (pathOf (destination));
    return error;
}

juce::Time FileTools::creationTime (const juce::File& file)
{
    struct statx info
    {
    };
    if (::statx (AT_FDCWD, file.getFullPathName().toRawUTF8(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return {};
    const auto& when = (info.stx_mask & STATX_BTIME) != 0 ? info.stx_btime : info.stx_mtime;
    return juce::Time ((juce::int64) when.tv_sec * 1000 + (juce::int64) when.tv_nsec / 1000000);
}

int FileTools::remove (const juce::File& file)
{
    const int error = errorOf (::unlink (pathOf (file)));
    return error == ENOENT ? 0 : error;
}

} // namespace infra

} // namespace korva
