#include "gui/pages/ProjectListComponents.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

namespace
{
std::vector<juce::String> names (const ProjectList& list)
{
    std::vector<juce::String> texts;
    for (const auto& row : list.getRows())
        texts.push_back (row.name);
    return texts;
}

void writeProject (const juce::File& file, const juce::String& name, int patterns = 0)
{
    file.getParentDirectory().createDirectory();
    const auto bytes = projectFile (name, patterns);
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));
}

struct PcList : ::testing::Test
{
    TempFolder tmp;
    PcProjectList model;

    bool waitForNames (PcProjectListComponent&, const std::vector<juce::String>& expected, int timeoutMs = 4000)
    {
        return runMessageLoopUntil ([&] { return names (model) == expected; }, timeoutMs);
    }
};
} // namespace

TEST_F (PcList, AFolderCreatedLaterIsListedOnceItExists)
{
    const auto folder = tmp / "data";
    PcProjectListComponent list (model, folder);
    runMessageLoopFor (200);
    EXPECT_EQ (model.getNumRows(), 0);

    // The folder appears whole (as a move), with a project and a file of another kind.
    writeProject (tmp / "staging/Live_1.prj", "Live");
    (tmp / "staging/notes.txt").replaceWithText ("not a project");
    ASSERT_TRUE ((tmp / "staging").moveFileTo (folder));

    EXPECT_TRUE (waitForNames (list, { "Live" }));
}

TEST_F (PcList, ANewFileAppearsWithinAboutASecondInNameOrder)
{
    const auto folder = tmp / "data";
    writeProject (folder.getChildFile ("b.prj"), "Song 12");
    writeProject (folder.getChildFile ("a.prj"), "Song 5", 2);
    PcProjectListComponent list (model, folder);
    ASSERT_TRUE (waitForNames (list, { "Song 5", "Song 12" }));
    EXPECT_EQ (list.getTable().getHeader().getSortColumnId(), PcProjectListComponent::kNameColumn);
    EXPECT_TRUE (list.getTable().getHeader().isSortedForwards());

    // Most likely within the same second as the first listing: the folder's
    // time must be read finer than whole seconds for this to be seen.
    const auto start = juce::Time::getMillisecondCounter();
    writeProject (folder.getChildFile ("c.prj"), "Song 100");
    (folder.getChildFile ("c.txt")).replaceWithData (projectFile ("Text", 0).getData(), 4096);
    ASSERT_TRUE (waitForNames (list, { "Song 5", "Song 12", "Song 100" }));
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 2500u);
}

TEST_F (PcList, SelectionStaysOnItsFileUntilTheFolderChanges)
{
    const auto folder = tmp / "data";
    writeProject (folder.getChildFile ("b.prj"), "B");
    writeProject (folder.getChildFile ("d.prj"), "D");
    writeProject (tmp / "other/x.prj", "X");
    PcProjectListComponent list (model, folder);
    ASSERT_TRUE (waitForNames (list, { "B", "D" }));

    list.getTable().selectRow (1);
    EXPECT_EQ (list.getSelectedProjectFile(), folder.getChildFile ("d.prj"));
    EXPECT_EQ (list.getSelectedProjectName(), "D");
    EXPECT_EQ (list.getSelectedProjectPatterns(), 0);

    // The same folder again: nothing to re-scan, the selection stays.
    list.setDirectory (folder);
    runMessageLoopFor (300);
    EXPECT_EQ (list.getSelectedProjectFile(), folder.getChildFile ("d.prj"));

    // A new file sorts in front of the selected one; the selection follows its file.
    writeProject (folder.getChildFile ("a.prj"), "A");
    ASSERT_TRUE (waitForNames (list, { "A", "B", "D" }));
    EXPECT_EQ (list.getTable().getSelectedRow(), 2);
    EXPECT_EQ (list.getSelectedProjectFile(), folder.getChildFile ("d.prj"));

    // The selected file goes: so does the selection.
    (folder.getChildFile ("d.prj")).deleteFile();
    ASSERT_TRUE (waitForNames (list, { "A", "B" }));
    EXPECT_EQ (list.getTable().getSelectedRow(), -1);

    list.getTable().selectRow (0);
    list.setDirectory (tmp / "other");
    ASSERT_TRUE (waitForNames (list, { "X" }));
    EXPECT_EQ (list.getTable().getSelectedRow(), -1);
    EXPECT_EQ (list.getSelectedProjectFile(), juce::File());
    EXPECT_EQ (list.getSelectedProjectName(), "");
    EXPECT_EQ (list.getSelectedProjectPatterns(), -1);
}

TEST_F (PcList, AWatchedFolderIsNotPolledAndOneThatGoesAwayIsLookedForUntilItIsBack)
{
    const auto folder = tmp / "data";
    writeProject (folder.getChildFile ("a.prj"), "A");
    PcProjectListComponent list (model, folder);
    ASSERT_TRUE (waitForNames (list, { "A" }));
    auto& files = list.getFileList();

    // At rest nothing looks at the folder; a change is reported by the system.
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! files.isCheckingEverySecond(); }, 4000));
    writeProject (folder.getChildFile ("b.prj"), "B");
    ASSERT_TRUE (waitForNames (list, { "A", "B" }));

    // Gone: the table empties and the path is looked at until a folder is there again.
    ASSERT_TRUE (folder.deleteRecursively());
    ASSERT_TRUE (waitForNames (list, {}));
    EXPECT_TRUE (files.isCheckingEverySecond());
    writeProject (folder.getChildFile ("c.prj"), "C");
    ASSERT_TRUE (waitForNames (list, { "C" }));
    EXPECT_TRUE (runMessageLoopUntil ([&] { return ! files.isCheckingEverySecond(); }, 4000));
    writeProject (folder.getChildFile ("d.prj"), "D");
    EXPECT_TRUE (waitForNames (list, { "C", "D" })) << "the folder made again is watched";
}

TEST (KorvaList, HeaderSortsFollowTheSelectionAndRefreshReturnsToNameOrder)
{
    KorvaProjectList model;
    model.updateFromProjectInfo (projectInfo ({ { 100, 2, "a" }, { 5, 30, "b" }, { 12, 1, "c" } }, 0, 0, 0));
    KorvaProjectListComponent list (model, [] { return 0; });
    list.setBounds (0, 0, 330, 235);
    list.refresh();
    ASSERT_EQ (names (model), (std::vector<juce::String> { "a", "b", "c" }));
    EXPECT_EQ (list.getSelectedProjectIndex(), -1);
    EXPECT_EQ (list.getSelectedProjectName(), "");

    list.getTable().selectRow (1);
    EXPECT_EQ (list.getSelectedProjectIndex(), 5);
    EXPECT_EQ (list.getSelectedProjectName(), "b");

    // Clicking "ID" sorts numerically (5, 12, 100); the selection stays on "b".
    list.getTable().getHeader().setSortColumnId (KorvaProjectListComponent::kIdColumn, true);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return names (model) == std::vector<juce::String> { "b", "c", "a" }; }));
    EXPECT_EQ (list.getSelectedProjectName(), "b");

    list.getTable().getHeader().setSortColumnId (KorvaProjectListComponent::kPatternsColumn, false);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return names (model) == std::vector<juce::String> { "b", "a", "c" }; }));
    EXPECT_EQ (list.getTable().getSelectedRow(), 0);

    list.refresh();
    EXPECT_EQ (names (model), (std::vector<juce::String> { "a", "b", "c" }));
    EXPECT_EQ (list.getSelectedProjectIndex(), -1);
    runMessageLoopFor (50); // the header's own late notice changes nothing
    EXPECT_EQ (names (model), (std::vector<juce::String> { "a", "b", "c" }));
}

TEST (ProjectTableModel, PaintsTheProjectInUsePaleAndTheSelectedRowBlue)
{
    KorvaProjectList model;
    model.updateFromProjectInfo (projectInfo ({ { 3, 1, "InUse" }, { 7, 1, "Free" } }, 0, 0, 3));
    KorvaProjectTableModel table (model, [] { return 3; });

    const auto paintCell = [&] (int row) {
        juce::Image image (juce::Image::ARGB, 120, 21, true);
        juce::Graphics g (image);
        g.setFont (14.0f);
        table.paintCell (g, row, KorvaProjectListComponent::kNameColumn, 120, 21, false);
        return image;
    };
    const auto maxAlpha = [] (const juce::Image& image, int x0, int x1) {
        int alpha = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = x0; x < x1; ++x)
                alpha = std::max (alpha, (int) image.getPixelAt (x, y).getAlpha());
        return alpha;
    };

    const auto inUse = paintCell (0), free = paintCell (1);
    EXPECT_NEAR (maxAlpha (inUse, 0, 118), 51, 2); // black at alpha 0.2
    EXPECT_GT (maxAlpha (free, 0, 118), 240);
    // The separator at the right edge, black at alpha 0.2, over the full height.
    for (int y = 0; y < 21; ++y)
        EXPECT_EQ (free.getPixelAt (119, y).getARGB(), juce::Colour (0xFF000000).withAlpha (0.2f).getARGB()) << y;

    const auto out = paintCell (5); // no such row
    EXPECT_EQ (maxAlpha (out, 0, 120), 0);

    EXPECT_EQ (table.getNumRows(), 2);
    for (bool selected : { true, false })
    {
        juce::Image image (juce::Image::ARGB, 50, 21, true);
        juce::Graphics g (image);
        table.paintRowBackground (g, 0, 50, 21, selected);
        EXPECT_EQ (image.getPixelAt (25, 10).getARGB(), selected ? 0xFFADD8E6u : 0u);
    }
}

TEST (ProjectListComponentsConcurrency, TheListingFollowsAFolderThatKeepsChanging)
{
    TempFolder tmp;
    PcProjectList model;
    const auto folder = tmp / "data";
    writeProject (folder.getChildFile ("keep.prj"), "Keep");
    PcProjectListComponent list (model, folder);
    list.setBounds (0, 0, 390, 235);

    // Another program adds and removes project files while the table scans,
    // re-scans and switches folders.
    std::atomic<bool> stop { false };
    std::thread writer ([&] {
        for (int i = 0; ! stop; ++i)
        {
            const auto file = folder.getChildFile ("churn" + juce::String (i % 7) + ".prj");
            if (file.existsAsFile())
                file.deleteFile();
            else
                writeProject (file, "Churn " + juce::String (i % 7));
            juce::Thread::sleep (3);
        }
    });

    for (int round = 0; round < 40; ++round)
    {
        if (round % 10 == 5)
            list.setDirectory (tmp / "elsewhere");
        else if (round % 10 == 6)
            list.setDirectory (folder);
        else
            list.refresh();
        runMessageLoopFor (15);
        (void) list.createComponentSnapshot (list.getLocalBounds());
    }
    stop = true;
    writer.join();

    // Once the folder is still, the table shows exactly what is in it.
    for (auto& f : folder.findChildFiles (juce::File::findFiles, false, "churn*.prj"))
        f.deleteFile();
    EXPECT_TRUE (runMessageLoopUntil ([&] { return names (model) == std::vector<juce::String> { "Keep" }; }, 5000));
}

} // namespace korva
