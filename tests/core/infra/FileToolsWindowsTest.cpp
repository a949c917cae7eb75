// FileTools on Windows only: what other programs' handles and the file's
// attributes do, told in errno's terms and words, and the creation time the
// file system keeps.

#include "core/infra/FileTools.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace korva
{

using namespace korva::test;

namespace
{
// A handle of "another program" on the file, sharing nothing.
class UnsharedHandle
{
public:
    explicit UnsharedHandle (const juce::File& file)
        : m_handle (::CreateFileW (file.getFullPathName().toWideCharPointer(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~UnsharedHandle()
    {
        if (isOpen())
            ::CloseHandle (m_handle);
    }
    bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

juce::String contentOf (const juce::File& file)
{
    juce::MemoryBlock bytes;
    file.loadFileAsData (bytes);
    return bytes.toString();
}
} // namespace

TEST (FileToolsOnWindows, AFileAnotherProgramHoldsIsBusy)
{
    TempFolder tmp;
    const auto file = tmp / "held.prj";
    ASSERT_TRUE (file.replaceWithText ("held"));
    char buffer[4] = {};
    size_t got = 0;

    {
        UnsharedHandle other (file);
        ASSERT_TRUE (other.isOpen());

        struct Case
        {
            const char* what;
            int error;
        };
        for (const auto& c : { Case { "append", infra::FileTools::append (file, "x", 1) },
                               Case { "writeAt", infra::FileTools::writeAt (file, 0, "x", 1) },
                               Case { "readAt", infra::FileTools::readAt (file, 0, buffer, sizeof (buffer), got) },
                               Case { "truncate", infra::FileTools::truncate (file) },
                               Case { "copy", infra::FileTools::copyWithoutReplacing (file, tmp / "copy.prj") },
                               Case { "remove", infra::FileTools::remove (file) } })
        {
            EXPECT_EQ (c.error, EBUSY) << c.what;
            EXPECT_EQ ((infra::FileFailure { file, c.error, {} }.reason()), "Device or resource busy") << c.what;
        }
        EXPECT_FALSE ((tmp / "copy.prj").exists()); // a copy that could not be made is not left
    }
    EXPECT_EQ (contentOf (file), "held");
}

TEST (FileToolsOnWindows, AReadOnlyFileIsNotWritten)
{
    TempFolder tmp;
    const auto file = tmp / "read-only.prj";
    ASSERT_TRUE (file.replaceWithText ("kept"));
    ASSERT_TRUE (::SetFileAttributesW (file.getFullPathName().toWideCharPointer(), FILE_ATTRIBUTE_READONLY));
    {
        // Wine keeps the attribute as the Unix permissions, which root passes.
        const HANDLE writable = ::CreateFileW (file.getFullPathName().toWideCharPointer(), GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (writable != INVALID_HANDLE_VALUE)
        {
            ::CloseHandle (writable);
            ::SetFileAttributesW (file.getFullPathName().toWideCharPointer(), FILE_ATTRIBUTE_NORMAL);
            GTEST_SKIP() << "this system lets a read-only file be written (Wine run as root)";
        }
    }

    EXPECT_EQ (infra::FileTools::append (file, "x", 1), EACCES);
    EXPECT_EQ (infra::FileTools::writeAt (file, 0, "x", 1), EACCES);
    EXPECT_EQ (infra::FileTools::truncate (file), EACCES);
    EXPECT_EQ (infra::FileFailure ({ file, EACCES, {} }).reason(), "Permission denied");
    EXPECT_EQ (contentOf (file), "kept");

    // It can still be copied, and read.
    EXPECT_EQ (infra::FileTools::copyWithoutReplacing (file, tmp / "copy.prj"), 0);
    EXPECT_EQ (contentOf (tmp / "copy.prj"), "kept");

    ::SetFileAttributesW (file.getFullPathName().toWideCharPointer(), FILE_ATTRIBUTE_NORMAL);
}

// The file system's creation time, not the time of the last write.
TEST (FileToolsOnWindows, CreationTimeIsTheFilesOwn)
{
    TempFolder tmp;
    const auto file = tmp / "Song.prj";
    ASSERT_TRUE (file.replaceWithText ("x"));

    // Made on 5 March 2026 at 14:07:09.250 UTC and last written in 2001, as
    // far as the file system knows.
    const auto fileTime = [] (const juce::Time& time)
    {
        const auto steps = (juce::uint64) (time.toMilliseconds() * 10000 + 116444736000000000LL);
        return FILETIME { (DWORD) (steps & 0xFFFFFFFFu), (DWORD) (steps >> 32) };
    };
    const juce::Time made (2026, 2, 5, 14, 7, 9, 250, false);
    const juce::Time written (2001, 0, 1, 0, 0, 0, 0, false);
    {
        const auto created = fileTime (made), lastWritten = fileTime (written);
        const HANDLE handle = ::CreateFileW (file.getFullPathName().toWideCharPointer(), FILE_WRITE_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE (handle, INVALID_HANDLE_VALUE);
        ASSERT_TRUE (::SetFileTime (handle, &created, nullptr, &lastWritten));
        ::CloseHandle (handle);
    }
    if (infra::FileTools::creationTime (file) == written)
        GTEST_SKIP() << "this file system keeps no creation time of its own (Wine gives the last write's)";
    EXPECT_EQ (infra::FileTools::creationTime (file), made);

    ASSERT_EQ (infra::FileTools::append (file, "more", 4), 0);
    EXPECT_EQ (infra::FileTools::creationTime (file), made);
}

} // namespace korva
