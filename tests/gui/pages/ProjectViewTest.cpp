#include "core/projects/ProjectDataManager.h"
#include "core/settings/DirectorySetting.h"
#include "gui/pages/ProjectView.h"
#include "gui/widgets/FlashingMessage.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/gui/pages/ProjectPageFixture.h"
#include "tests/support/MessageLevelKorva.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <linux/fs.h>
#include <fcntl.h>
#include <regex>
#include <sys/ioctl.h>
#include <unistd.h>

namespace korva
{

using namespace korva::test;

namespace
{
// A file that not even root may change or delete, for as long as it lives.
class ScopedImmutableFile
{
public:
    explicit ScopedImmutableFile (const juce::File& file) : m_file (file) { m_ok = setImmutable (true); }
    ~ScopedImmutableFile()
    {
        if (m_ok)
            setImmutable (false);
    }
    bool ok() const noexcept { return m_ok; }

private:
    bool setImmutable (bool on)
    {
        const int fd = ::open (m_file.getFullPathName().toRawUTF8(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl (fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl (fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close (fd);
        return done;
    }

    juce::File m_file;
    bool m_ok = false;
};
} // namespace

//==============================================================================
// The page and the connection

TEST_F (Page, WithoutAKorvaOnlyTheComputerSideIsUsable)
{
    EXPECT_EQ (page->getKorvaList().getBounds(), juce::Rectangle<int> (15, 39, 330, 235));
    EXPECT_EQ (page->getPcList().getBounds(), juce::Rectangle<int> (410, 39, 390, 235));
    EXPECT_EQ (page->getFolderButton().getBounds(), juce::Rectangle<int> (776, 10, 24, 24));
    EXPECT_EQ (page->getImportButton().getBounds(), juce::Rectangle<int> (360, 114, 38, 38));
    EXPECT_EQ (page->getExportButton().getBounds(), juce::Rectangle<int> (360, 172, 38, 38));
    EXPECT_EQ (page->getPcDeleteButton().getBounds(), juce::Rectangle<int> (730, 279, 70, 24));
    EXPECT_EQ (page->getFolderButton().getName(), "folder_select_button");
    EXPECT_EQ (page->getImportButton().getName(), "import_button");
    EXPECT_EQ (page->getExportButton().getName(), "export_button");
    // The picture comes from the resource folder beside the program.
    EXPECT_TRUE (dynamic_cast<juce::ImageButton&> (page->getFolderButton()).getNormalImage().isValid());

    EXPECT_FALSE (page->getKorvaList().isEnabled());
    for (auto* b : { &page->getKorvaRenameButton(), &page->getKorvaDeleteButton(), &page->getImportButton(),
                     &page->getExportButton() })
        EXPECT_FALSE (b->isEnabled()) << b->getName();
    for (auto* b : { &page->getPcRenameButton(), &page->getPcDeleteButton(), &page->getFolderButton() })
        EXPECT_TRUE (b->isEnabled()) << b->getName();

    // "KORVA" is grey and no capacity is drawn.
    const juce::Rectangle<int> capacityArea (115, 303, 240, 40);
    EXPECT_GT (countPixels ({ 15, 10, 80, 19 }, juce::Colour (0xFF7D7D7D)), 5);
    EXPECT_EQ (countInk ({ 15, 10, 80, 19 }), 0);
    EXPECT_EQ (countInk (capacityArea), 0);

    connect();
    for (auto* b : { &page->getKorvaRenameButton(), &page->getKorvaDeleteButton(), &page->getImportButton(),
                     &page->getExportButton() })
        EXPECT_TRUE (b->isEnabled()) << b->getName();
    EXPECT_GT (countInk ({ 15, 10, 80, 19 }), 5); // "KORVA" in black
    EXPECT_GT (countInk (capacityArea), 20);

    juce::StringArray ids { "KORVA" };
    sequencer.onHidDisconnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! page->getKorvaList().isEnabled(); }));
    EXPECT_FALSE (page->getImportButton().isEnabled());
}

TEST_F (Page, CapacityShowsDashesUntilBothFiguresAreKnown)
{
    // The value column alone: "--" has fewer black pixels than "12" and "900".
    const juce::Rectangle<int> values (315, 303, 40, 40);
    const auto ink = [&] { return countInk (values); };

    connectAndList();
    EXPECT_EQ (projects.remainingProjectCapacity.load(), 12);
    EXPECT_EQ (projects.remainingPatternCapacity.load(), 900);
    const int figures = ink();

    // Showing the page again forgets the figures and the list until the next
    // answer. No poll is under way: the last one the page asked for has ended.
    page->onTransitioned (false);
    EXPECT_FALSE (page->getPoll().isPolling());
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    page->onTransitioned (true);
    EXPECT_EQ (projects.remainingProjectCapacity.load(), -1);
    EXPECT_EQ (korvaModel.getNumRows(), 0);
    const int dashes = ink();
    EXPECT_GT (dashes, 0);
    EXPECT_LT (dashes, figures);

    // Unchanged answers leave the figures alone, so they can be set here.
    ASSERT_TRUE (runMessageLoopUntil ([&] { return projects.remainingPatternCapacity.load() == 900; }, 4000));
    EXPECT_TRUE (waitForKorvaList());
    EXPECT_EQ (ink(), figures);
    projects.remainingPatternCapacity = -1; // one figure alone is not enough
    EXPECT_EQ (ink(), dashes);
    projects.remainingPatternCapacity = 900;
    projects.remainingProjectCapacity = -1;
    EXPECT_EQ (ink(), dashes);
}

TEST_F (Page, HidingThePageDropsAWaitingListRequest)
{
    connectAndList();

    // An import holds the line, so a list request has to wait.
    selectKorva ("Live");
    device.gateOpen = false;
    click (page->getImportButton());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));
    sequencer.requestGetProjectInfo();
    ASSERT_TRUE (waitUntil ([&] {
        return sequencer.getRequestor().getReservedType() == HidSequenceManager::kProjectInfo;
    }));

    page->onTransitioned (false);
    EXPECT_EQ (sequencer.getRequestor().getReservedType(), HidSequenceRequestor::kNone);
    device.gateOpen = true;
    EXPECT_TRUE (waitForEvent ("import 1000"));
}

TEST_F (Page, ListAnswersReachTheStatusLine)
{
    struct Case
    {
        int result;
        const char* text;
    };
    for (const auto& c : { Case { 7, "Get Project Info | Communication Error (0007)" },
                           Case { 2005, "Get Project Info | KORVA is busy." }, Case { 1000, "" } })
    {
        // As the sequencer does it: from its own thread.
        std::thread sequencerThread ([&] { page->getProjectInfoResponsed (c.result, false); });
        sequencerThread.join();
        EXPECT_TRUE (runMessageLoopUntil ([&] { return FlashingMessage::getInstance()->getMessage() == c.text; }))
            << c.result;
        FlashingMessage::getInstance()->setMessage ("x");
    }
}

TEST_F (Page, AnUnchangedListKeepsTheSelectionAndAChangedOneClearsIt)
{
    connectAndList();
    selectKorva ("Live");
    const int polls = korva.count (HidSequenceManager::kProjectInfo);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return korva.count (HidSequenceManager::kProjectInfo) >= polls + 2; },
                                      4000));
    EXPECT_EQ (page->getKorvaList().getSelectedProjectName(), "Live");

    device.setProjects ({ { 4, "Live", 2 }, { 9, "Demo", 0 } }, 2, 12, 900);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return korvaModel.getNumRows() == 2; }, 4000));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getKorvaList().getTable().getSelectedRow() == -1; }));
    EXPECT_EQ (page->getKorvaList().getSelectedProjectIndex(), -1);
}

TEST_F (Page, TheProjectInUseCannotBeRenamedDeletedOrImported)
{
    connectAndList();
    selectKorva ("Ballad"); // index 2, in use
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! page->getImportButton().isEnabled(); }));
    EXPECT_FALSE (page->getKorvaRenameButton().isEnabled());
    EXPECT_FALSE (page->getKorvaDeleteButton().isEnabled());
    EXPECT_TRUE (page->getExportButton().isEnabled());

    click (page->getImportButton());
    click (page->getKorvaDeleteButton());
    EXPECT_TRUE (questions.empty());

    selectKorva ("Demo");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getImportButton().isEnabled(); }));
    EXPECT_TRUE (page->getKorvaRenameButton().isEnabled());
    EXPECT_TRUE (page->getKorvaDeleteButton().isEnabled());
}

//==============================================================================
// Transfers

TEST_F (Page, ImportSavesTheProjectUnderItsNameAndListsIt)
{
    connectAndList();
    selectKorva ("Live");
    click (page->getImportButton());

    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));
    EXPECT_TRUE (page->getProgressWindow()->hasCancelButton());
    EXPECT_EQ (page->getProgressWindow()->getAlertWindow()->getName(), "");
    EXPECT_EQ (page->getProgressWindow()->getStatus(), "Transferring...");

    ASSERT_TRUE (waitForEvent ("import 1000"));
    ASSERT_EQ (savedProjects().size(), 1);
    EXPECT_TRUE (std::regex_match (savedProjects()[0].getFileName().toStdString(),
                                   std::regex ("Live_[0-9]{8}_[0-9]{6}\\.prj")));
    EXPECT_EQ (savedProjects()[0].getSize(), 4096 * 3);
    EXPECT_TRUE (waitForPcRows ({ "Live" }));
    EXPECT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    EXPECT_TRUE (boxes.empty());
}

TEST_F (Page, CancellingAnImportSavesNothing)
{
    connectAndList();
    selectKorva ("Live");
    device.gateOpen = false;
    click (page->getImportButton());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));

    DebugOutputCapture traces;
    page->getProgressWindow()->getAlertWindow()->triggerButtonClick ("Cancel");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    EXPECT_TRUE (traces.contains ("Pressed Cancel Of ProgressWindow"));
    device.gateOpen = true;

    ASSERT_TRUE (waitForEvent ("import 1000"));
    EXPECT_EQ (lastSent (HidSequenceManager::kImportProject), status ({ 4, 0x02 })); // the abort
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    EXPECT_TRUE (savedProjects().isEmpty());
    EXPECT_TRUE (boxes.empty());
}

TEST_F (Page, ImportFailuresAreReported)
{
    struct Case
    {
        int result;
        const char* text;
    };
    for (const auto& c : { Case { 2005, "KORVA is busy." }, Case { 2001, "Communication Error (2001)" },
                           Case { 1002, "Communication Error (1002)" } })
    {
        boxes.clear();
        page->importProjectDataResponsed (c.result);
        ASSERT_EQ (boxes.size(), 1u);
        EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> ("", c.text)));
    }
}

// A data folder that cannot be made (a file stands where it should be): the
// import is abandoned at the first block, and the box names the folder and
// the system's reason, not the KORVA.
TEST_F (Page, AnImportTheDataFolderCannotTakeNamesTheFolder)
{
    (tmp / "blocker").replaceWithText ("a file, not a folder");
    const auto folder = tmp / "blocker/data";
    projects.dataDirectory = [folder] { return folder; };
    connectAndList();
    selectKorva ("Live");
    click (page->getImportButton());

    ASSERT_TRUE (waitForBox());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    ASSERT_TRUE (waitUntilAtRest (sequencer)); // a second box would have come by now
    EXPECT_EQ (boxes, (std::vector<std::pair<juce::String, juce::String>>{
                          {"", "Could not save the project in " + folder.getFullPathName() + ": Not a directory."}}));
    EXPECT_EQ (lastSent (HidSequenceManager::kImportProject), status ({4, 0x02})); // the abort
    EXPECT_EQ (korva.count (HidSequenceManager::kImportProject), 2); // the start; the header is answered by the abort
    EXPECT_EQ (tmp.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2); // blocker, data
}

TEST_F (Page, ExportSendsTheSelectedFileBlockByBlock)
{
    writeProject ("Verse_20260101_120000.prj", "Verse", 2);
    connectAndList();
    ASSERT_TRUE (waitForPcRows ({ "Verse" }));
    selectPc ("Verse");
    click (page->getExportButton());

    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));
    EXPECT_TRUE (page->getProgressWindow()->hasCancelButton());
    ASSERT_TRUE (waitForEvent ("export 1000"));

    // The query carries the pattern count; then the header, both patterns and the end.
    const auto sent = korva.sent();
    const auto query = std::find_if (sent.begin(), sent.end(), [] (const auto& m) { return m.first == 0x04; });
    ASSERT_NE (query, sent.end());
    EXPECT_EQ (query->second, status ({ 0, 2 }));
    EXPECT_EQ (korva.count (HidSequenceManager::kExportProject), 4);
    EXPECT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    EXPECT_TRUE (boxes.empty());
}

TEST_F (Page, ExportRefusesANameTheKorvaAlreadyHas)
{
    writeProject ("a.prj", "Live", 0);
    writeProject ("b.prj", "live", 0);
    connectAndList();
    ASSERT_TRUE (waitForPcRows ({ "Live", "live" })); // equal names keep the listing order

    selectPc ("Live");
    click (page->getExportButton());
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> (
                             "", "Could not load this project. A project with the same name already exists.")));
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    EXPECT_EQ (korva.count (HidSequenceManager::kQueryExportProject), 0);

    selectPc ("live"); // another name as far as the KORVA is concerned
    click (page->getExportButton());
    EXPECT_TRUE (waitForEvent ("export 1000"));
    EXPECT_EQ (boxes.size(), 1u);
}

TEST_F (Page, ExportFailuresAreReported)
{
    writeProject ("a.prj", "Verse", 1);
    connectAndList();
    ASSERT_TRUE (waitForPcRows ({ "Verse" }));
    selectPc ("Verse");

    struct Case
    {
        int room;
        const char* text;
    };
    for (const auto& c : { Case { 0, "Cannot load the the project. Not enough space on KORVA." },
                           Case { 2, "KORVA is busy." }, Case { 7, "Communication Error (1002)" } })
    {
        boxes.clear();
        device.exportRoom = c.room;
        click (page->getExportButton());
        ASSERT_TRUE (waitForBox()) << c.room;
        EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> ("", c.text)));
    }
    EXPECT_EQ (korva.count (HidSequenceManager::kExportProject), 0);

    boxes.clear();
    page->exportProjectDataResponsed (2005);
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].second, "Communication Error (2005)");
}

TEST_F (Page, CancellingAnExportEndsItWithTheAbortMessage)
{
    writeProject ("a.prj", "Verse", 3);
    connectAndList();
    ASSERT_TRUE (waitForPcRows ({ "Verse" }));
    selectPc ("Verse");
    device.gateOpen = false;
    click (page->getExportButton());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));

    page->getProgressWindow()->getAlertWindow()->triggerButtonClick ("Cancel");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    device.gateOpen = true;

    ASSERT_TRUE (waitForEvent ("export 1000"));
    EXPECT_EQ (lastSent (HidSequenceManager::kExportProject), status ({ 1 })); // the abort, before all patterns went
    EXPECT_LT (korva.count (HidSequenceManager::kExportProject), 1 + 3 + 1);
}

// The file changes under an export: gone or cut inside its header when the
// export starts, gone after the header went, cut short after a pattern or
// inside one. The export ends
// with the device's abort and one box that names the file and the reason.
TEST_F (Page, AFileThatChangesDuringAnExportIsNamedWithTheReason)
{
    connectAndList();
    const auto file = dataFolder().getChildFile ("a.prj");
    const auto gone = [file] { ASSERT_TRUE (file.deleteFile()); };
    const auto cutTo = [file] (int size)
    { return [file, size] { ASSERT_EQ (::truncate (file.getFullPathName().toRawUTF8(), size), 0); }; };
    struct Case
    {
        const char* name;
        juce::uint8 at; // what the device sees just before the change
        int block;      // of an export: 0 the header, n pattern n
        std::function<void()> change;
        const char* reason;
        int exportMessages; // that reached the device, the abort included
    };
    const Case cases[] = {
        {"gone at the room check", HidSequenceManager::kQueryExportProject, -1, gone, "No such file or directory", 0},
        {"cut inside the header at the room check", HidSequenceManager::kQueryExportProject, -1, cutTo (2000),
         "The file ended early", 0},
        {"gone after the header", HidSequenceManager::kExportProject, 0, gone, "No such file or directory", 2},
        {"cut after a pattern", HidSequenceManager::kExportProject, 1, cutTo (4096 * 2), "The file ended early", 3},
        {"cut inside a pattern", HidSequenceManager::kExportProject, 1, cutTo (4096 * 2 + 100), "The file ended early",
         3},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        boxes.clear();
        events.clear();
        writeProject ("a.prj", "Verse", 3);
        ASSERT_TRUE (waitForPcRows ({"Verse"}));
        selectPc ("Verse");
        const int exportsBefore = korva.count (HidSequenceManager::kExportProject);
        std::atomic<bool> changed{false};
        device.onMessage = [&] (juce::uint8 type, const juce::MemoryBlock& payload)
        {
            const int block = type != HidSequenceManager::kExportProject      ? -1
                              : ProjectDataManager::isProjectHeader (payload) ? 0
                                                                              : 1;
            if (type == c.at && block == c.block && payload.getSize() == (c.block < 0 ? 2u : 4096u) &&
                !changed.exchange (true))
                c.change();
        };
        click (page->getExportButton());

        ASSERT_TRUE (waitForBox());
        if (c.exportMessages > 0)
        {
            ASSERT_TRUE (waitForEvent ("export 1002")); // the device confirmed the abort
        }
        ASSERT_TRUE (waitUntilAtRest (sequencer)); // a second box would have come by now
        device.onMessage = nullptr;
        EXPECT_EQ (boxes,
                   (std::vector<std::pair<juce::String, juce::String>>{
                       {"", "Could not read the project file " + file.getFullPathName() + ": " + c.reason + "."}}));
        EXPECT_EQ (korva.count (HidSequenceManager::kExportProject) - exportsBefore, c.exportMessages);
        if (c.exportMessages > 0)
        {
            EXPECT_EQ (lastSent (HidSequenceManager::kExportProject), status ({1})); // the abort
        }
        EXPECT_FALSE (events.has ("export 1000"));
        file.deleteFile();
    }
}

//==============================================================================
// Renaming and deleting on the KORVA

TEST_F (Page, RenamingOnTheKorvaSendsTheNewNameAndShowsProgress)
{
    connectAndList();
    selectKorva ("Live");
    renameAnswer = [] (const juce::String& name, bool checkDevice) {
        EXPECT_EQ (name, "Live");
        EXPECT_TRUE (checkDevice);
        return juce::String ("Encore");
    };
    click (page->getKorvaRenameButton());

    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));
    auto* window = page->getProgressWindow();
    EXPECT_FALSE (window->hasCancelButton());
    EXPECT_EQ (window->getAlertWindow()->getNumButtons(), 0);
    EXPECT_EQ (window->getAlertWindow()->getName(), "Rename Project");
    EXPECT_EQ (window->getStatus(), "Renaming...");

    ASSERT_TRUE (waitForEvent ("rename 1000"));
    const auto ended = device.editEndTime.load();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    const auto open = juce::Time::getMillisecondCounter() - ended;
    EXPECT_GE (open, 450u);
    EXPECT_LT (open, 1500u);

    juce::MemoryBlock expected (35, true);
    static_cast<juce::uint8*> (expected.getData())[1] = 4;
    std::memcpy (static_cast<char*> (expected.getData()) + 2, "Encore", 6);
    const auto sent = korva.sent();
    const auto rename = std::find_if (sent.begin(), sent.end(), [] (const auto& m) { return m.first == 0x02; });
    ASSERT_NE (rename, sent.end());
    EXPECT_EQ (rename->second, expected);
    EXPECT_TRUE (boxes.empty());
}

TEST_F (Page, RenamingOnTheKorvaChecksAgainAfterTheDialog)
{
    connectAndList();
    struct Case
    {
        const char* typed;
        std::function<void()> whileOpen;
        const char* text; // nullptr: nothing shown, nothing sent
    };
    const Case cases[] = {
        { "Live", {}, nullptr }, // unchanged
        { "", {}, nullptr },     // cleared
        { "Encore",
          [&] {
              device.setProjects ({ { 9, "Demo", 0 }, { 2, "Ballad", 1 } }, 2);
              sequencer.requestGetProjectInfo();
              waitUntil ([&] { return ! ProjectDataManager::isProjectIndexOnDevice (4); });
          },
          "Could not rename this project. The project does not exist." },
        { "Encore",
          [&] {
              device.setProjects ({ { 4, "Live", 2 }, { 9, "Demo", 0 } }, 4);
              sequencer.requestGetProjectInfo();
              waitUntil ([&] { return projects.currentProjectIndex.load() == 4; });
          },
          "Could not rename this project. The project is being used by KORVA." },
        { "Encore",
          [&] {
              juce::StringArray ids;
              sequencer.onHidDisconnected (ids);
              waitUntil ([&] { return ! sequencer.isConnected(); });
          },
          "Could not rename this project. KORVA is not connected." },
    };

    for (const auto& c : cases)
    {
        device.setProjects ({ { 4, "Live", 2 }, { 9, "Demo", 0 }, { 2, "Ballad", 1 } }, 2);
        ASSERT_TRUE (waitForKorvaList());
        selectKorva ("Live");
        ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getKorvaRenameButton().isEnabled(); }));

        boxes.clear();
        renameAnswer = [&] (const juce::String&, bool) {
            if (c.whileOpen)
                c.whileOpen();
            return juce::String (c.typed);
        };
        click (page->getKorvaRenameButton());
        if (c.text == nullptr)
        {
            EXPECT_TRUE (boxes.empty()) << c.typed;
        }
        else
        {
            ASSERT_EQ (boxes.size(), 1u) << c.text;
            EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> ("Rename Project", c.text)));
        }
    }
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    EXPECT_EQ (korva.count (HidSequenceManager::kRenameProject), 0);
}

TEST_F (Page, DeletingOnTheKorvaAsksFirst)
{
    connectAndList();

    // No selection: nothing at all.
    click (page->getKorvaDeleteButton());
    EXPECT_TRUE (questions.empty());

    selectKorva ("Demo");
    confirmAnswer = false;
    click (page->getKorvaDeleteButton());
    ASSERT_EQ (questions.size(), 1u);
    EXPECT_EQ (questions[0],
               (std::pair<juce::String, juce::String> ("Delete Project", "Deleting project Demo. Are you sure?")));
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    EXPECT_EQ (korva.count (HidSequenceManager::kDeleteProject), 0);

    confirmAnswer = true;
    click (page->getKorvaDeleteButton());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));
    EXPECT_EQ (page->getProgressWindow()->getAlertWindow()->getName(), "Delete Project");
    EXPECT_EQ (page->getProgressWindow()->getStatus(), "Deleting...");
    EXPECT_FALSE (page->getProgressWindow()->hasCancelButton());
    ASSERT_TRUE (waitForEvent ("delete 1000"));
    EXPECT_EQ (lastSent (HidSequenceManager::kDeleteProject), status ({ 0, 9 }));
    EXPECT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    EXPECT_TRUE (boxes.empty());
}

TEST_F (Page, DeletingTheProjectInUseIsRefusedAfterTheQuestion)
{
    connectAndList();
    selectKorva ("Demo");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getKorvaDeleteButton().isEnabled(); }));

    // The KORVA switches to the selected project while the question is open.
    page->confirm = [&] (const juce::String&, const juce::String&) {
        device.setProjects ({ { 4, "Live", 2 }, { 9, "Demo", 0 }, { 2, "Ballad", 1 } }, 9);
        sequencer.requestGetProjectInfo();
        waitUntil ([&] { return projects.currentProjectIndex.load() == 9; });
        return true;
    };
    click (page->getKorvaDeleteButton());
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> (
                             "Delete Project", "Could not delete this project. The project is being used by KORVA.")));
}

TEST_F (Page, DeviceEditFailuresAreReported)
{
    connectAndList();
    struct Case
    {
        int status;
        const char* text;
    };
    for (const auto& c : { Case { 2, "KORVA is busy." }, Case { 0, "Communication Error (1003)" } })
    {
        device.editStatus = c.status;
        for (const bool rename : { true, false })
        {
            boxes.clear();
            ASSERT_TRUE (waitForKorvaList());
            selectKorva ("Demo");
            if (rename)
            {
                renameAnswer = [] (const juce::String&, bool) { return juce::String ("Other"); };
                click (page->getKorvaRenameButton());
            }
            else
            {
                click (page->getKorvaDeleteButton());
            }
            ASSERT_TRUE (waitForBox()) << c.status;
            EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> (
                                     rename ? "Rename Project" : "Delete Project", c.text)));
            runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000);
        }
    }
}

//==============================================================================
// Renaming and deleting on the computer

TEST_F (Page, RenamingAFileChangesTheNameInsideNotTheFileName)
{
    writeProject ("Verse_20260101_120000.prj", "Verse", 1);
    ASSERT_TRUE (waitForPcRows ({ "Verse" }));
    selectPc ("Verse");

    renameAnswer = [] (const juce::String& name, bool checkDevice) {
        EXPECT_EQ (name, "Verse");
        EXPECT_FALSE (checkDevice);
        return juce::String ("Chorus");
    };
    click (page->getPcRenameButton());
    EXPECT_TRUE (waitForPcRows ({ "Chorus" }));

    const auto file = dataFolder().getChildFile ("Verse_20260101_120000.prj");
    juce::MemoryBlock bytes;
    ASSERT_TRUE (file.loadFileAsData (bytes));
    EXPECT_EQ (bytes.getSize(), 4096u * 2);
    EXPECT_EQ (std::memcmp (static_cast<const char*> (bytes.getData()) + 4, "Chorus\0\0\0", 9), 0);
    EXPECT_EQ (savedProjects().size(), 1);
    EXPECT_TRUE (boxes.empty());

    // Unchanged or empty: the file is left alone.
    for (const char* typed : { "Chorus", "" })
    {
        selectPc ("Chorus");
        const auto before = file.getLastModificationTime();
        renameAnswer = [typed] (const juce::String&, bool) { return juce::String (typed); };
        click (page->getPcRenameButton());
        EXPECT_EQ (file.getLastModificationTime(), before);
    }
}

TEST_F (Page, AFileThatCannotBeWrittenIsReported)
{
    writeProject ("a.prj", "Verse", 0);
    ASSERT_TRUE (waitForPcRows ({ "Verse" }));
    ScopedImmutableFile locked (dataFolder().getChildFile ("a.prj"));
    if (! locked.ok())
        GTEST_SKIP() << "cannot make a file unchangeable here";

    const auto file = dataFolder().getChildFile ("a.prj");
    const auto before = projectFile ("Verse", 0);

    selectPc ("Verse");
    renameAnswer = [] (const juce::String&, bool) { return juce::String ("Chorus"); };
    click (page->getPcRenameButton());
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> (
                             "Rename Project", "Could not rename the project in " + file.getFullPathName()
                                                   + ": Operation not permitted.")));

    boxes.clear();
    click (page->getPcDeleteButton());
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> (
                             "Delete Project", "Could not delete the project file " + file.getFullPathName()
                                                   + ": Operation not permitted.")));
    juce::MemoryBlock after;
    ASSERT_TRUE (file.loadFileAsData (after));
    EXPECT_EQ (after, before);
}

TEST_F (Page, DeletingAFileAsksFirst)
{
    writeProject ("a.prj", "Verse", 0);
    writeProject ("b.prj", "Bridge", 0);
    ASSERT_TRUE (waitForPcRows ({ "Bridge", "Verse" }));

    // Nothing selected: nothing happens.
    click (page->getPcDeleteButton());
    EXPECT_TRUE (questions.empty());

    selectPc ("Verse");
    confirmAnswer = false;
    click (page->getPcDeleteButton());
    ASSERT_EQ (questions.size(), 1u);
    EXPECT_EQ (questions[0],
               (std::pair<juce::String, juce::String> ("Delete Project", "Deleting project Verse. Are you sure?")));
    EXPECT_TRUE ((dataFolder().getChildFile ("a.prj")).existsAsFile());

    confirmAnswer = true;
    click (page->getPcDeleteButton());
    EXPECT_FALSE ((dataFolder().getChildFile ("a.prj")).exists());
    EXPECT_TRUE (waitForPcRows ({ "Bridge" }));
    EXPECT_EQ (page->getPcList().getTable().getSelectedRow(), -1);
}

TEST_F (Page, TheFolderButtonChangesTheDataFolder)
{
    writeProject ("a.prj", "Here", 0);
    ASSERT_TRUE (waitForPcRows ({ "Here" }));
    const auto other = tmp / "elsewhere";
    other.createDirectory();
    const auto bytes = projectFile ("There", 0);
    (other.getChildFile ("t.prj")).replaceWithData (bytes.getData(), bytes.getSize());

    juce::File answer;
    juce::File startedAt;
    page->chooseFolder = [&] (const juce::File& start, std::function<void (const juce::File&)> chosen) {
        startedAt = start;
        chosen (answer);
    };

    // Cancelled, or a folder that is not there: nothing changes.
    for (const auto& a : { juce::File(), tmp / "missing" })
    {
        answer = a;
        click (page->getFolderButton());
        EXPECT_EQ (startedAt, dataFolder());
        EXPECT_EQ (DirectorySettingManager::getInstance()->getDataDirectoryFile(), dataFolder());
    }

    answer = other;
    click (page->getFolderButton());
    EXPECT_TRUE (waitForPcRows ({ "There" }));
    EXPECT_EQ (DirectorySettingManager::getInstance()->getDataDirectory(), other.getFullPathName());
}

//==============================================================================
// Lifetime

TEST_F (Page, NoCallbackReachesADestroyedPage)
{
    connectAndList();
    selectKorva ("Demo");
    click (page->getKorvaDeleteButton());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() != nullptr; }));
    juce::WeakReference<ProgressWindow> window (page->getProgressWindow());

    // Callbacks queued for the page, then the page goes (its progress window with it).
    std::thread sequencerThread ([&] {
        page->getProjectInfoResponsed (7, true);
        page->importProjectDataResponsed (1002);
    });
    sequencerThread.join();
    page.reset();
    EXPECT_EQ (window.get(), nullptr);

    // The sequencer goes on talking to its listeners.
    events.clear();
    juce::StringArray ids;
    sequencer.onHidDisconnected (ids);
    sequencer.onHidConnected (ids);
    ASSERT_TRUE (waitForEvent ("connectionChanged"));
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (FlashingMessage::getInstance()->getMessage(), "");
}

//==============================================================================
namespace
{
struct PageConcurrency : Page
{
    // Runs the message loop, painting the page all the while, until the event.
    bool paintUntil (const std::string& event)
    {
        return runMessageLoopUntil (
            [&] {
                (void) page->createComponentSnapshot (page->getLocalBounds());
                return events.has (event);
            },
            8000);
    }
};
} // namespace

TEST_F (PageConcurrency, TransfersWhileTheListIsPolledRebuiltAndPainted)
{
    connectAndList();

    selectKorva ("Live");
    click (page->getImportButton());
    // The device's list changes under the transfer: the rows are rebuilt on
    // the sequencer's thread while the page paints them.
    device.setProjects ({{4, "Live", 2}, {9, "Demo", 0}, {2, "Ballad", 1}, {11, "New", 0}}, 2, 11, 898);
    ASSERT_TRUE (paintUntil ("import 1000"));
    ASSERT_TRUE (waitForPcRows ({"Live"}));

    // "Live" leaves the device, so that the file can go back.
    device.setProjects ({{9, "Demo", 0}, {2, "Ballad", 1}}, 2, 12, 900);
    ASSERT_TRUE (runMessageLoopUntil (
        [&] {
            return rowNames (korvaModel) == std::vector<juce::String>{"Ballad", "Demo"};
        },
        4000));
    selectPc ("Live");
    click (page->getExportButton());
    device.setProjects ({{9, "Demo", 0}, {2, "Ballad", 1}, {12, "Live", 2}}, 2, 11, 898);
    ASSERT_TRUE (paintUntil ("export 1000"));

    ASSERT_TRUE (runMessageLoopUntil (
        [&] {
            return rowNames (korvaModel) == std::vector<juce::String>{"Ballad", "Demo", "Live"};
        },
        4000));
    selectKorva ("Demo");
    click (page->getKorvaDeleteButton());
    ASSERT_TRUE (paintUntil ("delete 1000"));
    EXPECT_TRUE (boxes.empty());
}

} // namespace korva
