// The rules of a run that copies every project of the KORVA, without a KORVA:
// each test plays the sequencer's side, putting what "arrived" where an
// import is assembled and telling the run how the import ended.

#include "core/device/HidSequenceManager.h"
#include "core/device/ProjectBackup.h"
#include "core/projects/ProjectDataManager.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace korva
{

using namespace korva::test;

namespace
{
struct ProjectBackupRun : ::testing::Test
{
    TempFolder tmp;
    ProjectDataManager projects;
    juce::File folder = tmp / "backup";
    const std::vector<ProjectListRow> rows { { 4, "Live", 2, {} }, { 9, "Demo", 0, {} }, { 2, "Ballad", 1, {} } };

    // An import as the sequencer does it: assembled where the run said, then named.
    void arrive (const juce::MemoryBlock& bytes)
    {
        infra::FileFailure failure;
        const auto file = projects.beginImport (failure);
        ASSERT_FALSE (failure.failed()) << failure.reason();
        ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
        ASSERT_NE (projects.finishImport (file, failure), juce::File()) << failure.reason();
    }
};

juce::MemoryBlock damaged (juce::MemoryBlock bytes, size_t size)
{
    bytes.setSize (size, true);
    return bytes;
}
} // namespace

// What arrives is checked against the KORVA's list before it is kept; a
// refusal or a damaged copy is told and the run goes on.
TEST_F (ProjectBackupRun, EachCopyIsCheckedAndOneFailureDoesNotStopTheRun)
{
    ProjectBackup run (projects, rows, folder);
    EXPECT_EQ (ProjectBackup::describe (run.getProgress (0.0)), "0 of 3:  (0 KB of 24 KB)");

    ASSERT_EQ (run.startNext()->index, 4);
    EXPECT_EQ (ProjectBackup::describe (run.getProgress (0.5)), "1 of 3: Live (6 KB of 24 KB)");
    arrive (damaged (projectFile ("Live", 2), 4096 * 2)); // a pattern block short
    run.importEnded (HidSequenceManager::kResultOK, {});

    ASSERT_EQ (run.startNext()->index, 9);
    run.importEnded (HidSequenceManager::kResultBusy, {});

    ASSERT_EQ (run.startNext()->index, 2);
    arrive (projectFile ("Ballad", 1));
    run.importEnded (HidSequenceManager::kResultOK, {});
    EXPECT_FALSE (run.startNext().has_value());
    EXPECT_TRUE (run.isOver());

    const auto& entries = run.getEntries();
    EXPECT_EQ (entries[0].failure, "the copy from KORVA is damaged: 8192 bytes instead of 12288 for 2 patterns");
    EXPECT_EQ (entries[1].failure, "KORVA is busy.");
    ASSERT_EQ (entries[2].result, ProjectBackup::Result::kCopied);
    EXPECT_EQ (entries[2].file.getParentDirectory(), folder);
    juce::MemoryBlock kept;
    ASSERT_TRUE (entries[2].file.loadFileAsData (kept));
    EXPECT_EQ (kept, projectFile ("Ballad", 1));
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1); // the staging folder is gone

    EXPECT_EQ (run.summary(), "Imported 1 of 3 projects into " + folder.getFullPathName()
                                  + ".\n002 Ballad: " + entries[2].file.getFileName()
                                  + "\nNot imported:\n004 Live: the copy from KORVA is damaged: 8192 bytes instead of "
                                    "12288 for 2 patterns\n009 Demo: KORVA is busy.");
}

// The project the KORVA is using is never asked for, as a single import
// never asks for it, nor a number the program does not act on (above 127):
// the message names them, and the run is no less complete for it.
TEST_F (ProjectBackupRun, TheProjectInUseAndNumbersAbove127AreNeverAskedFor)
{
    projects.currentProjectIndex = 9;
    auto all = rows;
    all.push_back ({ 130, "Far", 0, {} });
    ProjectBackup run (projects, all, folder);
    EXPECT_EQ (ProjectBackup::describe (run.getProgress (0.0)), "0 of 2:  (0 KB of 20 KB)");

    ASSERT_EQ (run.startNext()->index, 4);
    EXPECT_EQ (ProjectBackup::describe (run.getProgress (0.0)), "1 of 2: Live (0 KB of 20 KB)");
    arrive (projectFile ("Live", 2));
    run.importEnded (HidSequenceManager::kResultOK, {});
    ASSERT_EQ (run.startNext()->index, 2);
    EXPECT_EQ (ProjectBackup::describe (run.getProgress (0.0)), "2 of 2: Ballad (12 KB of 20 KB)");
    arrive (projectFile ("Ballad", 1));
    run.importEnded (HidSequenceManager::kResultOK, {});
    EXPECT_FALSE (run.startNext().has_value());

    EXPECT_TRUE (run.isComplete());
    const auto& entries = run.getEntries();
    EXPECT_EQ (entries[1].result, ProjectBackup::Result::kSkipped);
    EXPECT_EQ (entries[3].result, ProjectBackup::Result::kSkipped);
    EXPECT_EQ (run.summary(), "Imported 2 of 4 projects into " + folder.getFullPathName() + ".\n004 Live: "
                                  + entries[0].file.getFileName() + "\n002 Ballad: " + entries[2].file.getFileName()
                                  + "\nNot imported:\n009 Demo: in use on the KORVA, not imported"
                                    "\n130 Far: a project number above 127, not imported");
}

// The computer cannot take a project: the next ones would fare no better.
// The failure names the folder the user chose, not the staging folder in it.
TEST_F (ProjectBackupRun, AFolderThatTakesNoProjectStopsTheRun)
{
    ProjectBackup run (projects, rows, folder);
    ASSERT_TRUE (run.startNext().has_value());
    const auto staging = folder.getChildFile (ProjectBackup::kStagingFolderName);
    run.importEnded (HidSequenceManager::kResultOK, { staging, ENOSPC, {} });

    EXPECT_FALSE (run.startNext().has_value());
    const auto why = "Could not save the project in " + folder.getFullPathName() + ": No space left on device.";
    EXPECT_EQ (run.getEntries()[0].failure, why);
    EXPECT_EQ (run.getStopReason(), why);
    EXPECT_TRUE (run.summary().endsWith ("\nStopped: " + why + " 2 projects were not imported.")) << run.summary();
    EXPECT_FALSE (staging.exists());

    // The folder itself cannot be made: nothing is asked of the KORVA.
    const auto blocked = tmp / "a file";
    ASSERT_TRUE (blocked.create());
    ProjectBackup nowhere (projects, rows, blocked.getChildFile ("backup"));
    EXPECT_FALSE (nowhere.startNext().has_value());
    EXPECT_EQ (nowhere.countOf (ProjectBackup::Result::kNotTried), 3);
    EXPECT_TRUE (nowhere.getStopReason().startsWith ("Could not save the project in ")) << nowhere.getStopReason();
}

} // namespace korva
