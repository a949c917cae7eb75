// What the user is told when the computer's side fails, each on a real
// failure: a data folder that fills up during an import (a tiny tmpfs), one
// mounted read-only, and a folder and a file the user may not write (the
// korva tool run as another user: root ignores permissions). The messages
// name the folder or file and the system's reason, nothing half-written is
// left, and the files that were there are untouched.

#include "tests/filesystems/PrivateMounts.h"
#include "tests/gui/pages/ProjectPageFixture.h"
#include "tests/tools/KorvaToolFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace korva
{

using namespace korva::test;

namespace
{
// A user of no account, as root makes it with setpriv.
constexpr uid_t kUser = 65534;
constexpr gid_t kGroup = 65534;

enum class Failing
{
    kFull,     // a tmpfs with no room left for the project
    kReadOnly, // mounted read-only
    kNotOurs   // root's, and the process runs as another user
};

const char* reasonOf (Failing failing)
{
    switch (failing)
    {
        case Failing::kFull:
            return "No space left on device";
        case Failing::kReadOnly:
            return "Read-only file system";
        case Failing::kNotOurs:
            return "Permission denied";
    }
    return "";
}

// Makes `folder` fail as asked, holding `keep` (a file that must stay as it
// is) with `bytes`. The returned mount undoes it.
std::optional<ScopedMount> makeFailing (Failing failing, const juce::File& folder, const juce::File& keep,
                                        const Bytes& bytes, int room)
{
    std::optional<ScopedMount> mount;
    if (failing == Failing::kFull)
        mount.emplace (ScopedMount::tmpfs (folder, room));
    if (!keep.replaceWithData (bytes.data(), bytes.size()))
        ADD_FAILURE() << "cannot write " << keep.getFullPathName();
    if (failing == Failing::kReadOnly)
        mount.emplace (ScopedMount::readOnly (folder));
    if (mount.has_value() && !mount->ok())
        ADD_FAILURE() << mount->error();
    return mount;
}

const Bytes kKept (4096, 0x5A);

//==============================================================================
struct KorvaToolOnFailingDisks : KorvaDeviceTool
{
    void SetUp() override
    {
        KORVA_REQUIRE_PRIVATE_MOUNTS();
        KorvaDeviceTool::SetUp();
    }

    // The tool, as root or as the other user (who owns its home and working folder).
    ProcessResult korvaAs (bool otherUser, const std::vector<std::string>& args) const
    {
        if (!otherUser)
            return korva (args);
        std::vector<std::string> command{"--reuid=" + std::to_string (kUser), "--regid=" + std::to_string (kGroup),
                                         "--clear-groups", "--", KORVA_TOOL_BINARY};
        command.insert (command.end(), args.begin(), args.end());
        return runProcess ("/usr/bin/setpriv", command, work, 30000, environment());
    }

    // Hands the home, the working folder and the folder of virtual devices
    // (which must be the user's own) to the other user.
    void handOver() const
    {
        ASSERT_EQ (::chmod (root.get().getFullPathName().toRawUTF8(), 0755), 0);
        for (const auto& folder : {home, work, devices})
        {
            if (!folder.exists())
                continue; // no virtual KORVA
            ASSERT_EQ (::chown (folder.getFullPathName().toRawUTF8(), kUser, kGroup), 0);
            for (const auto& entry :
                 juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFilesAndDirectories))
                ASSERT_EQ (::lchown (entry.getFile().getFullPathName().toRawUTF8(), kUser, kGroup), 0);
        }
    }
};

// korva pull into a data folder that cannot take the project: the folder
// and the reason, and the folder as it was.
TEST_F (KorvaToolOnFailingDisks, APullTheDataFolderCannotTakeNamesItAndLeavesItAsItWas)
{
    startSim();
    for (const auto failing : {Failing::kFull, Failing::kReadOnly, Failing::kNotOurs})
    {
        SCOPED_TRACE (reasonOf (failing));
        ASSERT_TRUE (dataFolder().createDirectory());
        const auto kept = dataFolder().getChildFile ("Kept_20260101_120000.prj");
        {
            // Room for the kept file and the header of "Night Drive" (5 patterns), no more.
            const auto mount = makeFailing (failing, dataFolder(), kept, kKept, 2 * 4096);
            if (failing == Failing::kNotOurs)
            {
                handOver();
                // Only the data folder is root's.
                ASSERT_EQ (::chown (dataFolder().getFullPathName().toRawUTF8(), 0, 0), 0);
                ASSERT_EQ (::chown (kept.getFullPathName().toRawUTF8(), 0, 0), 0);
            }

            const ProcessResult r = korvaAs (failing == Failing::kNotOurs, {"pull", "2"});
            EXPECT_EQ (r.exitCode, 1);
            EXPECT_EQ (r.err, "korva: Could not save the project in " + dataFolder().getFullPathName().toStdString() +
                                  ": " + reasonOf (failing) + ".\n");
            EXPECT_EQ (r.out, "");
            EXPECT_EQ (namesIn (dataFolder()), juce::StringArray{kept.getFileName()});
            EXPECT_EQ (bytesOfFile (kept), kKept);
        }
        EXPECT_TRUE (namesIn (tempFolder()).isEmpty()) << namesIn (tempFolder()).joinIntoString (" ");
        ASSERT_TRUE (dataFolder().deleteRecursively());
    }

    // The KORVA was left ready: the same pull, into a folder the user may write, works.
    const ProcessResult again = korvaAs (true, {"pull", "2"});
    EXPECT_EQ (again.exitCode, 0) << again.err;
    EXPECT_EQ (namesIn (dataFolder()).size(), 1) << again.out;
}

// korva rename-file on a file that cannot be written: the file and the
// reason, and the file unchanged.
TEST_F (KorvaToolOnFailingDisks, RenamingAFileThatCannotBeWrittenNamesItAndChangesNothing)
{
    const auto folder = work.getChildFile ("projects");
    const auto file = folder.getChildFile ("song.prj");
    const auto image = projectFile ("Song", 1);
    const Bytes bytes (static_cast<const uint8_t*> (image.getData()),
                       static_cast<const uint8_t*> (image.getData()) + image.getSize());
    for (const auto failing : {Failing::kReadOnly, Failing::kNotOurs})
    {
        SCOPED_TRACE (reasonOf (failing));
        ASSERT_TRUE (folder.createDirectory());
        {
            const auto mount = makeFailing (failing, folder, file, bytes, 0);
            if (failing == Failing::kNotOurs)
            {
                handOver();
                ASSERT_EQ (::chown (file.getFullPathName().toRawUTF8(), 0, 0), 0); // only the file is root's
            }

            const ProcessResult r =
                korvaAs (failing == Failing::kNotOurs, {"rename-file", "projects/song.prj", "Tune"});
            EXPECT_EQ (r.exitCode, 1);
            EXPECT_EQ (r.err, "korva: Could not rename the project in " + file.getFullPathName().toStdString() + ": " +
                                  reasonOf (failing) + ".\n");
            EXPECT_EQ (bytesOfFile (file), bytes);
            EXPECT_EQ (namesIn (folder), juce::StringArray{"song.prj"});
        }
        ASSERT_TRUE (folder.deleteRecursively());
    }
}

//==============================================================================
struct PageOnFailingDisks : Page
{
    void SetUp() override
    {
        KORVA_REQUIRE_PRIVATE_MOUNTS();
        Page::SetUp();
    }
};

// An import into a data folder that fills up or is read-only: the box names
// the folder and the reason, the KORVA is told to stop, and the folder holds
// what it held.
TEST_F (PageOnFailingDisks, AnImportTheDataFolderCannotTakeNamesItAndLeavesItAsItWas)
{
    connectAndList();
    const auto kept = dataFolder().getChildFile ("Kept_20260101_120000.prj");
    for (const auto failing : {Failing::kFull, Failing::kReadOnly})
    {
        SCOPED_TRACE (reasonOf (failing));
        boxes.clear();
        // Room for the kept file and the header of "Live" (2 patterns), no more.
        const auto mount = makeFailing (failing, dataFolder(), kept, kKept, 2 * 4096);
        const int importsBefore = korva.count (HidSequenceManager::kImportProject);
        selectKorva ("Live");
        click (page->getImportButton());

        ASSERT_TRUE (waitForBox());
        ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getProgressWindow() == nullptr; }, 3000));
        ASSERT_TRUE (waitUntilAtRest (sequencer)); // a second box would have come by now
        EXPECT_EQ (boxes, (std::vector<std::pair<juce::String, juce::String>>{
                              {"", "Could not save the project in " + dataFolder().getFullPathName() + ": " +
                                       reasonOf (failing) + "."}}));
        EXPECT_EQ (lastSent (HidSequenceManager::kImportProject), status ({4, 0x02})); // the abort
        // Full: the header went in, the first pattern did not. Read-only: not even the header.
        EXPECT_EQ (korva.count (HidSequenceManager::kImportProject) - importsBefore, failing == Failing::kFull ? 3 : 2);
        EXPECT_EQ (namesIn (dataFolder()), juce::StringArray{kept.getFileName()});
        EXPECT_EQ (bytesOfFile (kept), kKept);
    }
}

// Import all into a data folder that fills up after the first project, or
// is read-only: the run stops at the project that does not fit, naming the
// folder and the reason; what fitted is whole, nothing else is left. (The
// project in use, "Ballad", is never asked for.)
TEST_F (PageOnFailingDisks, ImportAllStopsAtAFullOrReadOnlyDataFolderAndKeepsWhatFitted)
{
    connectAndList();
    const auto kept = dataFolder().getChildFile ("Kept_20260101_120000.prj");
    for (const auto failing : {Failing::kFull, Failing::kReadOnly})
    {
        SCOPED_TRACE (reasonOf (failing));
        boxes.clear();
        // Room for the kept file, "Demo" (a header alone) and one block of "Live", no more.
        const auto mount = makeFailing (failing, dataFolder(), kept, kKept, 3 * 4096);
        ASSERT_TRUE (pickFromKorvaMenu (juce::String::fromUTF8 (ProjectView::kImportAllText)));

        ASSERT_TRUE (waitForBox (20000));
        ASSERT_TRUE (waitUntilAtRest (sequencer));
        ASSERT_EQ (boxes.size(), 1u);
        const auto why = "Could not save the project in " + dataFolder().getFullPathName() + ": " + reasonOf (failing) + ".";
        const auto lines = juce::StringArray::fromLines (boxes[0].second);
        if (failing == Failing::kFull)
        {
            ASSERT_EQ (lines.size(), 5) << boxes[0].second;
            EXPECT_EQ (lines[0], "Imported 1 of 3 projects into " + dataFolder().getFullPathName() + ".");
            EXPECT_EQ (lines[2], "Not imported:");
            EXPECT_EQ (lines[3], "002 Ballad: in use on the KORVA, not imported");
            EXPECT_EQ (lines[4], "004 Live: " + why);
            const auto demo = dataFolder().findChildFiles (juce::File::findFiles, false, "Demo_*.prj");
            ASSERT_EQ (demo.size(), 1);
            const auto sent = projectFile ("Demo", 0);
            const auto* first = static_cast<const std::uint8_t*> (sent.getData());
            EXPECT_EQ (bytesOfFile (demo[0]), Bytes (first, first + sent.getSize()));
            EXPECT_EQ (namesIn (dataFolder()).size(), 2) << namesIn (dataFolder()).joinIntoString (" ");
        }
        else
        {
            EXPECT_EQ (lines, (juce::StringArray{"Imported 0 of 3 projects into " + dataFolder().getFullPathName() + ".",
                                                 "Not imported:", "002 Ballad: in use on the KORVA, not imported",
                                                 "Stopped: " + why + " 2 projects were not imported."}));
            EXPECT_EQ (namesIn (dataFolder()), juce::StringArray{kept.getFileName()});
        }
        EXPECT_EQ (bytesOfFile (kept), kKept);
    }
}

// Renaming and deleting a file of a read-only data folder: the box names the
// file and the reason, and the file stays as it was.
TEST_F (PageOnFailingDisks, RenamingOrDeletingOnAReadOnlyFolderNamesTheFileAndChangesNothing)
{
    writeProject ("Verse_20260101_120000.prj", "Verse", 1);
    ASSERT_TRUE (waitForPcRows ({"Verse"}));
    const auto file = dataFolder().getChildFile ("Verse_20260101_120000.prj");
    const auto before = bytesOfFile (file);
    const auto mount = ScopedMount::readOnly (dataFolder());
    ASSERT_TRUE (mount.ok()) << mount.error();

    selectPc ("Verse");
    renameAnswer = [] (const juce::String&, bool) { return juce::String ("Chorus"); };
    click (page->getPcRenameButton());
    selectPc ("Verse");
    click (page->getPcDeleteButton());

    const auto where = file.getFullPathName();
    EXPECT_EQ (boxes,
               (std::vector<std::pair<juce::String, juce::String>>{
                   {"Rename Project", "Could not rename the project in " + where + ": Read-only file system."},
                   {"Delete Project", "Could not delete the project file " + where + ": Read-only file system."}}));
    EXPECT_EQ (bytesOfFile (file), before);
    EXPECT_EQ (namesIn (dataFolder()), juce::StringArray{file.getFileName()});
}
} // namespace

} // namespace korva
