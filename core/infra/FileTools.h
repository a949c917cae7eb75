#pragma once

#include <juce_core/juce_core.h>

namespace korva
{

namespace infra
{

// A file operation that failed: the file or folder it was about and why,
// as the system's error number or, for what the system does not count as
// an error (a file that ends too soon), a reason of our own. Empty when
// nothing failed.
struct FileFailure
{
    juce::File file;
    int error = 0;          // errno; 0 with a reason of our own
    juce::String ownReason; // empty with an errno

    bool failed() const noexcept { return error != 0 || ownReason.isNotEmpty(); }
    // strerror's text ("No space left on device") or the reason of our own.
    juce::String reason() const;
};

struct FileTools
{
    // Creates dir and every missing ancestor. The flag has no effect.
    static bool createParents (const juce::File& dir, bool flag = false);

    // Makes sure the file exists afresh: a directory when its name has no
    // extension, otherwise an empty file (an existing one is deleted first).
    static bool createAnyhow (const juce::File& file, bool flag = false);

    // The calls below go to the system directly, because the framework's file
    // classes only say whether something worked. Each returns 0 when it did,
    // otherwise the system's error number: errno's, also on Windows, whose
    // own codes are told in errno's terms (a full disk is ENOSPC, a file
    // another program holds open without sharing is EBUSY). Each system has
    // its file (FileToolsLinux.cpp, FileToolsWindows.cpp).

    // Creates the folder and its missing ancestors.
    static int makeFolders (const juce::File& folder);
    // Creates the file empty, or empties it (mode 0644 before the umask).
    static int truncate (const juce::File& file);
    // Appends the bytes to an existing file.
    static int append (const juce::File& file, const void* data, size_t size);
    // Overwrites bytes of an existing file in place and waits until they are
    // on the disk; never creates the file, and changes nothing when it
    // cannot be opened for writing.
    static int writeAt (const juce::File& file, juce::int64 position, const void* data, size_t size);
    // Reads up to `size` bytes from `position`; `got` says how many came.
    static int readAt (const juce::File& file, juce::int64 position, void* buffer, size_t size, size_t& got);
    // Waits until the file's bytes are on the disk.
    static int sync (const juce::File& file);
    // Renames; EEXIST when `destination` exists already (it is never
    // replaced), EXDEV when the two are on different file systems.
    static int renameWithoutReplacing (const juce::File& source, const juce::File& destination);
    // Copies into a new file (EEXIST when it exists) and waits until the
    // copy is on the disk; a copy that could not be finished is removed.
    static int copyWithoutReplacing (const juce::File& source, const juce::File& destination);
    // Removes a file; one that is not there counts as removed.
    static int remove (const juce::File& file);

    // When the file was made: its birth time where the file system keeps one,
    // else when it was last modified (never the time its inode last changed,
    // which a rename or a change of permissions moves). A null time when the
    // file cannot be read.
    static juce::Time creationTime (const juce::File& file);

    // strerror's words for an error number, the same on every system (the
    // C library of Windows words some of them differently).
    static juce::String errorText (int error);
    // The error number of the calling thread's last failed system call, in
    // the terms of the calls above, for a failure of the framework's file
    // classes; clearLastError first, so that 0 says the system told nothing.
    static int lastError();
    static void clearLastError();
};

} // namespace infra

} // namespace korva
