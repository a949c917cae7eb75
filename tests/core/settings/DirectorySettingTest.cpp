#include "core/infra/UserFolders.h"
#include "core/infra/ValueTreeTools.h"
#include "core/settings/DirectorySetting.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

TEST (DirectorySetting, FirstStartUsesTheHomeFolderAndWritesTheFileAtTheEnd)
{
    TempFolder tmp;
    const auto file = tmp / "MELDRA/KORVA Manager/DirectorySetting.bin";
    // Written with "/" on every system (Windows: C:/Users/<name>/MELDRA/KORVA).
    const auto expected = infra::UserFolders::home()
                              .getChildFile ("MELDRA/KORVA")
                              .getFullPathName()
                              .replaceCharacter ('\\', '/');

    {
        DirectorySettingManager manager (file);
        EXPECT_EQ (manager.getDataDirectory(), expected);
        EXPECT_TRUE (juce::File (expected).isDirectory()); // created at start-up
        EXPECT_FALSE (file.exists());
    }
    ASSERT_TRUE (file.existsAsFile());

    // The file is the bare value-tree stream: no container header.
    juce::MemoryBlock bytes;
    file.loadFileAsData (bytes);
    EXPECT_NE (juce::String::fromUTF8 ((const char*) bytes.getData(), 4), "vltr");
    const auto tree = infra::ValueTreeTools::fileToValueTree (file);
    EXPECT_EQ (tree.getType().toString(), "DirectorySetting");
    EXPECT_EQ (tree["dataDirectory"].toString(), expected);
}

TEST (DirectorySetting, AChosenFolderIsStoredWithForwardSlashesAndSavedAtOnce)
{
    TempFolder tmp;
    const auto file = tmp / "DirectorySetting.bin";
    const auto chosen = (tmp / "Work\\Projects").getFullPathName();

    DirectorySettingManager manager (file);
    manager.setDataDirectory (chosen);
    EXPECT_FALSE (manager.getDataDirectory().containsChar ('\\'));
    // Saved now, not only at exit: a crash must not lose the choice.
    EXPECT_EQ (infra::ValueTreeTools::fileToValueTree (file)["dataDirectory"].toString(),
               manager.getDataDirectory());

    DirectorySettingManager reloaded (file);
    EXPECT_EQ (reloaded.getDataDirectory(), manager.getDataDirectory());
    EXPECT_EQ (reloaded.getDataDirectoryFile(), tmp / "Work/Projects");
}

TEST (DirectorySetting, DamagedFilesFallBackToTheDefault)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;

    struct Case
    {
        std::function<void (const juce::File&)> write;
        const char* report;
    };
    const Case cases[] = {
        { [] (const juce::File& f) {
             juce::ValueTree t ("DirectorySetting");
             t.setProperty ("dataDirectory", 42, nullptr);
             infra::ValueTreeTools::valueTreeToFile (t, f, false);
         },
          "infra::VarUtility::fromVar - src.isString()" },
        { [] (const juce::File& f) { f.replaceWithText ("not a tree"); },
          "DirectorySettingManager::DirectorySettingManager - tree.isValid()" },
    };
    for (const auto& c : cases)
    {
        capture.clear();
        const auto file = tmp / "DirectorySetting.bin";
        c.write (file);
        DirectorySettingManager manager (file);
        EXPECT_EQ (manager.getDataDirectory(), DirectorySetting::defaultDataDirectory()) << c.report;
        EXPECT_TRUE (capture.contains (c.report)) << c.report;
    }
}

TEST (DirectorySetting, ApplyTellsListenersNewestFirstWithTheSettingItReplaces)
{
    TempFolder tmp;
    DirectorySettingManager manager (tmp / "DirectorySetting.bin");
    const auto first = manager.getDataDirectory();
    std::vector<std::string> calls;
    manager.addListener ([&] (const DirectorySetting& now, const DirectorySetting& before) {
        calls.push_back ("A " + now.dataDirectory.toStdString() + " " + before.dataDirectory.toStdString());
    });
    manager.addListener ([&] (const DirectorySetting& now, const DirectorySetting&) {
        calls.push_back ("B " + now.dataDirectory.toStdString());
    });

    manager.setDataDirectory ("/x/y");
    manager.apply();
    ASSERT_EQ (calls.size(), 2u);
    EXPECT_EQ (calls[0], "B /x/y");
    EXPECT_EQ (calls[1], "A /x/y " + first.toStdString());
}

} // namespace korva
