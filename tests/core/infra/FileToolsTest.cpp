#include "core/infra/FileTools.h"
#include "core/infra/VarUtility.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

namespace korva
{

using namespace korva::test;

TEST (FileTools, CreateAnyhowMakesFoldersForNamesWithoutExtension)
{
    TempFolder tmp;
    const auto folder = tmp.get().getChildFile ("a/b/MELDRA/KORVA");
    EXPECT_TRUE (infra::FileTools::createAnyhow (folder));
    EXPECT_TRUE (folder.isDirectory());

    const auto file = tmp.get().getChildFile ("x/y/tempProject.prj");
    EXPECT_TRUE (infra::FileTools::createAnyhow (file));
    EXPECT_TRUE (file.existsAsFile());
    EXPECT_EQ (file.getSize(), 0);

    file.replaceWithText ("old contents");
    EXPECT_TRUE (infra::FileTools::createAnyhow (file)); // afresh: empty again
    EXPECT_EQ (file.getSize(), 0);
}

TEST (FileTools, CreateParentsBuildsTheWholeChain)
{
    TempFolder tmp;
    const auto deep = tmp.get().getChildFile ("1/2/3/4");
    EXPECT_TRUE (infra::FileTools::createParents (deep));
    EXPECT_TRUE (deep.isDirectory());
}

TEST (FileTools, CreateAnyhowFailsWhereAFileBlocksThePath)
{
    TempFolder tmp;
    (tmp / "blocker").replaceWithText ("I am a file");
    EXPECT_FALSE (infra::FileTools::createAnyhow (tmp.get().getChildFile ("blocker/inner/file.bin")));
}

// The creation time the PC/Mac table shows: a rename in place, which moves
// the inode's change time on Linux, leaves it as it was. (A change of
// permissions: FileToolsLinuxTest.cpp.)
TEST (FileTools, CreationTimeStaysWhenTheFileIsRenamed)
{
    TempFolder tmp;
    const auto file = tmp / "Song.prj";
    ASSERT_TRUE (file.replaceWithText ("x"));
    const auto made = infra::FileTools::creationTime (file);
    ASSERT_NE (made.toMilliseconds(), 0);
    EXPECT_LE (std::abs (made.toMilliseconds() - juce::Time::getCurrentTime().toMilliseconds()), 60000);

    // Later by the clock, the file gets another name.
    ASSERT_TRUE (waitUntil ([&] { return juce::Time::getCurrentTime().toMilliseconds() > made.toMilliseconds() + 20; }));
    const auto renamed = tmp / "Song 2.prj";
    ASSERT_TRUE (file.moveFileTo (renamed));
    EXPECT_EQ (infra::FileTools::creationTime (renamed), made);

    EXPECT_EQ (infra::FileTools::creationTime (tmp / "missing.prj"), juce::Time());
}

namespace
{
juce::String contentOf (const juce::File& file)
{
    juce::MemoryBlock bytes;
    file.loadFileAsData (bytes);
    return bytes.toString();
}
} // namespace

// The system's calls, on every system: a name that is taken stays as it is.
TEST (FileTools, RenameAndCopyNeverReplaceAFile)
{
    TempFolder tmp;
    const auto source = tmp / "new.prj";
    const auto taken = tmp / "taken.prj";
    ASSERT_TRUE (source.replaceWithText ("new"));
    ASSERT_TRUE (taken.replaceWithText ("old"));

    EXPECT_EQ (infra::FileTools::renameWithoutReplacing (source, taken), EEXIST);
    EXPECT_EQ (infra::FileTools::copyWithoutReplacing (source, taken), EEXIST);
    EXPECT_EQ (contentOf (taken), "old");
    EXPECT_EQ (contentOf (source), "new");

    const auto copy = tmp / "copy.prj";
    EXPECT_EQ (infra::FileTools::copyWithoutReplacing (source, copy), 0);
    EXPECT_EQ (contentOf (copy), "new");
    EXPECT_EQ (contentOf (source), "new");

    const auto moved = tmp / "moved.prj";
    EXPECT_EQ (infra::FileTools::renameWithoutReplacing (source, moved), 0);
    EXPECT_FALSE (source.exists());
    EXPECT_EQ (contentOf (moved), "new");
}

// Written, read and appended through the system, under a name that is not
// ASCII (UTF-8 on Linux, UTF-16 for Windows's calls).
TEST (FileTools, WritesReadsAndAppendsInPlace)
{
    TempFolder tmp;
    const auto file = tmp / juce::String::fromUTF8 ("Projekt \xc3\xbc \xe6\x97\xa5\xe6\x9c\xac.prj");

    EXPECT_EQ (infra::FileTools::truncate (file), 0);
    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (file.getSize(), 0);
    EXPECT_EQ (infra::FileTools::append (file, "abc", 3), 0);
    EXPECT_EQ (infra::FileTools::append (file, "def", 3), 0);
    EXPECT_EQ (infra::FileTools::writeAt (file, 2, "XY", 2), 0);
    EXPECT_EQ (infra::FileTools::sync (file), 0);
    EXPECT_EQ (contentOf (file), "abXYef");

    struct Case
    {
        juce::int64 position;
        size_t size;
        const char* expected;
    };
    for (const auto& c : { Case { 0, 6, "abXYef" }, Case { 4, 10, "ef" }, Case { 6, 4, "" }, Case { 100, 4, "" } })
    {
        char buffer[16] = {};
        size_t got = 99;
        EXPECT_EQ (infra::FileTools::readAt (file, c.position, buffer, c.size, got), 0) << c.position;
        EXPECT_EQ (juce::String (buffer, got), c.expected) << c.position;
    }

    EXPECT_EQ (infra::FileTools::truncate (file), 0);
    EXPECT_EQ (file.getSize(), 0);
    EXPECT_EQ (infra::FileTools::remove (file), 0);
    EXPECT_FALSE (file.exists());
}

TEST (FileTools, FailuresGiveTheSystemsErrorNumber)
{
    TempFolder tmp;
    const auto missing = tmp / "missing.prj";
    const auto blocker = tmp / "blocker";
    ASSERT_TRUE (blocker.replaceWithText ("a file where a folder should be"));
    char buffer[4] = {};
    size_t got = 0;

    struct Case
    {
        const char* what;
        std::function<int()> call;
        int error;
    };
    const Case cases[] = {
        { "append", [&] { return infra::FileTools::append (missing, "x", 1); }, ENOENT },
        { "writeAt", [&] { return infra::FileTools::writeAt (missing, 0, "x", 1); }, ENOENT },
        { "readAt", [&] { return infra::FileTools::readAt (missing, 0, buffer, sizeof (buffer), got); }, ENOENT },
        { "sync", [&] { return infra::FileTools::sync (missing); }, ENOENT },
        { "rename", [&] { return infra::FileTools::renameWithoutReplacing (missing, tmp / "to.prj"); }, ENOENT },
        { "copy", [&] { return infra::FileTools::copyWithoutReplacing (missing, tmp / "to.prj"); }, ENOENT },
        { "truncate", [&] { return infra::FileTools::truncate (tmp / "no folder/x.prj"); }, ENOENT },
        { "makeFolders", [&] { return infra::FileTools::makeFolders (blocker.getChildFile ("inner")); }, ENOTDIR },
        { "remove", [&] { return infra::FileTools::remove (missing); }, 0 }, // gone is removed
    };
    for (const auto& c : cases)
    {
        infra::FileTools::clearLastError();
        const int error = c.call();
        EXPECT_EQ (error, c.error) << c.what << ": " << infra::FileTools::errorText (error);
        // Nothing is made on the way.
        EXPECT_FALSE (missing.exists()) << c.what;
        EXPECT_FALSE ((tmp / "to.prj").exists()) << c.what;
    }
    EXPECT_EQ (namesIn (tmp.get()), juce::StringArray ("blocker"));

    // The failure of the last call is the thread's to read, in the same terms.
    infra::FileTools::clearLastError();
    EXPECT_EQ (infra::FileTools::lastError(), 0);
    EXPECT_EQ (infra::FileTools::append (missing, "x", 1), ENOENT);
    EXPECT_EQ (infra::FileTools::lastError(), ENOENT);
}

// The messages that name a file say why in the same words on every system.
TEST (FileTools, ReasonsReadTheSameOnEverySystem)
{
    struct Case
    {
        int error;
        const char* words;
    };
    for (const auto& c : { Case { ENOENT, "No such file or directory" }, Case { EACCES, "Permission denied" },
                           Case { ENOSPC, "No space left on device" }, Case { EROFS, "Read-only file system" },
                           Case { EEXIST, "File exists" }, Case { EBUSY, "Device or resource busy" },
                           Case { EIO, "Input/output error" }, Case { EXDEV, "Invalid cross-device link" },
                           Case { ENOTDIR, "Not a directory" } })
    {
        const infra::FileFailure failure { juce::File(), c.error, {} };
        EXPECT_TRUE (failure.failed());
        EXPECT_EQ (failure.reason(), c.words) << c.error;
    }

    const infra::FileFailure own { juce::File(), 0, "The file ended early" };
    EXPECT_TRUE (own.failed());
    EXPECT_EQ (own.reason(), "The file ended early");
    EXPECT_FALSE (infra::FileFailure().failed());
}

TEST (VarUtility, OnlyStringsAreTaken)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;

    juce::String value ("unchanged");
    infra::VarUtility::fromVar (value, juce::var (12));
    EXPECT_EQ (value, "unchanged");
    EXPECT_TRUE (capture.contains ("infra::VarUtility::fromVar - src.isString()"));

    infra::VarUtility::fromVar (value, juce::var ("D:/Work/Projects"));
    EXPECT_EQ (value, "D:/Work/Projects");
}

namespace
{
enum class Status
{
    kDoNothing,
    kStartDataRecving,
    kDataRecving
};
enum class Nothing
{
};
} // namespace

TEST (EnumUtility, NamesComeFromTheDeclaringText)
{
    const char* text = "kDoNothing, kStartDataRecving,\n\tkDataRecving";
    EXPECT_EQ (infra::EnumUtility<Status>::getName (Status::kStartDataRecving, text), "kStartDataRecving");
    EXPECT_EQ (infra::EnumUtility<Status>::getName (Status::kDataRecving, text), "kDataRecving");
    EXPECT_EQ (infra::EnumUtility<Status>::getIdentifierList (text).size(), 3);

    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;
    EXPECT_TRUE (infra::EnumUtility<Nothing>::getIdentifierList (" \n ").isEmpty());
    EXPECT_TRUE (capture.contains ("infra::EnumUtility::createIdentifierList - 0<sa.size()"));
}

} // namespace korva
