// "Import All Projects…" on the project page: every project of the KORVA but
// the one in use copied into the data folder in the table's order, one
// progress window, one message at the end; a refusal of one project is told
// and the run goes on, a cancel or an unplug ends it with the completed copies
// kept and nothing of the interrupted one left.

#include "tests/gui/pages/ProjectPageFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>

namespace korva
{

using namespace korva::test;

namespace
{
const juce::String kImportAll = juce::String::fromUTF8 (ProjectView::kImportAllText);

struct ImportAllConcurrency : Page
{
    std::mutex askedLock;
    std::vector<int> asked; // the projects the KORVA was asked for, in order
    std::atomic<int> holdAt { -1 }; // the import of this project waits after its header
    std::atomic<bool> held { false }; // the KORVA has begun to hold it

    void SetUp() override
    {
        Page::SetUp();
        // Three projects to copy, and "Jam", the one the KORVA is using.
        device.setProjects ({ { 4, "Live", 2 }, { 9, "Demo", 0 }, { 2, "Ballad", 1 }, { 7, "Jam", 0 } }, 7, 12, 900);
        device.onMessage = [this] (juce::uint8 type, const juce::MemoryBlock& payload) {
            const auto* p = static_cast<const juce::uint8*> (payload.getData());
            if (type != HidSequenceManager::kImportProject || payload.getSize() < 2 || p[1] != 0x00)
                return;
            const std::lock_guard<std::mutex> lock (askedLock);
            asked.push_back (p[0]);
            if (p[0] == holdAt)
            {
                device.gateOpen = false;
                held = true;
            }
        };
    }

    // The device's four projects, as the page shows them (in name order).
    void connectAndList()
    {
        connect();
        ASSERT_TRUE (runMessageLoopUntil ([&] {
            return rowNames (korvaModel) == std::vector<juce::String> { "Ballad", "Demo", "Jam", "Live" }
                   && projects.currentProjectIndex.load() == 7;
        }));
    }

    std::vector<int> askedFor()
    {
        const std::lock_guard<std::mutex> lock (askedLock);
        return asked;
    }

    // Starts the run from the KORVA table's menu and waits until the project
    // numbered `number` is on its way (the window says "<number> of 3: <name>").
    void startAndWaitFor (int number, const juce::String& name)
    {
        ASSERT_TRUE (pickFromKorvaMenu (kImportAll));
        const auto prefix = juce::String (number) + " of 3: " + name + " (";
        ASSERT_TRUE (runMessageLoopUntil ([&] {
            auto* window = page->getProgressWindow();
            return window != nullptr && window->getStatus().startsWith (prefix);
        }, 20000)) << (page->getProgressWindow() != nullptr ? page->getProgressWindow()->getStatus() : "no window");
        // The window tells of the project as it is asked for; the KORVA may not have the question yet.
        if (holdAt.load() >= 0)
        {
            ASSERT_TRUE (waitUntil ([&] { return held.load(); }, 20000));
        }
    }

    // The one message at the end, its lines.
    juce::StringArray finalMessage()
    {
        if (! waitForBox (20000) || ! waitUntilAtRest (sequencer))
            return { "no message" };
        EXPECT_EQ (boxes.size(), 1u); // nothing else was shown
        EXPECT_EQ (boxes[0].first, ProjectBackup::kTitle);
        return juce::StringArray::fromLines (boxes[0].second);
    }

    // The data folder holds exactly these projects, each byte for byte as the
    // KORVA sent it, under its name and a time, and nothing else (no hidden file either).
    void expectCopiesOf (const std::vector<FakeKorva::Project>& expected)
    {
        const auto everything = dataFolder().findChildFiles (juce::File::findFilesAndDirectories, false, "*");
        EXPECT_EQ (everything.size(), (int) expected.size());
        for (const auto& project : expected)
        {
            const auto matches =
                dataFolder().findChildFiles (juce::File::findFiles, false, project.name + "_????????_??????.prj");
            ASSERT_EQ (matches.size(), 1) << project.name;
            juce::MemoryBlock bytes;
            ASSERT_TRUE (matches[0].loadFileAsData (bytes));
            EXPECT_EQ (bytes, projectFile (project.name, project.patterns)) << project.name;
        }
    }
};

const FakeKorva::Project kBallad { 2, "Ballad", 1 }, kDemo { 9, "Demo", 0 }, kLive { 4, "Live", 2 };
} // namespace

TEST_F (ImportAllConcurrency, CopiesEveryProjectInTheTablesOrderWithOneWindowAndOneMessage)
{
    // Offered only with a KORVA that has projects.
    ASSERT_FALSE (pickFromKorvaMenu (kImportAll));
    connectAndList();

    holdAt = kDemo.index;
    startAndWaitFor (2, "Demo");
    auto* window = page->getProgressWindow();
    EXPECT_EQ (window->getAlertWindow()->getName(), ProjectBackup::kTitle);
    EXPECT_TRUE (window->hasCancelButton());
    // 8 KB of Ballad are done; Demo's header of 4 KB is under way; 24 KB in all.
    EXPECT_TRUE (std::regex_match (window->getStatus().toStdString(),
                                   std::regex ("2 of 3: Demo \\((8|9|10|11|12) KB of 24 KB\\)")))
        << window->getStatus();
    // While it runs it is not offered again.
    ASSERT_FALSE (pickFromKorvaMenu (kImportAll));
    device.gateOpen = true;

    const auto lines = finalMessage();
    ASSERT_EQ (lines.size(), 6) << lines.joinIntoString ("\n");
    EXPECT_EQ (lines[0], "Imported 3 of 4 projects into " + dataFolder().getFullPathName() + ".");
    EXPECT_TRUE (lines[1].matchesWildcard ("002 Ballad: Ballad_????????_??????.prj", false)) << lines[1];
    EXPECT_TRUE (lines[2].matchesWildcard ("009 Demo: Demo_????????_??????.prj", false)) << lines[2];
    EXPECT_TRUE (lines[3].matchesWildcard ("004 Live: Live_????????_??????.prj", false)) << lines[3];
    EXPECT_EQ (lines[4], "Not imported:");
    EXPECT_EQ (lines[5], "007 Jam: in use on the KORVA, not imported");
    EXPECT_EQ (askedFor(), (std::vector<int> { 2, 9, 4 })); // the table's order, never the project in use
    EXPECT_EQ (informationBoxes.size(), 1u) << "a run that copied every project it could is no warning";
    expectCopiesOf ({ kBallad, kDemo, kLive });
    EXPECT_TRUE (waitForPcRows ({ "Ballad", "Demo", "Live" }));
    EXPECT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));

    // In the table's order as sorted by the user: by name, backwards.
    page->getKorvaList().getTable().getHeader().setSortColumnId (KorvaProjectListComponent::kNameColumn, false);
    for (const auto& file : savedProjects())
        ASSERT_TRUE (file.deleteFile());
    boxes.clear();
    {
        const std::lock_guard<std::mutex> lock (askedLock);
        asked.clear();
        holdAt = -1;
    }
    ASSERT_TRUE (pickFromKorvaMenu (kImportAll));
    EXPECT_EQ (finalMessage()[0], "Imported 3 of 4 projects into " + dataFolder().getFullPathName() + ".");
    EXPECT_EQ (askedFor(), (std::vector<int> { 4, 9, 2 }));
}

TEST_F (ImportAllConcurrency, AProjectTheKorvaRefusesIsToldAndTheRunGoesOn)
{
    connectAndList();
    device.busyImport = kDemo.index;
    ASSERT_TRUE (pickFromKorvaMenu (kImportAll));

    const auto lines = finalMessage();
    ASSERT_EQ (lines.size(), 6) << lines.joinIntoString ("\n");
    EXPECT_EQ (lines[0], "Imported 2 of 4 projects into " + dataFolder().getFullPathName() + ".");
    EXPECT_EQ (lines[3], "Not imported:");
    EXPECT_EQ (lines[4], "009 Demo: KORVA is busy.");
    EXPECT_EQ (lines[5], "007 Jam: in use on the KORVA, not imported");
    EXPECT_TRUE (informationBoxes.empty()) << "a run that left a project behind warns";
    expectCopiesOf ({ kBallad, kLive });
}

// A transfer the transport could not carry is a line of the run's message,
// not a box of its own; outside a run it is a box.
TEST_F (ImportAllConcurrency, ATransportFailureIsALineOfTheMessageAndTheRunGoesOn)
{
    connectAndList();
    std::atomic<int> failStartOf { kDemo.index };
    korva.sendOutcome = [&failStartOf] (juce::uint8 type, const juce::MemoryBlock& payload) {
        const auto* p = static_cast<const juce::uint8*> (payload.getData());
        const bool fail = type == HidSequenceManager::kImportProject && payload.getSize() == 2 && p[1] == 0x00
                          && p[0] == failStartOf.load();
        return fail ? HidDeviceManager::kSendStartAckTimeout : HidDeviceManager::kSuccess;
    };
    ASSERT_TRUE (pickFromKorvaMenu (kImportAll));

    const auto lines = finalMessage();
    ASSERT_EQ (lines.size(), 6) << lines.joinIntoString ("\n");
    EXPECT_EQ (lines[0], "Imported 2 of 4 projects into " + dataFolder().getFullPathName() + ".");
    EXPECT_EQ (lines[4], "009 Demo: Communication Error (0003)");
    expectCopiesOf ({ kBallad, kLive });

    boxes.clear();
    failStartOf = kLive.index;
    selectKorva ("Live");
    click (page->getImportButton());
    ASSERT_TRUE (waitForBox());
    EXPECT_EQ (boxes, (std::vector<std::pair<juce::String, juce::String>> { { "", "Communication Error (0003)" } }));
}

TEST_F (ImportAllConcurrency, CancelEndsTheCopyUnderWayAndKeepsTheCompletedOnes)
{
    connectAndList();
    holdAt = kLive.index;
    startAndWaitFor (3, "Live");

    page->getProgressWindow()->getAlertWindow()->triggerButtonClick ("Cancel");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    device.gateOpen = true;

    const auto lines = finalMessage();
    ASSERT_EQ (lines.size(), 6) << lines.joinIntoString ("\n");
    EXPECT_EQ (lines[0], "Imported 2 of 4 projects into " + dataFolder().getFullPathName() + ".");
    EXPECT_EQ (lines[4], "007 Jam: in use on the KORVA, not imported");
    EXPECT_EQ (lines[5], "Stopped: The import was cancelled. 1 project was not imported.");
    EXPECT_EQ (lastSent (HidSequenceManager::kImportProject), status ({ kLive.index, 0x02 })); // the abort
    expectCopiesOf ({ kBallad, kDemo });
}

// Closing the window during a run asks first; kept open, the run goes on;
// closed, the run is cancelled and the window closes once it has ended,
// without the run's message. Outside a run the window closes at once.
TEST_F (ImportAllConcurrency, ClosingTheWindowDuringARunAsksAndClosesOnceTheRunIsCancelled)
{
    int closes = 0;
    const auto closeNow = [&] { ++closes; };
    EXPECT_TRUE (page->closeRequested (closeNow));
    EXPECT_TRUE (questions.empty());

    connectAndList();
    holdAt = kDemo.index;
    startAndWaitFor (2, "Demo");

    confirmAnswer = false;
    EXPECT_FALSE (page->closeRequested (closeNow));
    ASSERT_EQ (questions.size(), 1u);
    EXPECT_EQ (questions[0], (std::pair<juce::String, juce::String> { ProjectBackup::kTitle,
                                                                       ProjectView::kCloseDuringRunText }));
    EXPECT_TRUE (page->isImportingAll());

    confirmAnswer = true;
    EXPECT_FALSE (page->closeRequested (closeNow));
    EXPECT_EQ (questions.size(), 2u);
    device.gateOpen = true;
    ASSERT_TRUE (runMessageLoopUntil ([&] { return closes == 1; }, 10000)) << "the window was not closed";
    EXPECT_FALSE (page->isImportingAll());
    EXPECT_TRUE (waitUntilAtRest (sequencer));
    runMessageLoopFor (50);
    EXPECT_EQ (closes, 1);
    EXPECT_TRUE (boxes.empty()) << "the run's message came: " << boxes[0].second;
    expectCopiesOf ({ kBallad });
}

TEST_F (ImportAllConcurrency, AnUnplugEndsTheRunAndTheKorvaIsServedAgainWhenItIsBack)
{
    connectAndList();
    holdAt = kDemo.index;
    startAndWaitFor (2, "Demo");

    juce::StringArray ids { "KORVA" };
    sequencer.onHidDisconnected (ids);
    device.gateOpen = true;

    const auto lines = finalMessage();
    ASSERT_EQ (lines.size(), 6) << lines.joinIntoString ("\n");
    EXPECT_EQ (lines[0], "Imported 1 of 4 projects into " + dataFolder().getFullPathName() + ".");
    // The import cut off says so through the transport, or the unplug is seen first.
    EXPECT_TRUE (lines[3] == "009 Demo: KORVA is not connected."
                 || lines[3].matchesWildcard ("009 Demo: Communication Error (00\?\?)", false))
        << lines[3];
    EXPECT_EQ (lines[4], "007 Jam: in use on the KORVA, not imported");
    EXPECT_EQ (lines[5], "Stopped: KORVA is not connected. 1 project was not imported.");
    EXPECT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
    expectCopiesOf ({ kBallad });

    // Plugged in again: a single import is told of as usual, and a new run starts afresh.
    boxes.clear();
    holdAt = -1;
    connectAndList();
    selectKorva ("Live");
    device.busyImport = kLive.index;
    click (page->getImportButton());
    ASSERT_TRUE (waitForBox());
    EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> ("", "KORVA is busy.")));

    boxes.clear();
    device.busyImport = -1;
    ASSERT_TRUE (pickFromKorvaMenu (kImportAll));
    EXPECT_EQ (finalMessage()[0], "Imported 3 of 4 projects into " + dataFolder().getFullPathName() + ".");
}

} // namespace korva
