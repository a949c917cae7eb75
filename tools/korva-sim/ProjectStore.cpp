#include "tools/korva-sim/ProjectStore.h"

#include "tools/korva-sim/DemoContent.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace korva
{

namespace sim
{

//==============================================================================
namespace block
{
bool isHeader (const Bytes& bytes)
{
    return bytes.size() >= 2 && bytes[0] == 0x83 && bytes[1] == 0x49;
}

bool isPattern (const Bytes& bytes)
{
    return bytes.size() >= 3 && bytes[0] == 's' && bytes[1] == 'e' && bytes[2] == 'q';
}

int patternCount (const std::uint8_t* header)
{
    int count = 0;
    for (int track = 0; track < kTracks; ++track)
        for (std::size_t i = 0; i < 8; ++i)
            for (std::uint8_t bits = header[kMapOffset + kMapStride * track + i]; bits != 0; bits &= bits - 1)
                ++count;
    return count;
}

std::string name (const std::uint8_t* header)
{
    std::string text;
    for (std::size_t i = 0; i < kNameLength && header[kNameOffset + i] != 0; ++i)
        text += static_cast<char> (header[kNameOffset + i]);
    return text;
}

void setName (std::uint8_t* header, const std::string& name)
{
    std::memset (header + kNameOffset, 0, kNameLength + 1);
    std::memcpy (header + kNameOffset, name.data(), std::min (name.size(), kNameLength));
}

void setPresent (std::uint8_t* header, int track, int pattern)
{
    if (track < 0 || track >= kTracks || pattern < 0 || pattern >= kPatternsPerTrack)
        return;
    header[kMapOffset + kMapStride * static_cast<std::size_t> (track) + static_cast<std::size_t> (pattern / 8)] |=
        static_cast<std::uint8_t> (1u << (pattern % 8));
}
} // namespace block

//==============================================================================
namespace
{
juce::MemoryBlock blockOf (const Bytes& image, std::size_t index)
{
    return { image.data() + kBlockSize * index, kBlockSize };
}

// A header followed by the pattern blocks it announces, nothing more: what
// the program takes for a whole project file.
bool isWellFormedProject (const Bytes& image, std::string& why)
{
    if (image.size() < kBlockSize || image.size() % kBlockSize != 0)
    {
        why = "its size (" + std::to_string (image.size()) + " bytes) is not a whole number of blocks";
        return false;
    }
    const auto header = blockOf (image, 0);
    if (! ProjectDataManager::isProjectHeader (header))
    {
        why = "it does not start with a project header";
        return false;
    }
    const auto patterns = static_cast<std::size_t> (ProjectDataManager::countPatterns (header));
    if (image.size() / kBlockSize != patterns + 1)
    {
        why = "its header announces " + std::to_string (patterns) + " patterns, it holds "
              + std::to_string (image.size() / kBlockSize - 1);
        return false;
    }
    for (std::size_t i = 1; i <= patterns; ++i)
    {
        if (! ProjectDataManager::isPatternBlock (blockOf (image, i)))
        {
            why = "block " + std::to_string (i) + " is not a pattern";
            return false;
        }
    }
    return true;
}

// The paths stay bytes, as given: std::filesystem rather than juce::File,
// whose paths are text. A path that cannot be looked at counts as missing.
bool pathExists (const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::exists (path, ignored);
}

bool makeFolder (const std::string& path, std::string& error)
{
    std::error_code failure;
    std::filesystem::create_directories (path, failure);
    std::error_code ignored;
    if (std::filesystem::is_directory (path, ignored))
        return true;
    if (pathExists (path))
    {
        error = path + " is not a folder";
        return false;
    }
    // Named after the first folder that could not be made.
    std::filesystem::path missing (path);
    while (missing.has_relative_path() && ! pathExists (missing.parent_path()))
        missing = missing.parent_path();
    error = "cannot create " + missing.string() + ": " + failure.message();
    return false;
}

bool readFile (const std::string& path, Bytes& bytes, std::size_t limit)
{
    std::error_code failure;
    const auto size = std::filesystem::file_size (path, failure);
    std::ifstream in (path, std::ios::binary);
    if (failure || size > limit || ! in)
        return false;
    bytes.assign (size, 0);
    return static_cast<bool> (in.read (reinterpret_cast<char*> (bytes.data()), static_cast<std::streamsize> (size)));
}
} // namespace

ProjectStore::ProjectStore (std::string folder, Logger log) : m_folder (std::move (folder)), m_log (std::move (log))
{
}

std::string ProjectStore::defaultFolder()
{
    if (const char* data = std::getenv ("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
        return std::string (data) + "/korva-sim";
    const char* home = std::getenv ("HOME");
    return std::string (home != nullptr && home[0] != '\0' ? home : "/tmp") + "/.local/share/korva-sim";
}

void ProjectStore::log (const std::string& text) const
{
    if (m_log)
        m_log (text);
}

std::string ProjectStore::projectPath (int index) const
{
    char name[32];
    std::snprintf (name, sizeof (name), "/projects/%03d.prj", index);
    return m_folder + name;
}

bool ProjectStore::open (std::string& error)
{
    if (m_folder.empty() || m_folder[0] != '/')
    {
        error = "the store folder must be a full path: \"" + m_folder + "\"";
        return false;
    }
    if (! makeFolder (m_folder + "/projects", error))
        return false;

    m_projects.clear();
    m_seeded = false;
    if (! pathExists (m_folder + "/state") && ! seed (error))
        return false;

    loadProjects();
    loadPattern();
    loadState();
    log ("store " + m_folder + ": " + std::to_string (m_projects.size()) + " projects, "
         + std::to_string (patternsInUse()) + " patterns");
    return true;
}

bool ProjectStore::seed (std::string& error)
{
    const auto demo = makeDemoContent();
    for (const auto& [index, image] : demo.projects)
    {
        // A project file someone put there already is kept.
        if (! pathExists (projectPath (index)) && ! writeFile (projectPath (index), image))
        {
            error = "cannot write the demo projects into " + m_folder;
            return false;
        }
    }
    Bytes pattern (demo.patternInfo.begin(), demo.patternInfo.end());
    pattern.insert (pattern.end(), demo.currentPattern.begin(), demo.currentPattern.end());
    if (! writeFile (m_folder + "/pattern.bin", pattern) || ! writeState (demo.currentProject))
    {
        error = "cannot write the demo content into " + m_folder;
        return false;
    }
    m_seeded = true;
    log ("store " + m_folder + " seeded with " + std::to_string (demo.projects.size()) + " demo projects");
    return true;
}

void ProjectStore::loadProjects()
{
    // Larger files cannot be projects: a header and at most 1024 patterns.
    constexpr std::size_t kLargest = kBlockSize * (kMaxPatternsPerProject + 1);
    for (int index = 0; index < kProjectSlots; ++index)
    {
        const auto path = projectPath (index);
        if (! pathExists (path))
            continue;
        Bytes image;
        std::string why;
        if (! readFile (path, image, kLargest))
            why = "it cannot be read or is too large";
        else if (isWellFormedProject (image, why))
        {
            m_projects[index] = std::move (image);
            continue;
        }
        log ("skipping " + path + ": " + why);
    }
}

void ProjectStore::loadPattern()
{
    Bytes bytes;
    if (readFile (m_folder + "/pattern.bin", bytes, kPatternInfoSize + kBlockSize)
        && bytes.size() == kPatternInfoSize + kBlockSize)
    {
        std::copy_n (bytes.begin(), kPatternInfoSize, m_patternInfo.begin());
        m_currentPattern.assign (bytes.begin() + kPatternInfoSize, bytes.end());
        return;
    }
    log ("no usable " + m_folder + "/pattern.bin: the demo pattern is current");
    const auto demo = makeDemoContent();
    m_patternInfo = demo.patternInfo;
    m_currentPattern = demo.currentPattern;
}

void ProjectStore::loadState()
{
    Bytes bytes;
    m_currentProject = 0;
    if (! readFile (m_folder + "/state", bytes, 256))
        return;
    const std::string text (bytes.begin(), bytes.end());
    const std::string key = "current-project ";
    if (text.compare (0, key.size(), key) == 0)
    {
        const long value = std::strtol (text.c_str() + key.size(), nullptr, 10);
        if (value >= 0 && value < kProjectSlots)
            m_currentProject = static_cast<int> (value);
    }
}

bool ProjectStore::writeState (int currentProject)
{
    const auto text = "current-project " + std::to_string (currentProject) + "\n";
    return writeFile (m_folder + "/state", Bytes (text.begin(), text.end()));
}

bool ProjectStore::writeFile (const std::string& path, const Bytes& bytes)
{
    const auto temporary = path + ".tmp";
    std::error_code failure;
    {
        std::ofstream out (temporary, std::ios::binary | std::ios::trunc);
        out.write (reinterpret_cast<const char*> (bytes.data()), static_cast<std::streamsize> (bytes.size()));
        out.flush();
        if (! out)
        {
            log ("cannot write " + temporary);
            std::filesystem::remove (temporary, failure);
            return false;
        }
    }
    std::filesystem::rename (temporary, path, failure);
    if (failure)
    {
        log ("cannot replace " + path + ": " + failure.message());
        std::filesystem::remove (temporary, failure);
        return false;
    }
    return true;
}

//==============================================================================
const Bytes* ProjectStore::project (int index) const
{
    const auto found = m_projects.find (index);
    return found != m_projects.end() ? &found->second : nullptr;
}

int ProjectStore::freeIndex() const
{
    for (int index = 0; index < kProjectSlots; ++index)
        if (m_projects.count (index) == 0)
            return index;
    return -1;
}

int ProjectStore::patternsInUse() const
{
    int total = 0;
    for (const auto& entry : m_projects)
        total += static_cast<int> (entry.second.size() / kBlockSize) - 1;
    return total;
}

bool ProjectStore::putProject (int index, const Bytes& image)
{
    std::string why;
    if (index < 0 || index >= kProjectSlots || ! isWellFormedProject (image, why))
        return false;
    if (! writeFile (projectPath (index), image))
        return false;
    m_projects[index] = image;
    return true;
}

bool ProjectStore::removeProject (int index)
{
    if (m_projects.count (index) == 0)
        return false;
    std::error_code failure;
    std::filesystem::remove (projectPath (index), failure);
    if (failure)
    {
        log ("cannot remove " + projectPath (index) + ": " + failure.message());
        return false;
    }
    m_projects.erase (index);
    return true;
}

bool ProjectStore::setCurrentProject (int index)
{
    if (index < 0 || index >= kProjectSlots)
        return false;
    if (index != m_currentProject && ! writeState (index))
        return false;
    m_currentProject = index;
    return true;
}

bool ProjectStore::setCurrentPattern (const std::array<std::uint8_t, kPatternInfoSize>& info, const Bytes& pattern)
{
    if (pattern.size() != kBlockSize)
        return false;
    Bytes bytes (info.begin(), info.end());
    bytes.insert (bytes.end(), pattern.begin(), pattern.end());
    if (! writeFile (m_folder + "/pattern.bin", bytes))
        return false;
    m_patternInfo = info;
    m_currentPattern = pattern;
    return true;
}

} // namespace sim

} // namespace korva
