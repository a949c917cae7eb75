#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <regex>

namespace korva
{

using namespace korva::test;

TEST (ProjectDataManager, PatternCountIsTheNumberOfSetBitmapBits)
{
    for (int patterns : { 0, 1, 63, 64, 65, 1024 })
        EXPECT_EQ (ProjectDataManager::countPatterns (projectHeader ("P", patterns)), patterns);

    EXPECT_EQ (ProjectDataManager::countPatterns (juce::MemoryBlock (4095, true)), -1);
}

TEST (ProjectDataManager, BlockKindsAndNames)
{
    EXPECT_TRUE (ProjectDataManager::isProjectHeader (bytesOf ({ 0x83, 0x49 })));
    EXPECT_FALSE (ProjectDataManager::isProjectHeader (bytesOf ({ 0x83 })));
    EXPECT_FALSE (ProjectDataManager::isProjectHeader (bytesOf ({ 0x84, 0x49, 0 })));
    EXPECT_TRUE (ProjectDataManager::isPatternBlock (bytesOf ({ 's', 'e', 'q' })));
    EXPECT_FALSE (ProjectDataManager::isPatternBlock (bytesOf ({ 's', 'e' })));

    // 32 characters and no NUL at offset 36: reading stops after 32.
    auto header = projectHeader (juce::String::repeatedString ("N", 32), 0);
    static_cast<juce::uint8*> (header.getData())[36] = 'X';
    EXPECT_EQ (ProjectDataManager::readProjectName (header), juce::String::repeatedString ("N", 32));
    EXPECT_EQ (ProjectDataManager::readProjectName (projectHeader ("Live", 0)), "Live");
}

TEST (ProjectDataManager, NameCheck)
{
    struct Case
    {
        const char* name;
        bool valid;
    };
    for (const auto& c : { Case { "Live Set 2", true }, Case { "", true }, Case { "a~b", false },
                           Case { "a/b", false }, Case { "back\\slash", false }, Case { "q?", false },
                           Case { "pipe|", false }, Case { "quote\"", false }, Case { "<>", false },
                           Case { "colon:", false }, Case { "star*", false }, Case { "caf\xc3\xa9", false } })
        EXPECT_EQ (ProjectDataManager::isValidProjectName (juce::String::fromUTF8 (c.name)), c.valid) << c.name;
}

TEST (ProjectDataManager, ReadsHeadersAndPatternBlocksOfAFile)
{
    TempFolder tmp;
    const auto file = tmp / "Live.prj";
    file.replaceWithData (projectFile ("Live", 2).getData(), 4096 * 3);

    juce::MemoryBlock block;
    ASSERT_TRUE (ProjectDataManager::readProjectHeader (file, block));
    EXPECT_EQ (ProjectDataManager::countPatterns (block), 2);
    ASSERT_TRUE (ProjectDataManager::readPatternBlock (file, block, 1));
    EXPECT_EQ (static_cast<const juce::uint8*> (block.getData())[100], 2);
    EXPECT_FALSE (ProjectDataManager::readPatternBlock (file, block, 2)); // missing

    // A file cut short inside its header is no project, magic or not: it
    // would reach the KORVA padded with zeros.
    const auto shortFile = tmp / "short.prj";
    shortFile.replaceWithData (projectHeader ("S", 0).getData(), 100);
    infra::FileFailure failure;
    EXPECT_FALSE (ProjectDataManager::readProjectHeader (shortFile, block, &failure));
    EXPECT_EQ (failure.reason(), ProjectDataManager::kEndedEarly);

    const auto empty = tmp / "empty.prj";
    empty.create();
    EXPECT_FALSE (ProjectDataManager::readProjectHeader (empty, block));
    EXPECT_FALSE (ProjectDataManager::readProjectHeader (tmp / "missing.prj", block));
}

TEST (ProjectDataManager, FinishedImportsAreNamedAndNeverReplaceAFile)
{
    TempFolder tmp;
    ProjectDataManager manager;
    manager.dataDirectory = [&] { return tmp / "data/MELDRA/KORVA"; };
    manager.setProjectName ("Live");

    std::vector<juce::File> saved;
    for (int i = 0; i < 2; ++i)
    {
        infra::FileFailure failure;
        const auto temp = manager.beginImport (failure);
        ASSERT_FALSE (failure.failed()) << failure.reason();
        EXPECT_EQ (temp.getParentDirectory(), tmp / "data/MELDRA/KORVA"); // assembled where it is going
        ASSERT_TRUE (ProjectDataManager::writeBlockToFile (temp, projectHeader ("Live", 1)));
        ASSERT_TRUE (ProjectDataManager::writeBlockToFile (temp, patternBlock (i)));
        saved.push_back (manager.saveToDataDirectory (temp, &failure));
        ASSERT_TRUE (saved.back().existsAsFile()) << failure.reason();
        EXPECT_FALSE (temp.exists());
    }

    // Within one second both imports get the same time stamp: the second is numbered.
    EXPECT_TRUE (std::regex_match (saved[0].getFileName().toStdString(), std::regex ("Live_[0-9]{8}_[0-9]{6}\\.prj")))
        << saved[0].getFileName();
    EXPECT_NE (saved[0], saved[1]);
    EXPECT_EQ (saved[0].getSize(), 8192);
    EXPECT_EQ (saved[1].getSize(), 8192);
}

TEST (ProjectDataManager, DeviceNamesNeverLeaveTheDataFolder)
{
    TempFolder tmp;
    ProjectDataManager manager;
    manager.dataDirectory = [&] { return tmp / "data"; };
    manager.setProjectName ("../../escape");

    infra::FileFailure failure;
    const auto temp = manager.beginImport (failure);
    ASSERT_TRUE (ProjectDataManager::writeBlockToFile (temp, projectHeader ("x", 0)));
    const auto saved = manager.saveToDataDirectory (temp);
    ASSERT_TRUE (saved.existsAsFile());
    EXPECT_EQ (saved.getParentDirectory(), tmp / "data");
}

// Two device names that give the same file name: the later project is
// numbered, the earlier one stays as it was.
TEST (ProjectDataManager, MendedNamesThatMeetAreNumberedNeverReplaced)
{
    TempFolder tmp;
    const auto data = tmp / "data";
    ProjectDataManager manager;
    manager.dataDirectory = [&] { return data; };
    manager.clock = [] { return juce::Time (2026, 2, 5, 14, 7, 9, 0, true); };

    struct Case
    {
        const char* deviceName;
        const char* fileName;
    };
    const Case cases[] = {
        { "a/b", "a_b_20260305_140709.prj" },
        { "a\\b", "a_b_20260305_140709_2.prj" },
        { "a_b", "a_b_20260305_140709_3.prj" },
    };
    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        manager.setProjectName (cases[i].deviceName);
        infra::FileFailure failure;
        const auto temp = manager.beginImport (failure);
        ASSERT_TRUE (ProjectDataManager::writeBlockToFile (temp, projectHeader (cases[i].deviceName, i)));
        const auto saved = manager.saveToDataDirectory (temp, &failure);
        EXPECT_EQ (saved, data.getChildFile (cases[i].fileName)) << cases[i].deviceName << ": " << failure.reason();
    }

    // Each file holds its own project.
    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        juce::MemoryBlock header;
        ASSERT_TRUE (ProjectDataManager::readProjectHeader (data.getChildFile (cases[i].fileName), header));
        EXPECT_EQ (ProjectDataManager::readProjectName (header), cases[i].deviceName);
    }
    EXPECT_EQ (namesIn (data), juce::StringArray ({ "a_b_20260305_140709.prj", "a_b_20260305_140709_2.prj",
                                                    "a_b_20260305_140709_3.prj" }));
}

TEST (ProjectDataManager, ALeftOverTemporaryFileIsDeletedAtStart)
{
    const juce::File pushed = ProjectDataManager().getPushedProjectFile();
    pushed.getParentDirectory().createDirectory();
    pushed.replaceWithText ("interrupted push");
    ProjectDataManager fresh;
    EXPECT_FALSE (pushed.exists());
}

TEST (ProjectDataManager, DeviceNameAndIndexChecksReadTheDeviceList)
{
    auto* list = KorvaProjectList::getInstance();
    list->clear();
    list->updateFromProjectInfo (projectInfo ({ { 3, 5, "Live" }, { 7, 0, "Demo" } }, 10, 1000, 3));
    EXPECT_TRUE (ProjectDataManager::isProjectIndexOnDevice (7));
    EXPECT_FALSE (ProjectDataManager::isProjectIndexOnDevice (4));
    EXPECT_TRUE (ProjectDataManager::isProjectNameOnDevice ("Live"));
    EXPECT_FALSE (ProjectDataManager::isProjectNameOnDevice ("live")); // case matters
    list->clear();
}

TEST (ProjectDataManager, RenamingAFileRewritesOnlyTheNameField)
{
    TempFolder tmp;
    const auto file = tmp / "Live_20260305_140709.prj";
    const auto original = projectFile (juce::String::repeatedString ("o", 32), 2);
    file.replaceWithData (original.getData(), original.getSize());

    struct Case
    {
        juce::String name;
        juce::String expectedField; // the 33 bytes at offset 4, NULs shown as '.'
    };
    const Case cases[] = {
        { juce::String::repeatedString ("N", 32), juce::String::repeatedString ("N", 32) + "." },
        { "A", "A" + juce::String::repeatedString (".", 32) },
        { juce::String::repeatedString ("L", 40), juce::String::repeatedString ("L", 32) + "." }, // cut, NUL kept
    };
    for (const auto& c : cases)
    {
        ASSERT_TRUE (ProjectDataManager::writeProjectName (file, c.name));

        juce::MemoryBlock now;
        ASSERT_TRUE (file.loadFileAsData (now));
        ASSERT_EQ (now.getSize(), original.getSize());
        juce::String field;
        for (int i = 0; i < 33; ++i)
        {
            const auto b = static_cast<const juce::uint8*> (now.getData())[4 + i];
            field += b == 0 ? juce::String (".") : juce::String::charToString ((juce::juce_wchar) b);
        }
        EXPECT_EQ (field, c.expectedField) << c.name;

        // Everything outside the name field is as it was.
        EXPECT_EQ (std::memcmp (now.getData(), original.getData(), 4), 0);
        EXPECT_EQ (std::memcmp (static_cast<const char*> (now.getData()) + 37,
                                static_cast<const char*> (original.getData()) + 37, original.getSize() - 37),
                   0);
    }

    EXPECT_FALSE (ProjectDataManager::writeProjectName (tmp / "gone.prj", "X"));
    EXPECT_FALSE ((tmp / "gone.prj").exists()); // never created by a rename
}

} // namespace korva
