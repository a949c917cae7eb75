// Project files in the data folder, as the program reads them: the header
// block and its name and pattern count, each pattern block the header
// announces, the whole-file check made before a project is sent, and the
// row the PC/Mac table shows. The first two bytes are the pattern count the
// KORVA's list announced (0xFFFF: none); the rest is the file.

#include "core/projects/ProjectChecks.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "fuzz/FuzzSupport.h"

namespace
{
// More blocks than any file of the announced count can have are not asked for.
constexpr int kMaxBlocksRead = 1024;
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, std::size_t size)
{
    using namespace korva;
    static const auto file = fuzz::scratchFolder ("projects").getChildFile ("Input.prj");

    fuzz::ByteReader input (data, size);
    const auto announced = input.u16();
    const int expectedPatterns = announced == 0xFFFF ? -1 : announced;
    const auto bytes = input.rest();
    fuzz::writeWhole (file, bytes.first, bytes.second);

    juce::MemoryBlock header;
    infra::FileFailure failure;
    const bool isHeader = ProjectDataManager::readProjectHeader (file, header, &failure);
    fuzz::require (!isHeader || ProjectDataManager::isProjectHeader (header));
    const int patterns = ProjectDataManager::countPatterns (header);
    const auto name = ProjectDataManager::readProjectName (header);
    fuzz::require (name.getNumBytesAsUTF8() <= 4 * ProjectDataManager::kMaxNameLength);
    if (isHeader)
    {
        fuzz::require (patterns >= 0 && patterns <= 16 * 64);
        juce::MemoryBlock block;
        for (int i = 0; i < juce::jmin (patterns, kMaxBlocksRead); ++i)
            if (!ProjectDataManager::readPatternBlock (file, block, i))
                break;
    }

    int counted = -1;
    juce::String reason;
    const bool whole = projectchecks::checkProjectFile (file, expectedPatterns, counted, reason);
    fuzz::require (whole == reason.isEmpty());
    fuzz::require (!whole || isHeader);

    juce::MemoryBlock listed;
    fuzz::require (PcProjectList::readHeader (file, listed) == isHeader);

    PcProjectList list;
    list.setFiles ({file});
    for (const auto& row : list.getRows())
        for (int column = 1; column <= 4; ++column)
            list.getCellText (row, column);
    return 0;
}
