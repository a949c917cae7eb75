#include "core/infra/FileTools.h"
#include "core/infra/VarUtility.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

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

// The creation time the PC/Mac table shows: a change of permissions or a
// rename in place, which move the inode's change time, leave it as it was.
TEST (FileTools, CreationTimeStaysWhenPermissionsChangeOrTheFileIsRenamed)
{
    TempFolder tmp;
    const auto file = tmp / "Song.prj";
    ASSERT_TRUE (file.replaceWithText ("x"));
    const auto made = infra::FileTools::creationTime (file);
    ASSERT_NE (made.toMilliseconds(), 0);
    EXPECT_LE (std::abs (made.toMilliseconds() - juce::Time::getCurrentTime().toMilliseconds()), 60000);

    // Later by the clock, the file changes hands.
    ASSERT_TRUE (waitUntil ([&] { return juce::Time::getCurrentTime().toMilliseconds() > made.toMilliseconds() + 20; }));
    ASSERT_EQ (::chmod (file.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (infra::FileTools::creationTime (file), made);
    const auto renamed = tmp / "Song 2.prj";
    ASSERT_TRUE (file.moveFileTo (renamed));
    EXPECT_EQ (infra::FileTools::creationTime (renamed), made);

    EXPECT_EQ (infra::FileTools::creationTime (tmp / "missing.prj"), juce::Time());
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
