// The project page's keys, menus and drops: F2, Delete, Enter and a
// double-click do what RENAME, DELETE and the arrows do, on the table that
// has the keyboard; the right-click menus offer the same actions enabled as
// the buttons are, and the data folder's own; .prj files dropped onto the
// PC/Mac table are copied into the data folder, never over a file.

#include "tests/gui/pages/ProjectPageFixture.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

namespace
{
struct Shortcuts : Page
{
    // What the page set off: "rename <name> device|file", "delete <name>",
    // "import", "export"; the dialogs answer "cancel".
    std::vector<juce::String> acts;

    void SetUp() override
    {
        Page::SetUp();
        renameAnswer = [this] (const juce::String& name, bool checkDevice) {
            acts.push_back ("rename " + name + (checkDevice ? " device" : " file"));
            return juce::String();
        };
        confirmAnswer = false;
    }

    // The page in a window of its own, so that its tables can have the keyboard.
    void putOnDesktop()
    {
        page->addToDesktop (0);
        page->setVisible (true);
    }

    bool focus (juce::Component& table)
    {
        // Under a window manager the window takes the keyboard only once it
        // is managed and mapped: ask until it has it.
        return runMessageLoopUntil (
            [&] {
                if (! table.hasKeyboardFocus (true))
                    table.grabKeyboardFocus();
                return table.hasKeyboardFocus (true);
            },
            3000);
    }

    // A key as the window receives it from the X server, with `table` holding
    // the keyboard (a progress window may have had it meanwhile).
    void press (juce::Component& table, const juce::KeyPress& key)
    {
        ASSERT_TRUE (focus (table));
        ASSERT_NE (page->getPeer(), nullptr);
        page->getPeer()->handleKeyPress (key);
        ASSERT_TRUE (deliverPostedMessages());
    }

    void doubleClick (juce::TableListBox& table)
    {
        auto source = juce::Desktop::getInstance().getMainMouseSource();
        const juce::MouseEvent click (source, {}, juce::ModifierKeys(), 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &table, &table,
                                      juce::Time::getCurrentTime(), {}, juce::Time::getCurrentTime(), 2, false);
        table.getModel()->cellDoubleClicked (table.getSelectedRow(), 1, click);
        ASSERT_TRUE (deliverPostedMessages());
    }

    // Everything the page did since the last look, the questions included;
    // transfers are waited for to their end.
    std::vector<juce::String> takeActs()
    {
        for (const auto& [title, text] : questions)
            acts.push_back ("question " + text);
        questions.clear();
        EXPECT_TRUE (waitUntilAtRest (sequencer));
        if (korva.count (HidSequenceManager::kImportProject) > importsSeen)
        {
            EXPECT_TRUE (waitForEvent ("import 1000"));
            acts.push_back ("import");
        }
        if (korva.count (HidSequenceManager::kQueryExportProject) > exportsSeen)
        {
            EXPECT_TRUE (waitForEvent ("export 1000"));
            acts.push_back ("export");
        }
        EXPECT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
        events.clear();
        importsSeen = korva.count (HidSequenceManager::kImportProject);
        exportsSeen = korva.count (HidSequenceManager::kQueryExportProject);
        return std::exchange (acts, {});
    }

    int importsSeen = 0, exportsSeen = 0;
};

// The keys need the keyboard, which another window on the display could take.
struct ShortcutsOnTheDesktop : Shortcuts
{
};

using Acts = std::vector<juce::String>;
} // namespace

TEST_F (ShortcutsOnTheDesktop, KeysAndDoubleClicksDoWhatTheButtonsDoOnTheTableThatHasTheKeyboard)
{
    writeProject ("Verse_20260101_120000.prj", "Verse", 1);
    connectAndList();
    ASSERT_TRUE (waitForPcRows ({ "Verse" }));
    putOnDesktop();
    auto& korvaTable = page->getKorvaList().getTable();
    auto& pcTable = page->getPcList().getTable();

    selectKorva ("Live");
    selectPc ("Verse");
    press (korvaTable, juce::KeyPress (juce::KeyPress::F2Key));
    EXPECT_EQ (takeActs(), (Acts { "rename Live device" }));
    press (korvaTable, juce::KeyPress (juce::KeyPress::deleteKey));
    EXPECT_EQ (takeActs(), (Acts { "question Deleting project Live. Are you sure?" }));
    press (korvaTable, juce::KeyPress (juce::KeyPress::returnKey));
    EXPECT_EQ (takeActs(), (Acts { "import" }));
    doubleClick (korvaTable);
    EXPECT_EQ (takeActs(), (Acts { "import" }));

    // The project the KORVA is using: nothing, as its buttons are off.
    selectKorva ("Ballad");
    for (const auto key : { juce::KeyPress::F2Key, juce::KeyPress::deleteKey, juce::KeyPress::returnKey })
        press (korvaTable, juce::KeyPress (key));
    doubleClick (korvaTable);
    EXPECT_EQ (takeActs(), Acts {});

    ASSERT_TRUE (waitForPcRows ({ "Live", "Live", "Verse" })); // the imports listed the folder afresh
    selectPc ("Verse");
    press (pcTable, juce::KeyPress (juce::KeyPress::F2Key));
    EXPECT_EQ (takeActs(), (Acts { "rename Verse file" }));
    press (pcTable, juce::KeyPress (juce::KeyPress::deleteKey));
    EXPECT_EQ (takeActs(), (Acts { "question Deleting project Verse. Are you sure?" }));
    press (pcTable, juce::KeyPress (juce::KeyPress::returnKey));
    EXPECT_EQ (takeActs(), (Acts { "export" }));
    doubleClick (pcTable);
    EXPECT_EQ (takeActs(), (Acts { "export" }));

    // Shift+F10 opens the menu of the table that has the keyboard.
    press (pcTable, juce::KeyPress (juce::KeyPress::F10Key, juce::ModifierKeys::shiftModifier, 0));
    ASSERT_FALSE (menuShown.empty());
    EXPECT_EQ (menuShown[0].first, "Export");
    press (korvaTable, juce::KeyPress (juce::KeyPress::F10Key, juce::ModifierKeys::shiftModifier, 0));
    ASSERT_FALSE (menuShown.empty());
    EXPECT_EQ (menuShown[0].first, "Import");
}

TEST_F (Shortcuts, MenusOfferTheActionsEnabledAsTheButtonsAre)
{
    using Menu = std::vector<std::pair<juce::String, bool>>;
    const auto importAll = juce::String::fromUTF8 (ProjectView::kImportAllText);
    const auto chooseFolder = juce::String::fromUTF8 (ProjectView::kChooseFolderText);
    writeProject ("Verse_20260101_120000.prj", "Verse", 1);
    ASSERT_TRUE (waitForPcRows ({ "Verse" }));

    // No KORVA, no selection.
    pickFromKorvaMenu ({});
    EXPECT_EQ (menuShown, (Menu { { "Import", false }, { importAll, false }, { "Rename", false }, { "Delete", false } }));
    pickFromPcMenu ({});
    EXPECT_EQ (menuShown, (Menu { { "Export", false },
                                  { "Rename", false },
                                  { "Delete", false },
                                  { ProjectView::kOpenFolderText, true },
                                  { chooseFolder, true } }));

    connectAndList();
    selectKorva ("Live");
    pickFromKorvaMenu ({});
    EXPECT_EQ (menuShown, (Menu { { "Import", true }, { importAll, true }, { "Rename", true }, { "Delete", true } }));
    selectKorva ("Ballad"); // in use
    pickFromKorvaMenu ({});
    EXPECT_EQ (menuShown, (Menu { { "Import", false }, { importAll, true }, { "Rename", false }, { "Delete", false } }));
    selectPc ("Verse");
    pickFromPcMenu ({});
    EXPECT_EQ (menuShown, (Menu { { "Export", true },
                                  { "Rename", true },
                                  { "Delete", true },
                                  { ProjectView::kOpenFolderText, true },
                                  { chooseFolder, true } }));

    // The items act on their own table.
    selectKorva ("Live");
    for (const auto* item : { "Rename", "Delete", "Import" })
        ASSERT_TRUE (pickFromKorvaMenu (item)) << item;
    EXPECT_EQ (takeActs(), (Acts { "rename Live device", "question Deleting project Live. Are you sure?", "import" }));
    ASSERT_TRUE (waitForPcRows ({ "Live", "Verse" }));
    selectPc ("Verse");
    for (const auto* item : { "Rename", "Delete", "Export" })
        ASSERT_TRUE (pickFromPcMenu (item)) << item;
    EXPECT_EQ (takeActs(), (Acts { "rename Verse file", "question Deleting project Verse. Are you sure?", "export" }));

    // The folder button's dialog, from the data folder.
    juce::File startedAt;
    page->chooseFolder = [&] (const juce::File& start, std::function<void (const juce::File&)>) { startedAt = start; };
    ASSERT_TRUE (pickFromPcMenu (chooseFolder));
    EXPECT_EQ (startedAt, dataFolder());
}

// The file manager gets the folder as one argument, whatever its name holds;
// a folder chosen once and gone since is made again first.
TEST_F (Shortcuts, OpenDataFolderHandsTheFolderToTheFileManager)
{
    const auto folder = tmp / "it's a \"data\" folder $HOME";
    DirectorySettingManager::getInstance()->setDataDirectory (folder.getFullPathName());
    const auto script = tmp / "file-manager.sh";
    const auto out = tmp / "arguments.txt";
    script.replaceWithText ("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + out.getFullPathName() + "'\n", false,
                            false, "\n");
    script.setExecutePermission (true);
    page->getOpener().program = script.getFullPathName();

    ASSERT_TRUE (pickFromPcMenu (ProjectView::kOpenFolderText));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getOpener().getNumRunning() == 0; }, 5000));
    EXPECT_EQ (out.loadFileAsString(), "1\n" + folder.getFullPathName() + "\n");
    EXPECT_TRUE (folder.isDirectory());
    EXPECT_TRUE (boxes.empty());

    // No file manager to start: the user is told, naming the folder.
    page->getOpener().program = (tmp / "missing-program").getFullPathName();
    ASSERT_TRUE (pickFromPcMenu (ProjectView::kOpenFolderText));
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_TRUE (boxes[0].second.startsWith ("Could not open the data folder " + folder.getFullPathName() + ": "))
        << boxes[0].second;

    // xdg-open is there, but the desktop has no file manager: it ends with
    // status 3, and the user is told that too.
    boxes.clear();
    const auto launcher = tmp / "bin/xdg-open";
    ASSERT_TRUE (launcher.create());
    launcher.replaceWithText ("#!/bin/sh\nexit 3\n", false, false, "\n");
    launcher.setExecutePermission (true);
    page->getOpener().program = launcher.getFullPathName();
    page->getOpener().checkIntervalMs = 10;
    ASSERT_TRUE (pickFromPcMenu (ProjectView::kOpenFolderText));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! boxes.empty(); }, 5000));
    EXPECT_EQ (boxes[0].second, "Could not open the data folder " + folder.getFullPathName()
                                    + ": this desktop has no program set up to open it (xdg-open ended with status 3).");
}

TEST_F (Shortcuts, DroppedProjectFilesAreCopiedNeverOverAFileAndOthersAreRefusedByName)
{
    writeProject ("Song.prj", "Song", 1);
    ASSERT_TRUE (waitForPcRows ({ "Song" }));
    const auto elsewhere = tmp / "downloads";
    ASSERT_TRUE (elsewhere.createDirectory());
    const auto write = [&] (const juce::String& name, const juce::MemoryBlock& bytes) {
        const auto file = elsewhere.getChildFile (name);
        EXPECT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        return file;
    };
    const auto otherSong = projectFile ("Other Song", 2);
    const auto song = write ("Song.prj", otherSong);
    const auto chords = write ("chords.prj", projectFile ("Chords", 0));
    const auto notes = write ("notes.txt", juce::MemoryBlock ("hello", 5));
    auto cut = projectFile ("Cut", 0);
    cut.setSize (4000);
    const auto cutShort = write ("cut.prj", cut);

    auto& table = page->getPcList();
    ASSERT_TRUE (table.isInterestedInFileDrag ({ song.getFullPathName() }));
    table.filesDropped ({ song.getFullPathName(), notes.getFullPathName(), chords.getFullPathName(),
                          cutShort.getFullPathName(), elsewhere.getFullPathName(),
                          dataFolder().getChildFile ("Song.prj").getFullPathName() },
                        10, 10);

    EXPECT_EQ (boxes, (std::vector<std::pair<juce::String, juce::String>> {
                          { "", "These files are not KORVA projects and were not copied: notes.txt, cut.prj, "
                                "downloads" } }));
    EXPECT_TRUE (waitForPcRows ({ "Chords", "Other Song", "Song" }));
    EXPECT_EQ (namesIn (dataFolder()).joinIntoString (" "), "Song.prj Song_2.prj chords.prj");
    const auto bytesIn = [&] (const char* name) {
        juce::MemoryBlock bytes;
        EXPECT_TRUE (dataFolder().getChildFile (name).loadFileAsData (bytes));
        return bytes;
    };
    EXPECT_EQ (bytesIn ("Song_2.prj"), otherSong);
    EXPECT_EQ (bytesIn ("Song.prj"), projectFile ("Song", 1));
    // The dropped files stay where they were.
    EXPECT_EQ (elsewhere.getNumberOfChildFiles (juce::File::findFiles), 4);

    // One file: the message says so.
    boxes.clear();
    table.filesDropped ({ notes.getFullPathName() }, 10, 10);
    EXPECT_EQ (boxes, (std::vector<std::pair<juce::String, juce::String>> {
                          { "", "This file is not a KORVA project and was not copied: notes.txt" } }));
}

} // namespace korva
