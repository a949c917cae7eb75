// Listing a data folder: the time from pointing the computer table at a folder
// of project files to the table showing all of them.

#include "gui/pages/ProjectListComponents.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <unistd.h>

namespace korva
{

namespace
{
constexpr int kProjects = 1000;
constexpr juce::int64 kProjectSize = 4 * 1024 * 1024;

// 1000 project files of 4 MB: a real header block, the rest a hole.
juce::File makeFolder (const juce::String& name)
{
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile (name, "");
    folder.createDirectory();
    juce::Random random (42);
    for (int i = 0; i < kProjects; ++i)
    {
        juce::MemoryBlock header (4096, true);
        auto* b = static_cast<juce::uint8*> (header.getData());
        b[0] = 0x83;
        b[1] = 0x49;
        const auto projectName = "Project " + juce::String (random.nextInt (100000));
        std::memcpy (b + 4, projectName.toRawUTF8(), (size_t) projectName.getNumBytesAsUTF8());
        for (int k = 0; k < 16; ++k)
            b[44 + 232 * k] = (juce::uint8) random.nextInt (256);

        const auto file = folder.getChildFile (projectName + "_20260101_" + juce::String (i).paddedLeft ('0', 6)
                                               + ".prj");
        file.replaceWithData (header.getData(), header.getSize());
        juce::ignoreUnused (::truncate (file.getFullPathName().toRawUTF8(), kProjectSize));
    }
    return folder;
}

void waitForRows (PcProjectList& model, int rows)
{
    auto* mm = juce::MessageManager::getInstance();
    while (model.getNumRows() != rows)
        mm->runDispatchLoopUntil (1);
}

// From a change of data folder to the table filled.
void BM_ListDataFolder (benchmark::State& state)
{
    const auto full = makeFolder ("korva-bench-projects");
    const auto empty = full.getChildFile ("empty");
    empty.createDirectory();

    {
        PcProjectList model;
        PcProjectListComponent list (model, empty);
        waitForRows (model, 0);

        for (auto _ : state)
        {
            const auto start = std::chrono::steady_clock::now();
            list.setDirectory (full);
            waitForRows (model, kProjects);
            const auto end = std::chrono::steady_clock::now();
            state.SetIterationTime (std::chrono::duration<double> (end - start).count());

            list.setDirectory (empty);
            waitForRows (model, 0);
        }
        state.counters["files"] = kProjects;
    }
    full.deleteRecursively();
}
BENCHMARK (BM_ListDataFolder)->UseManualTime()->Unit (benchmark::kMillisecond)->Iterations (1)->Repetitions (7);
} // namespace

} // namespace korva
