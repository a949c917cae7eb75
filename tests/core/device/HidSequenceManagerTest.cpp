#include "core/device/HidSequenceManager.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/MessageLevelKorva.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

namespace korva
{

using namespace korva::test;

namespace
{
juce::MemoryBlock status (std::initializer_list<int> values)
{
    return bytesOf (values);
}

struct Sequencer : ::testing::Test
{
    TempFolder tmp;
    RecordingListener listener;
    HidSequenceManager manager;
    MessageLevelKorva korva { manager };

    void SetUp() override
    {
        manager.setTransport (&korva);
        manager.setProjectSide (ProjectDataManager::getInstance());
        manager.addListener (&listener);
        KorvaProjectList::getInstance()->clear();
        ProjectDataManager::getInstance()->dataDirectory = [this] { return tmp / "data"; };
        juce::StringArray ids { "KORVA,/dev/hidraw0,1" };
        manager.onHidConnected (ids);
        ASSERT_TRUE (waitUntil ([&] { return listener.has ("connectionChanged"); }));
        listener.clear();
    }

    void TearDown() override { manager.removeListener (&listener); }

    // Waits for the event, running the message loop (timers and "SendRequest" live there).
    bool waitFor (const std::string& event, int timeoutMs = 5000)
    {
        return runMessageLoopUntil ([&] { return listener.has (event); }, timeoutMs);
    }

    juce::Array<juce::File> savedProjects() const
    {
        return (tmp / "data").findChildFiles (juce::File::findFiles, false, "*.prj");
    }
};

// A device holding one project, answering an import block by block.
struct ImportingDevice
{
    juce::MemoryBlock project;
    int nextBlock = 0;
    std::function<void()> afterHeader;

    std::optional<juce::MemoryBlock> answer (juce::uint8 type, const juce::MemoryBlock& payload)
    {
        if (type != HidSequenceManager::kImportProject)
            return std::nullopt;
        const auto command = static_cast<const juce::uint8*> (payload.getData())[1];
        if (command == 0x02) // abort: the device confirms
            return status ({ 1 });
        if (command == 0x01 && nextBlock == 1 && afterHeader)
            afterHeader();
        const int blocks = (int) project.getSize() / 4096;
        if (nextBlock < blocks)
            return juce::MemoryBlock (static_cast<const char*> (project.getData()) + 4096 * nextBlock++, 4096);
        return status ({ 1 });
    }
};
} // namespace

TEST_F (Sequencer, ImportsAWholeProjectIntoTheDataFolder)
{
    ImportingDevice device { projectFile ("Live", 3), 0, {} };
    korva.answer = [&] (juce::uint8 t, const juce::MemoryBlock& p) { return device.answer (t, p); };

    ProjectDataManager::getInstance()->setProjectName ("Live");
    manager.requestImportProjectData (4);
    ASSERT_TRUE (waitFor ("import 1000"));
    EXPECT_TRUE (listener.has ("importStarted"));
    EXPECT_TRUE (manager.isRequestFinished());

    // start, then one "next" per block received
    const auto sent = korva.sent();
    ASSERT_EQ (sent.size(), 5u);
    EXPECT_EQ (sent[0].second, status ({ 4, 0x00 }));
    EXPECT_EQ (sent[1].second, status ({ 4, 0x01 }));

    const auto files = savedProjects();
    ASSERT_EQ (files.size(), 1);
    juce::MemoryBlock saved;
    files[0].loadFileAsData (saved);
    EXPECT_EQ (saved, device.project);
    EXPECT_TRUE (files[0].getFileName().startsWith ("Live_"));
}

TEST_F (Sequencer, CancelledImportSavesNothing)
{
    ImportingDevice device { projectFile ("Live", 3), 0, {} };
    device.afterHeader = [&] { manager.requestCancel(); };
    korva.answer = [&] (juce::uint8 t, const juce::MemoryBlock& p) { return device.answer (t, p); };

    manager.requestImportProjectData (2);
    ASSERT_TRUE (waitFor ("import 1000"));
    EXPECT_TRUE (savedProjects().isEmpty());
    EXPECT_EQ (korva.sent().back().second, status ({ 2, 0x02 })); // the abort command
}

TEST_F (Sequencer, AnIncompleteImportIsAFailureNotASuccess)
{
    // The header announces 3 patterns; the device sends one and says it is done.
    auto project = projectFile ("Short", 3);
    project.setSize (4096 * 2);
    ImportingDevice device { project, 0, {} };
    korva.answer = [&] (juce::uint8 t, const juce::MemoryBlock& p) { return device.answer (t, p); };

    manager.requestImportProjectData (1);
    ASSERT_TRUE (waitFor ("import 1002"));
    EXPECT_TRUE (savedProjects().isEmpty());
}

TEST_F (Sequencer, AShortBlockAbortsTheImport)
{
    std::atomic<int> step { 0 };
    korva.answer = [&] (juce::uint8, const juce::MemoryBlock&) -> std::optional<juce::MemoryBlock> {
        if (step++ == 0)
            return projectHeader ("X", 1);
        if (step == 2)
            return juce::MemoryBlock (patternBlock (1).getData(), 4095);
        return status ({ 1 }); // the device confirms the abort
    };
    manager.requestImportProjectData (0);
    ASSERT_TRUE (waitFor ("import 1001"));
    // The device's status that confirms the abort ends the request: the
    // failure was told once, and is not told again.
    ASSERT_TRUE (runMessageLoopUntil ([&] { return step == 3 && manager.getRequestor().isIdle(); }));
    EXPECT_FALSE (listener.has ("import 1002"));
    EXPECT_EQ (korva.sent().back().second, status ({ 0, 0x02 }));
    EXPECT_TRUE (savedProjects().isEmpty());
}

TEST_F (Sequencer, ExportsAProjectBlockByBlock)
{
    const auto file = tmp / "Live.prj";
    const auto project = projectFile ("Live", 3);
    file.replaceWithData (project.getData(), project.getSize());

    korva.answer = [] (juce::uint8, const juce::MemoryBlock&) { return std::optional (status ({ 1 })); };
    manager.requestQueryExportableProject (file, 3);
    ASSERT_TRUE (waitFor ("export 1000"));
    EXPECT_TRUE (listener.has ("exportStarted"));
    EXPECT_FALSE (listener.has ("queryExport 1000")); // only refusals are reported

    const auto sent = korva.sent();
    ASSERT_EQ (korva.count (HidSequenceManager::kExportProject), 3 + 2); // header, 3 blocks, end
    EXPECT_EQ (sent[0], (std::pair<juce::uint8, juce::MemoryBlock> (0x04, status ({ 0, 3 }))));
    juce::MemoryBlock received;
    for (size_t i = 1; i + 1 < sent.size(); ++i)
        received.append (sent[i].second.getData(), sent[i].second.getSize());
    EXPECT_EQ (received, project);
    EXPECT_EQ (sent.back().second, status ({ 0x00 }));
}

TEST_F (Sequencer, ExportCancelAndReadFailureBothAbort)
{
    const auto project = projectFile ("Live", 3);
    struct Case
    {
        bool cancel;
        size_t fileSize;
        const char* outcome;
    };
    for (const auto& c : { Case { true, project.getSize(), "export 1000" }, Case { false, 4096 * 2, "export 1002" } })
    {
        listener.clear();
        const auto file = tmp / "Export.prj";
        file.replaceWithData (project.getData(), c.fileSize); // a short file lacks blocks 2 and 3
        int statuses = 0;
        korva.answer = [&] (juce::uint8 type, const juce::MemoryBlock&) {
            if (type == HidSequenceManager::kExportProject && ++statuses == 2 && c.cancel)
                manager.requestCancel();
            return std::optional (status ({ 1 }));
        };
        const int before = korva.count (HidSequenceManager::kExportProject);
        manager.requestQueryExportableProject (file, 3);
        ASSERT_TRUE (waitFor (c.outcome)) << c.outcome;
        EXPECT_EQ (korva.sent().back().second, status ({ 0x01 })) << c.outcome;
        EXPECT_LT (korva.count (HidSequenceManager::kExportProject) - before, 5);
        EXPECT_EQ (listener.has ("readProjectFileError"), ! c.cancel);
    }
}

TEST_F (Sequencer, DeleteFollowsProgressAndPolls)
{
    int answers = 0;
    korva.answer = [&] (juce::uint8, const juce::MemoryBlock&) {
        switch (answers++)
        {
            case 0: return std::optional (status ({ 1, 50 }));
            case 1: return std::optional (status ({ 1, 40 }));
            default: return std::optional (status ({ 3 }));
        }
    };
    manager.requestDeleteProject (9);
    ASSERT_TRUE (waitFor ("delete 1000"));
    EXPECT_TRUE (listener.has ("deleteStarted"));
    EXPECT_DOUBLE_EQ (manager.getRequestProgress(), 0.5); // never goes backwards
    const auto sent = korva.sent();
    ASSERT_EQ (sent.size(), 3u);
    EXPECT_EQ (sent[0].second, status ({ 0, 9 }));
    EXPECT_EQ (sent[1].second, status ({ 1 }));
    EXPECT_EQ (sent[2].second, status ({ 1 }));
}

TEST_F (Sequencer, RenameSendsTheNameNulTerminated)
{
    korva.answer = [] (juce::uint8, const juce::MemoryBlock&) { return std::optional (status ({ 3 })); };
    manager.requestRenameProject (5, "Live");
    ASSERT_TRUE (waitFor ("rename 1000"));
    const auto payload = korva.sent()[0].second;
    ASSERT_EQ (payload.getSize(), 35u);
    EXPECT_EQ (juce::MemoryBlock (payload.getData(), 7), bytesOf ({ 0, 5, 'L', 'i', 'v', 'e', 0 }));
}

TEST_F (Sequencer, AnswersAreInterpretedWithTheirResultCodes)
{
    struct Case
    {
        juce::uint8 type;
        juce::MemoryBlock reply;
        std::string event;
    };
    const auto longBlock = juce::MemoryBlock (4097, true);
    const std::vector<Case> cases {
        { 0x00, projectInfo ({ { 0, 5, "Live" } }, 7, 1019, 0), "projectInfo 1000 1" },
        { 0x00, projectInfo ({}, 7, 1019, 0), "projectInfo 1000 1" },
        { 0x00, status ({ 2 }), "projectInfo 2005 0" },
        { 0x00, status ({ 7 }), "projectInfo 1002 0" },
        { 0x00, status ({ 1, 2 }), "projectInfo 1001 0" },
        { 0x00, status ({ 1, 2, 3, 4 }), "projectInfo 1001 0" },
        { 0x00, juce::MemoryBlock(), "projectInfo 1001 0" },
        { 0x01, status ({ 0 }), "delete 1003" },
        { 0x01, status ({ 2 }), "delete 2005" },
        { 0x01, status ({ 9 }), "delete 1002" },
        { 0x01, status ({ 3, 0, 0 }), "delete 1001" },
        { 0x02, status ({ 0 }), "rename 1003" },
        { 0x04, status ({ 0 }), "queryExport 2001" },
        { 0x04, status ({ 2 }), "queryExport 2005" },
        { 0x04, status ({ 5 }), "queryExport 1002" },
        { 0x04, status ({ 1, 1 }), "queryExport 1001" },
        { 0x30, juce::MemoryBlock (20, true), "patternInfo 1000" },
        { 0x30, juce::MemoryBlock (19, true), "patternInfo 1001" },
        { 0x31, juce::MemoryBlock (4095, true), "importPattern 1001" },
        { 0x32, status ({ 2 }), "queryExportPattern 2006" },
        { 0x32, status ({ 3 }), "queryExportPattern 2007" },
        { 0x32, status ({ 0 }), "queryExportPattern 1002" },
        { 0x32, juce::MemoryBlock(), "queryExportPattern 1001" },
        { 0x33, status ({ 1 }), "exportPattern 1000" },
        { 0x33, status ({ 0 }), "exportPattern 1003" },
        { 0x33, status ({ 4 }), "exportPattern 1002" },
        { 0x33, longBlock, "exportPattern 1001" },
        { 0x80, juce::MemoryBlock (100, true), "received 1001" },
    };

    for (const auto& c : cases)
    {
        listener.clear();
        KorvaProjectList::getInstance()->clear();
        korva.answer = [&] (juce::uint8, const juce::MemoryBlock&) { return std::optional (c.reply); };
        // Deliver the answer as if the device had sent it for a request of this type.
        switch (c.type)
        {
            case 0x00: manager.requestGetProjectInfo(); break;
            case 0x01: manager.requestDeleteProject (1); break;
            case 0x02: manager.requestRenameProject (1, "x"); break;
            case 0x04: manager.requestQueryExportableProject (tmp / "none.prj", 1); break;
            case 0x30: manager.requestGetPatternInfo(); break;
            case 0x31: manager.requestImportPatternData(); break;
            case 0x32: manager.requestQueryExportablePattern (tmp / "x.mid"); break;
            case 0x33: manager.getRequestor().setReservation (0x33, juce::MemoryBlock (4096, true), 1); break;
            case 0x80:
            {
                juce::MemoryBlock data (c.reply);
                manager.onHidRecvStarted();
                manager.onHidRecvCompleted (HidDeviceManager::kSuccess, c.type, data);
                break;
            }
        }
        EXPECT_TRUE (waitFor (c.event, 3000)) << "type " << (int) c.type << " expected " << c.event;
    }
}

TEST_F (Sequencer, ProjectInfoUpdatesTheListAndTheFigures)
{
    const auto info = projectInfo ({ { 0, 5, "Live" } }, 7, 1019, 0);
    korva.answer = [&] (juce::uint8, const juce::MemoryBlock&) { return std::optional (info); };
    manager.requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1000 1"));
    auto* projects = ProjectDataManager::getInstance();
    EXPECT_EQ (projects->remainingProjectCapacity.load(), 7);
    EXPECT_EQ (projects->remainingPatternCapacity.load(), 1019);
    EXPECT_EQ (projects->currentProjectIndex.load(), 0);

    manager.requestGetProjectInfo(); // the same answer again: unchanged
    ASSERT_TRUE (waitFor ("projectInfo 1000 0"));

    // n says 2 records but only one fits: refused, the list stays.
    auto lying = info;
    static_cast<juce::uint8*> (lying.getData())[0] = 2;
    korva.answer = [&] (juce::uint8, const juce::MemoryBlock&) { return std::optional (lying); };
    manager.requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1002 0"));
    EXPECT_EQ (KorvaProjectList::getInstance()->getNumRows(), 1);
}

// A sequencer given no project side (a tool or test that wires none)
// answers as with no data folder: the list is not kept, an import fails and
// says why, a pushed project is not stored; nothing crashes.
TEST_F (Sequencer, WithoutAProjectSideNothingIsListedOrSaved)
{
    manager.setProjectSide (nullptr);

    korva.answer = [] (juce::uint8, const juce::MemoryBlock&) {
        return std::optional (projectInfo ({ { 0, 5, "Live" } }, 7, 1019, 0));
    };
    manager.requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1000 0"));
    EXPECT_EQ (KorvaProjectList::getInstance()->getNumRows(), 0);

    ImportingDevice device { projectFile ("Live", 1), 0, {} };
    korva.answer = [&] (juce::uint8 t, const juce::MemoryBlock& p) { return device.answer (t, p); };
    manager.requestImportProjectData (0);
    ASSERT_TRUE (waitFor ("import 1002"));
    EXPECT_EQ (manager.getLocalFailure().reason(), "No data folder is chosen");
    EXPECT_EQ (korva.sent().back().second, status ({ 0, 0x02 })); // the abort

    juce::MemoryBlock pushed (projectHeader ("Pushed", 0));
    manager.onHidRecvStarted();
    manager.onHidRecvCompleted (HidDeviceManager::kSuccess, HidSequenceManager::kPushedProject, pushed);
    ASSERT_TRUE (waitFor ("received 1002"));
    EXPECT_TRUE (savedProjects().isEmpty());
}

TEST_F (Sequencer, HigherPriorityDisplacesAWaitingRequestAndEqualIsDropped)
{
    juce::WaitableEvent release;
    korva.answer = [&] (juce::uint8 type, const juce::MemoryBlock&) -> std::optional<juce::MemoryBlock> {
        if (type == HidSequenceManager::kRenameProject)
        {
            release.wait (5000); // keeps the rename in progress while the test queues more
            return status ({ 3 });
        }
        if (type == HidSequenceManager::kDeleteProject)
            return status ({ 3 });
        return projectInfo ({}, 1, 1, 0);
    };

    manager.requestRenameProject (1, "busy");
    ASSERT_TRUE (waitUntil ([&] { return korva.count (HidSequenceManager::kRenameProject) == 1; }));
    manager.requestGetProjectInfo();
    manager.requestGetProjectInfo(); // equal priority: dropped
    ASSERT_TRUE (waitUntil ([&] { return manager.getRequestor().getReservedType() == 0x00; }));
    manager.requestDeleteProject (2); // displaces the waiting list request
    ASSERT_TRUE (waitUntil ([&] { return manager.getRequestor().getReservedType() == 0x01; }));
    release.signal();

    ASSERT_TRUE (waitFor ("delete 1000"));
    runMessageLoopFor (200);
    EXPECT_EQ (korva.count (HidSequenceManager::kProjectInfo), 0);
}

TEST_F (Sequencer, ASilentDeviceGetsTheFirmwareMessageOnceAndASendFailureDoesNot)
{
    manager.setVersionTimeout (200);
    korva.answer = nullptr; // acknowledges, never answers
    manager.requestGetVersionInfo();
    ASSERT_TRUE (waitFor ("version 2004"));
    runMessageLoopFor (100);
    EXPECT_EQ (listener.count ("version 2004"), 1);

    listener.clear();
    korva.sendResult = HidDeviceManager::kSendStartAckTimeout;
    manager.requestGetVersionInfo();
    ASSERT_TRUE (waitFor ("sendError 129 3"));
    runMessageLoopFor (500);
    EXPECT_FALSE (listener.has ("version 2004"));
}

// ... and leaves no start behind: the poll that does go out next is no
// delete starting (the page would open its "Deleting..." window).
TEST_F (Sequencer, ARefusedSendEndsTheRequestInsteadOfBlockingTheQueue)
{
    korva.refuse = true;
    manager.requestDeleteProject (3);
    ASSERT_TRUE (waitFor ("sendError 1 2"));

    korva.refuse = false;
    korva.answer = [] (juce::uint8, const juce::MemoryBlock&) { return std::optional (projectInfo ({}, 1, 1, 0)); };
    manager.requestGetProjectInfo();
    EXPECT_TRUE (waitFor ("projectInfo 1000 1"));
    EXPECT_TRUE (deliverPostedMessages());
    EXPECT_FALSE (listener.has ("deleteStarted"));
}

TEST_F (Sequencer, ADeviceThatStopsAnsweringEndsTheRequest)
{
    manager.setReplyTimeout (300);
    korva.answer = nullptr;
    manager.requestDeleteProject (3);
    ASSERT_TRUE (waitFor ("receiveError 1 9"));
    EXPECT_TRUE (manager.isRequestFinished());
    EXPECT_EQ (manager.getRequestor().getInFlightType(), HidSequenceRequestor::kNone);
}

// A KORVA that leaves three exchanges in a row unanswered (a hung firmware)
// is not usable: isConnected turns false, with one connectionChanged. The
// sequencer then asks it for its list every probe period by itself, and the
// first answer makes it usable again. An answer in between starts the count
// afresh; an unplug forgets it.
TEST_F (Sequencer, AKorvaThatStopsAnsweringIsNotUsableUntilItAnswersAgain)
{
    manager.setReplyTimeout (100);
    manager.setProbePeriod (50);
    const auto list = [] (juce::uint8, const juce::MemoryBlock&) { return std::optional (projectInfo ({}, 1, 1, 0)); };
    const auto unanswered = [&] (int n) {
        for (int i = 0; i < n; ++i)
        {
            const int before = listener.count ("receiveError 0 9");
            manager.requestGetProjectInfo();
            EXPECT_TRUE (runMessageLoopUntil ([&] { return listener.count ("receiveError 0 9") > before; }));
        }
    };

    // Two failures, an answer, two more: still usable.
    korva.answer = nullptr;
    unanswered (2);
    korva.answer = list;
    manager.requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1000 1"));
    korva.answer = nullptr;
    unanswered (2);
    EXPECT_TRUE (manager.isConnected());
    EXPECT_FALSE (listener.has ("connectionChanged"));

    // The third in a row.
    unanswered (1);
    ASSERT_TRUE (waitFor ("connectionChanged"));
    EXPECT_FALSE (manager.isConnected());
    EXPECT_TRUE (manager.isPresent());
    EXPECT_FALSE (manager.isResponding());
    EXPECT_EQ (listener.count ("connectionChanged"), 1);

    // Nobody asks; the sequencer keeps asking for the list by itself.
    const int asked = korva.count (HidSequenceManager::kProjectInfo);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return korva.count (HidSequenceManager::kProjectInfo) >= asked + 3; }));
    EXPECT_EQ (listener.count ("connectionChanged"), 1);

    korva.answer = list;
    ASSERT_TRUE (runMessageLoopUntil ([&] { return manager.isConnected(); }));
    EXPECT_EQ (listener.count ("connectionChanged"), 2);
    EXPECT_TRUE (manager.isResponding());
    // ... and stops asking.
    EXPECT_TRUE (waitUntilAtRest (manager));
    const int settled = korva.count (HidSequenceManager::kProjectInfo);
    runMessageLoopFor (200);
    EXPECT_EQ (korva.count (HidSequenceManager::kProjectInfo), settled);

    // Silent again, then unplugged and plugged in: a fresh start.
    korva.answer = nullptr;
    unanswered (3);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! manager.isConnected(); }));
    juce::StringArray ids { "KORVA,/dev/hidraw0,1" };
    manager.onHidDisconnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! manager.isPresent(); }));
    manager.onHidConnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return manager.isConnected(); }));
    EXPECT_TRUE (manager.isResponding());
}

// Unplugged, the transport cancels the transfer it was in and tells of that
// before the device's going reaches the sequencer, or after, or not at all
// (nothing was under way in it): in every order the import ends, the user is
// told once, as when a device stops answering, and no file is left.
TEST_F (Sequencer, DisconnectingDuringAnImportEndsItWithOneError)
{
    enum class Cancel
    {
        none,
        receiveBefore,
        sendBefore,
        receiveAfter
    };
    std::atomic<bool> headerSent { false };
    korva.answer = [&] (juce::uint8, const juce::MemoryBlock&) -> std::optional<juce::MemoryBlock> {
        if (headerSent.exchange (true))
            return std::nullopt; // gone silent
        return projectHeader ("X", 2);
    };
    juce::StringArray ids;
    juce::MemoryBlock partial (100, true);
    const auto cancelled = [&] (Cancel which) {
        if (which == Cancel::receiveBefore || which == Cancel::receiveAfter)
            manager.onHidRecvCompleted (HidDeviceManager::kCanceled, HidSequenceManager::kImportProject, partial);
        else if (which == Cancel::sendBefore)
            manager.onHidSendCompleted (HidDeviceManager::kCanceled);
    };

    for (const auto which : { Cancel::none, Cancel::receiveBefore, Cancel::sendBefore, Cancel::receiveAfter })
    {
        SCOPED_TRACE (static_cast<int> (which));
        headerSent = false;
        const auto sentBefore = korva.sent().size();
        manager.requestImportProjectData (0);
        ASSERT_TRUE (waitFor ("importStarted"));
        ASSERT_TRUE (waitUntil ([&] { return korva.sent().size() == sentBefore + 2; }));

        if (which != Cancel::receiveAfter)
            cancelled (which);
        manager.onHidDisconnected (ids);
        if (which == Cancel::receiveAfter)
            cancelled (which);
        ASSERT_TRUE (waitFor ("connectionChanged"));
        runMessageLoopUntil ([] { return false; }, 200); // a late second report would come meanwhile

        EXPECT_FALSE (manager.isConnected());
        EXPECT_TRUE (manager.isRequestFinished());
        EXPECT_EQ (manager.getRequestor().getInFlightType(), HidSequenceRequestor::kNone);
        EXPECT_EQ (listener.count ("receiveError 3 9"), 1);
        EXPECT_EQ (listener.count ("import 1000"), 0);
        EXPECT_TRUE (savedProjects().isEmpty());

        listener.clear();
        manager.onHidConnected (ids);
        ASSERT_TRUE (waitFor ("connectionChanged"));
        listener.clear();
    }
}

// Unplugging while a poll or a cancelled transfer waits for its answer
// reports nothing: the poll is repeated on the next connection, and the
// transfer was given up by the user.
TEST_F (Sequencer, DisconnectingDuringAPollOrACancelledImportReportsNothing)
{
    korva.answer = [] (juce::uint8, const juce::MemoryBlock&) { return std::optional<juce::MemoryBlock>(); };
    juce::StringArray ids;

    manager.requestGetProjectInfo();
    ASSERT_TRUE (waitUntil ([&] { return korva.sent().size() == 1; }));
    manager.onHidDisconnected (ids);
    ASSERT_TRUE (waitFor ("connectionChanged"));

    manager.onHidConnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.count ("connectionChanged") == 2; }));
    manager.requestImportProjectData (1);
    ASSERT_TRUE (waitFor ("importStarted"));
    manager.requestCancel(); // taken up on the sequencer's thread before the disconnect
    manager.onHidDisconnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.count ("connectionChanged") == 3; }));

    for (const auto& event : listener.events())
        EXPECT_EQ (event.find ("Error"), std::string::npos) << event;
}

TEST_F (Sequencer, TransportFailuresReachTheListeners)
{
    juce::MemoryBlock nothing;
    manager.requestGetPatternInfo();
    ASSERT_TRUE (waitUntil ([&] { return korva.sent().size() == 1; }));
    manager.onHidRecvCompleted (HidDeviceManager::kRecvDataTimeout, 0x30, nothing);
    EXPECT_TRUE (waitFor ("receiveError 48 9"));
}

TEST_F (Sequencer, CancelOutsideProjectTransfersDoesNothing)
{
    korva.answer = [] (juce::uint8, const juce::MemoryBlock&) { return std::optional (juce::MemoryBlock (20, true)); };
    manager.requestGetPatternInfo();
    manager.requestCancel();
    EXPECT_TRUE (waitFor ("patternInfo 1000"));
}

TEST (HidSequenceRequestorConcurrency, ReservingClearingAndTakingOverRace)
{
    // Each reservation's payload names its type, so a request taken over
    // halfway through a change of reservation shows as a mismatch.
    std::atomic<int> sentCount { 0 };
    std::atomic<int> mismatches { 0 };
    HidSequenceRequestor requestor (
        [&] (juce::uint8 type, const juce::MemoryBlock& payload) {
            if (payload.getSize() != 1 || (juce::uint8) payload[0] != type)
                ++mismatches;
            ++sentCount;
            return true;
        },
        nullptr);

    std::atomic<bool> stop { false };
    std::thread reserver ([&] {
        for (int i = 0; ! stop; ++i)
        {
            requestor.setReservation ((juce::uint8) (i % 3), bytesOf ({ i % 3 }), i % 3);
            juce::Thread::sleep (1);
        }
    });
    std::thread releaser ([&] {
        while (! stop)
        {
            requestor.release();
            juce::Thread::sleep (3);
        }
    });
    for (int i = 0; i < 300; ++i)
    {
        requestor.clearReservation();
        juce::Thread::sleep (1);
    }
    stop = true;
    reserver.join();
    releaser.join();

    // Whatever the race left behind, the next reservation still goes out
    // (once a take-over that was under way has finished).
    requestor.clearReservation();
    juce::Thread::sleep (3 * HidSequenceRequestor::kPacingMs);
    requestor.release();
    const int before = sentCount.load();
    requestor.setReservation (2, bytesOf ({ 2 }), 2);
    EXPECT_TRUE (waitUntil ([&] { return sentCount.load() > before; }, 2000));
    EXPECT_EQ (mismatches.load(), 0);
}

} // namespace korva
