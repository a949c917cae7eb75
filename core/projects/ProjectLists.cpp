#include "core/projects/ProjectLists.h"

#include "core/infra/FileTools.h"
#include "core/projects/ProjectDataManager.h"

#include <algorithm>
#include <mutex>

namespace korva
{

int ProjectList::getNumRows() const
{
    const juce::ScopedLock lock (m_lock);
    return (int) m_rows.size();
}

std::optional<ProjectListRow> ProjectList::getRow (int row) const
{
    const juce::ScopedLock lock (m_lock);
    if (row < 0 || row >= (int) m_rows.size())
        return std::nullopt;
    return m_rows[(size_t) row];
}

std::vector<ProjectListRow> ProjectList::getRows() const
{
    const juce::ScopedLock lock (m_lock);
    return m_rows;
}

void ProjectList::replaceRows (std::vector<ProjectListRow> rows)
{
    const juce::ScopedLock lock (m_lock);
    m_rows = std::move (rows);
}

void ProjectList::sortOrderChanged (int columnId, bool forwards)
{
    if (! isSortableColumn (columnId))
        return;

    const juce::ScopedLock lock (m_lock);
    std::stable_sort (m_rows.begin(), m_rows.end(), [&] (const ProjectListRow& a, const ProjectListRow& b) {
        int result = sortKey (a, columnId).compareNatural (sortKey (b, columnId), false);
        if (result == 0)
            result = juce::String (a.index).compareNatural (juce::String (b.index), false);
        return (forwards ? result : -result) < 0;
    });
}

//==============================================================================
namespace
{
std::mutex& singletonMutex()
{
    static std::mutex m;
    return m;
}

// ASCII, NUL-terminated, at most `maxLength` characters.
juce::String nameFromBytes (const juce::uint8* bytes, size_t maxLength)
{
    juce::String name;
    for (size_t i = 0; i < maxLength && bytes[i] != 0; ++i)
        name += juce::String::charToString ((juce::juce_wchar) bytes[i]);
    return name;
}
} // namespace

KorvaProjectList* KorvaProjectList::s_instance = nullptr;

KorvaProjectList* KorvaProjectList::getInstance()
{
    std::lock_guard<std::mutex> lock (singletonMutex());
    if (s_instance == nullptr)
        s_instance = new KorvaProjectList();
    return s_instance;
}

void KorvaProjectList::deleteInstance()
{
    delete s_instance;
}

KorvaProjectList::~KorvaProjectList()
{
    std::lock_guard<std::mutex> lock (singletonMutex());
    if (s_instance == this)
        s_instance = nullptr;
}

bool KorvaProjectList::updateFromProjectInfo (const juce::MemoryBlock& payload)
{
    {
        const juce::ScopedLock lock (m_lock);
        if (payload == m_previousPayload)
            return false;
        m_previousPayload = payload;
    }

    std::vector<ProjectListRow> rows;
    const auto* bytes = static_cast<const juce::uint8*> (payload.getData());
    const size_t size = payload.getSize();
    const size_t n = size > 0 ? bytes[0] : 0;

    for (size_t i = 0; i < n && 1 + 36 * (i + 1) <= size; ++i)
    {
        const auto* record = bytes + 1 + 36 * i;
        ProjectListRow row;
        row.index = record[0];
        row.patterns = (record[1] << 8) | record[2];
        row.name = nameFromBytes (record + 3, 33);
        rows.push_back (row);
    }

    replaceRows (std::move (rows));
    return true;
}

void KorvaProjectList::clear()
{
    const juce::ScopedLock lock (m_lock);
    m_previousPayload.reset();
    m_rows.clear();
}

bool KorvaProjectList::hasIndex (int index) const
{
    const juce::ScopedLock lock (m_lock);
    return std::any_of (m_rows.begin(), m_rows.end(), [index] (const auto& r) { return r.index == index; });
}

bool KorvaProjectList::hasName (const juce::String& name) const
{
    const juce::ScopedLock lock (m_lock);
    return std::any_of (m_rows.begin(), m_rows.end(), [&name] (const auto& r) { return r.name == name; });
}

void KorvaProjectList::selectedRowsChanged (int lastRowSelected, int currentProjectIndex)
{
    const auto row = getRow (lastRowSelected);
    if (! row)
        return;
    sendActionMessage (row->index == currentProjectIndex ? kInvalidRowsChange : kValidRowsChange);
}

juce::String KorvaProjectList::getCellText (const ProjectListRow& row, int columnId) const
{
    switch (columnId)
    {
        case 1: return juce::String (row.index).paddedLeft ('0', 3);
        case 2: return row.name;
        case 3: return juce::String (row.patterns);
        default: return {};
    }
}

juce::String KorvaProjectList::sortKey (const ProjectListRow& row, int columnId) const
{
    switch (columnId)
    {
        case 1: return juce::String (row.index);
        case 2: return row.name;
        default: return juce::String (row.patterns);
    }
}

//==============================================================================
PcProjectList* PcProjectList::s_instance = nullptr;

PcProjectList* PcProjectList::getInstance()
{
    std::lock_guard<std::mutex> lock (singletonMutex());
    if (s_instance == nullptr)
        s_instance = new PcProjectList();
    return s_instance;
}

void PcProjectList::deleteInstance()
{
    delete s_instance;
}

PcProjectList::~PcProjectList()
{
    std::lock_guard<std::mutex> lock (singletonMutex());
    if (s_instance == this)
        s_instance = nullptr;
}

void PcProjectList::setFiles (const juce::Array<juce::File>& files)
{
    std::vector<ProjectListRow> rows;
    for (int i = 0; i < files.size(); ++i)
    {
        const auto& file = files.getReference (i);

        juce::MemoryBlock header;
        if (! readHeader (file, header))
            continue;

        ProjectListRow row;
        row.index = i;
        row.name = ProjectDataManager::readProjectName (header);
        row.patterns = ProjectDataManager::countPatterns (header);
        row.creationTime = infra::FileTools::creationTime (file).formatted ("%Y/%m/%d %H:%M:%S");
        rows.push_back (row);
    }

    {
        const juce::ScopedLock lock (m_lock);
        m_files = files;
    }
    replaceRows (std::move (rows));
}

bool PcProjectList::readHeader (const juce::File& file, juce::MemoryBlock& header)
{
    // Only the header block is needed; larger files are not read whole.
    juce::FileInputStream in (file);
    if (! in.openedOk() || in.getTotalLength() < ProjectDataManager::kBlockSize)
        return false;
    header.setSize ((size_t) ProjectDataManager::kBlockSize);
    return in.read (header.getData(), ProjectDataManager::kBlockSize) == ProjectDataManager::kBlockSize
           && ProjectDataManager::isProjectHeader (header);
}

juce::File PcProjectList::getFile (int row) const
{
    const juce::ScopedLock lock (m_lock);
    if (row < 0 || row >= (int) m_rows.size())
        return {};
    return m_files[m_rows[(size_t) row].index];
}

juce::String PcProjectList::getCellText (const ProjectListRow& row, int columnId) const
{
    switch (columnId)
    {
        case 1: return row.name;
        case 2: return juce::String (row.patterns);
        case 3: return row.creationTime;
        default: return {};
    }
}

juce::String PcProjectList::sortKey (const ProjectListRow& row, int columnId) const
{
    switch (columnId)
    {
        case 1: return row.name;
        case 2: return juce::String (row.patterns);
        default: return row.creationTime;
    }
}

} // namespace korva
