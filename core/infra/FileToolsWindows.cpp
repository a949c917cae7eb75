// The file calls on Windows: the wide-character Win32 functions, whose error
// codes are told in errno's terms, so that a failure reads the same as on
// Linux ("No space left on device").

#include "core/infra/FileTools.h"

#include <cerrno>
#include <cstring>

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace korva
{

namespace infra
{

namespace
{
// The path as the W functions take it. It is converted in a copy of its own:
// the conversion is kept inside the string, and the file's own string may be
// read by another thread meanwhile.
class WidePath
{
public:
    explicit WidePath (const juce::File& file) : m_path (file.getFullPathName()) {}
    operator const wchar_t*() const { return m_path.toWideCharPointer(); }

private:
    juce::String m_path;
};

int errorFromCode (DWORD code)
{
    switch (code)
    {
        case ERROR_SUCCESS: return 0;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_ACCESS_DENIED: return EACCES;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS: return EEXIST;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EBUSY;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: return ENOENT;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME: return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        default: return EIO;
    }
}

// The errno of the call that just failed.
int lastCallError()
{
    return errorFromCode (::GetLastError());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens an existing file, or makes one as `disposition` says. Every other
// program may read, write, rename and remove it meanwhile, as on Linux.
HANDLE openFile (const juce::File& file, DWORD access, DWORD disposition, DWORD share = kShareAll)
{
    return ::CreateFileW (WidePath (file), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Closes, and keeps the first error.
int closeKeeping (HANDLE handle, int error)
{
    const int closed = ::CloseHandle (handle) ? 0 : lastCallError();
    return error != 0 ? error : closed;
}

// The most one ReadFile or WriteFile is asked for.
constexpr size_t kChunk = 1u << 30;

// Writes every byte, at `position` or (with -1) where the handle stands
// (the end, for a handle opened to append).
int writeAll (HANDLE handle, const void* data, size_t size, juce::int64 position = -1)
{
    const auto* bytes = static_cast<const char*> (data);
    size_t done = 0;
    while (done < size)
    {
        OVERLAPPED at {};
        const auto offset = (juce::uint64) (position + (juce::int64) done);
        at.Offset = (DWORD) (offset & 0xFFFFFFFFu);
        at.OffsetHigh = (DWORD) (offset >> 32);
        DWORD written = 0;
        if (! ::WriteFile (handle, bytes + done, (DWORD) juce::jmin (size - done, kChunk), &written,
                           position < 0 ? nullptr : &at))
            return lastCallError();
        if (written == 0)
            return EIO;
        done += written;
    }
    return 0;
}

int flush (HANDLE handle)
{
    return ::FlushFileBuffers (handle) ? 0 : lastCallError();
}

// The text for the error numbers these calls give: glibc's words, which the
// messages of the program were written with.
const char* linuxWordsFor (int error)
{
    switch (error)
    {
        case EPERM: return "Operation not permitted";
        case ENOENT: return "No such file or directory";
        case EIO: return "Input/output error";
        case EBADF: return "Bad file descriptor";
        case ENOMEM: return "Cannot allocate memory";
        case EACCES: return "Permission denied";
        case EBUSY: return "Device or resource busy";
        case EEXIST: return "File exists";
        case EXDEV: return "Invalid cross-device link";
        case ENOTDIR: return "Not a directory";
        case EISDIR: return "Is a directory";
        case EINVAL: return "Invalid argument";
        case ENOSPC: return "No space left on device";
        case EROFS: return "Read-only file system";
        case ENAMETOOLONG: return "File name too long";
        case ENOTEMPTY: return "Directory not empty";
        default: return nullptr;
    }
}
} // namespace

juce::String FileTools::errorText (int error)
{
    if (const char* words = linuxWordsFor (error))
        return words;
    char buffer[256] = {};
    if (::strerror_s (buffer, sizeof (buffer), error) != 0)
        return "Unknown error " + juce::String (error);
    return juce::String (buffer);
}

int FileTools::lastError()
{
    return lastCallError();
}

void FileTools::clearLastError()
{
    ::SetLastError (ERROR_SUCCESS);
}

int FileTools::makeFolders (const juce::File& folder)
{
    if (folder.isDirectory())
        return 0;
    const auto parent = folder.getParentDirectory();
    if (parent != folder)
        if (const int error = makeFolders (parent); error != 0)
            return error;
    if (::CreateDirectoryW (WidePath (folder), nullptr))
        return 0;
    const int error = lastCallError();
    if (error == EEXIST)
        return folder.isDirectory() ? 0 : ENOTDIR; // a file stands in the folder's place
    return error;
}

int FileTools::truncate (const juce::File& file)
{
    // Opened and cut rather than made anew: CREATE_ALWAYS refuses a file
    // whose hidden or system attribute the call does not repeat.
    const HANDLE handle = openFile (file, GENERIC_WRITE, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE)
        return lastCallError();
    return closeKeeping (handle, ::SetEndOfFile (handle) ? 0 : lastCallError());
}

int FileTools::append (const juce::File& file, const void* data, size_t size)
{
    const HANDLE handle = openFile (file, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return lastCallError();
    return closeKeeping (handle, writeAll (handle, data, size));
}

int FileTools::writeAt (const juce::File& file, juce::int64 position, const void* data, size_t size)
{
    const HANDLE handle = openFile (file, GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return lastCallError();
    int error = writeAll (handle, data, size, position);
    if (error == 0)
        error = flush (handle);
    return closeKeeping (handle, error);
}

int FileTools::readAt (const juce::File& file, juce::int64 position, void* buffer, size_t size, size_t& got)
{
    got = 0;
    const HANDLE handle = openFile (file, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return lastCallError();
    int error = 0;
    while (got < size)
    {
        OVERLAPPED at {};
        const auto offset = (juce::uint64) (position + (juce::int64) got);
        at.Offset = (DWORD) (offset & 0xFFFFFFFFu);
        at.OffsetHigh = (DWORD) (offset >> 32);
        DWORD n = 0;
        if (! ::ReadFile (handle, static_cast<char*> (buffer) + got, (DWORD) juce::jmin (size - got, kChunk), &n, &at))
        {
            // Reading from the end on is no error: the file is only shorter.
            if (::GetLastError() != ERROR_HANDLE_EOF)
                error = lastCallError();
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    return closeKeeping (handle, error);
}

int FileTools::sync (const juce::File& file)
{
    // Windows flushes only through a handle that may write.
    const HANDLE handle = openFile (file, GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return lastCallError();
    return closeKeeping (handle, flush (handle));
}

int FileTools::renameWithoutReplacing (const juce::File& source, const juce::File& destination)
{
    // Without MOVEFILE_REPLACE_EXISTING a file of that name stays (the call
    // fails), and without MOVEFILE_COPY_ALLOWED another volume is refused
    // rather than copied to.
    return ::MoveFileExW (WidePath (source), WidePath (destination), 0) ? 0 : lastCallError();
}

int FileTools::copyWithoutReplacing (const juce::File& source, const juce::File& destination)
{
    const HANDLE in = openFile (source, GENERIC_READ, OPEN_EXISTING);
    if (in == INVALID_HANDLE_VALUE)
        return lastCallError();
    const HANDLE out = openFile (destination, GENERIC_WRITE, CREATE_NEW);
    if (out == INVALID_HANDLE_VALUE)
        return closeKeeping (in, lastCallError());

    int error = 0;
    static constexpr DWORD kBufferSize = 65536;
    juce::HeapBlock<char> buffer (kBufferSize);
    for (;;)
    {
        DWORD n = 0;
        if (! ::ReadFile (in, buffer.get(), kBufferSize, &n, nullptr))
        {
            error = lastCallError();
            break;
        }
        if (n == 0 || (error = writeAll (out, buffer.get(), n)) != 0)
            break;
    }
    if (error == 0)
        error = flush (out);
    error = closeKeeping (out, error);
    ::CloseHandle (in);
    if (error != 0)
        ::DeleteFileW (WidePath (destination));
    return error;
}

juce::Time FileTools::creationTime (const juce::File& file)
{
    WIN32_FILE_ATTRIBUTE_DATA info {};
    if (! ::GetFileAttributesExW (WidePath (file), GetFileExInfoStandard, &info))
        return {};
    // 100-nanosecond steps since 1601.
    constexpr juce::int64 kStepsTo1970 = 116444736000000000LL;
    const auto steps = (juce::int64) (((juce::uint64) info.ftCreationTime.dwHighDateTime << 32)
                                      | info.ftCreationTime.dwLowDateTime);
    return juce::Time ((steps - kStepsTo1970) / 10000);
}

int FileTools::remove (const juce::File& file)
{
    const int error = ::DeleteFileW (WidePath (file)) ? 0 : lastCallError();
    return error == ENOENT ? 0 : error;
}

} // namespace infra

} // namespace korva
