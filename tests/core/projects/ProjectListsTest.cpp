#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace korva
{

using namespace korva::test;

namespace
{
std::vector<juce::String> column (const ProjectList& list, int columnId)
{
    std::vector<juce::String> texts;
    for (const auto& row : list.getRows())
        texts.push_back (list.getCellText (row, columnId));
    return texts;
}
} // namespace

TEST (KorvaProjectList, RebuildsOnlyOnAChangedResponse)
{
    KorvaProjectList list;
    const auto info = projectInfo ({ { 0, 5, "Live" } }, 7, 1019, 0);
    ASSERT_EQ (info.getSize(), 41u);

    EXPECT_TRUE (list.updateFromProjectInfo (info));
    ASSERT_EQ (list.getNumRows(), 1);
    EXPECT_EQ (list.getRow (0)->name, "Live");
    EXPECT_EQ (list.getRow (0)->patterns, 5);
    EXPECT_FALSE (list.getRow (1).has_value());

    EXPECT_FALSE (list.updateFromProjectInfo (info)); // same bytes

    EXPECT_TRUE (list.updateFromProjectInfo (projectInfo ({}, 8, 1024, 0)));
    EXPECT_EQ (list.getNumRows(), 0);

    list.clear(); // forgets the previous answer: the next one always rebuilds
    EXPECT_TRUE (list.updateFromProjectInfo (projectInfo ({}, 8, 1024, 0)));
}

TEST (KorvaProjectList, IdsArePaddedAndSortNumerically)
{
    KorvaProjectList list;
    list.updateFromProjectInfo (projectInfo ({ { 100, 1, "c" }, { 5, 2, "a" }, { 12, 3, "b" } }, 0, 0, 0));
    list.sortOrderChanged (1, true);
    EXPECT_EQ (column (list, 1), (std::vector<juce::String> { "005", "012", "100" }));
    list.sortOrderChanged (1, false);
    EXPECT_EQ (column (list, 1), (std::vector<juce::String> { "100", "012", "005" }));
    list.sortOrderChanged (9, true); // not a column: ignored
    EXPECT_EQ (column (list, 1), (std::vector<juce::String> { "100", "012", "005" }));
}

TEST (KorvaProjectList, SelectingTheProjectInUseIsInvalid)
{
    KorvaProjectList list;
    list.updateFromProjectInfo (projectInfo ({ { 3, 1, "InUse" }, { 4, 1, "Free" } }, 0, 0, 3));

    struct Messages : juce::ActionListener
    {
        std::vector<juce::String> received;
        void actionListenerCallback (const juce::String& m) override { received.push_back (m); }
    } messages;
    list.addActionListener (&messages);

    list.selectedRowsChanged (0, 3);
    list.selectedRowsChanged (1, 3);
    list.selectedRowsChanged (-1, 3);
    runMessageLoopUntil ([&] { return messages.received.size() >= 2; }, 2000);
    runMessageLoopFor (20);
    EXPECT_EQ (messages.received, (std::vector<juce::String> { "InvalidRowsChange", "ValidRowsChange" }));
    list.removeActionListener (&messages);
}

TEST (PcProjectList, ListsOnlyProjectFilesWithNaturalStableOrder)
{
    TempFolder tmp;
    const auto write = [&] (const char* fileName, const juce::MemoryBlock& bytes, size_t size) {
        const auto f = tmp / fileName;
        f.replaceWithData (bytes.getData(), size);
        return f;
    };

    juce::Array<juce::File> files;
    files.add (write ("b.prj", projectFile ("Song 12", 2), 4096 * 3));
    files.add (write ("a.prj", projectFile ("Song 5", 0), 4096));
    files.add (write ("c.prj", projectFile ("Song 100", 1), 4096 * 2));
    files.add (write ("short.prj", projectFile ("Short", 0), 4095));
    files.add (write ("same1.prj", projectFile ("Dup", 0), 4096));
    auto notAProject = projectFile ("X", 0);
    static_cast<juce::uint8*> (notAProject.getData())[0] = 0x84;
    files.add (write ("bad.prj", notAProject, 4096));
    files.add (write ("same2.prj", projectFile ("Dup", 1), 4096 * 2));
    files.add (tmp / "missing.prj");

    PcProjectList list;
    list.setFiles (files);
    list.sortOrderChanged (1, true);

    EXPECT_EQ (column (list, 1), (std::vector<juce::String> { "Dup", "Dup", "Song 5", "Song 12", "Song 100" }));
    EXPECT_EQ (column (list, 2), (std::vector<juce::String> { "0", "1", "0", "2", "1" }));
    EXPECT_EQ (list.getFile (0).getFileName(), "same1.prj"); // ties keep the listing order
    EXPECT_EQ (list.getFile (3).getFileName(), "b.prj");
    EXPECT_TRUE (std::regex_match (column (list, 3)[0].toStdString(),
                                   std::regex ("[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")));
}

TEST (ProjectListsConcurrency, RowsAreReadWhileTheyAreRebuilt)
{
    KorvaProjectList list;
    std::atomic<bool> stop { false };
    std::thread sequencer ([&] {
        for (int i = 0; ! stop; ++i)
            list.updateFromProjectInfo (projectInfo ({ { i % 100, 1, "A" }, { 1, 2, "B" } }, 0, 0, 0));
    });
    ASSERT_TRUE (waitUntil ([&] { return list.getNumRows() > 0; }));
    int seen = 0;
    for (int i = 0; i < 2000; ++i)
    {
        for (int r = 0; r < list.getNumRows(); ++r)
            if (auto row = list.getRow (r))
                seen += row->name.isNotEmpty();
        list.hasName ("B");
    }
    stop = true;
    sequencer.join();
    EXPECT_GT (seen, 0);
}

} // namespace korva
