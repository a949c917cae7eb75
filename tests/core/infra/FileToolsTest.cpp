#include "core/infra/FileTools.h"
#include "core/infra/VarUtility.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

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
