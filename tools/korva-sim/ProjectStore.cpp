#include "tools/korva-sim/ProjectStore.h"

#include "tools/korva-sim/DemoContent.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

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

bool isWellFormedProject (const Bytes& image, std::string& why)
{
    if (image.size() < kBlockSize || image.size() % kBlockSize != 0)
    {
        why = "its size (" + std::to_string (image.size()) + " bytes) is not a whole number of blocks";
        return false;
    }
    if (! isHeader (image))
    {
        why = "it does not start with a project header";
        return false;
    }
    const auto patterns = static_cast<std::size_t> (patternCount (image.data()));
    if (image.size() / kBlockSize != patterns + 1)
    {
        why = "its header announces " + std::to_string (patterns) + " patterns, it holds "
              + std::to_string (image.size() / kBlockSize - 1);
        return false;
    }
    for (std::size_t i = 1; i <= patterns; ++i)
    {
        if (image[kBlockSize * i] != 's' || image[kBlockSize * i + 1] != 'e' || image[kBlockSize * i + 2] != 'q')
        {
            why = "block " + std::to_string (i) + " is not a pattern";
            return false;
        }
    }
    return true;
}
} // namespace block

//==============================================================================
namespace
{
bool makeFolder (const std::string& path, std::string& error)
{
    // Each missing parent in turn, like mkdir -p.
    for (std::size_t slash = path.find ('/', 1);; slash = path.find ('/', slash + 1))
    {
        const auto part = path.substr (0, slash);
        if (! part.empty() && ::mkdir (part.c_str(), 0755) != 0 && errno != EEXIST)
        {
            error = "cannot create " + part + ": " + std::strerror (errno);
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    struct stat info
    {
    };
    if (::stat (path.c_str(), &info) != 0 || ! S_ISDIR (info.st_mode))
    {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

bool readFile (const std::string& path, Bytes& bytes, std::size_t limit)
{
    std::ifstream in (path, std::ios::binary);
    if (! in)
        return false;
    in.seekg (0, std::ios::end);
    const auto size = static_cast<std::streamoff> (in.tellg());
    if (size < 0 || static_cast<std::size_t> (size) > limit)
        return false;
    in.seekg (0);
    bytes.assign (static_cast<std::size_t> (size), 0);
    in.read (reinterpret_cast<char*> (bytes.data()), size);
    return static_cast<bool> (in) || bytes.empty();
}

bool fileExists (const std::string& path)
{
    struct stat info
    {
    };
    return ::stat (path.c_str(), &info) == 0;
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
    if (! fileExists (m_folder + "/state") && ! seed (error))
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
        if (! fileExists (projectPath (index)) && ! writeFile (projectPath (index), image))
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
        if (! fileExists (path))
            continue;
        Bytes image;
        std::string why;
        if (! readFile (path, image, kLargest))
            why = "it cannot be read or is too large";
        else if (block::isWellFormedProject (image, why))
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
    {
        std::ofstream out (temporary, std::ios::binary | std::ios::trunc);
        out.write (reinterpret_cast<const char*> (bytes.data()), static_cast<std::streamsize> (bytes.size()));
        out.flush();
        if (! out)
        {
            log ("cannot write " + temporary);
            ::unlink (temporary.c_str());
            return false;
        }
    }
    if (std::rename (temporary.c_str(), path.c_str()) != 0)
    {
        log ("cannot replace " + path + ": " + std::strerror (errno));
        ::unlink (temporary.c_str());
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
    if (index < 0 || index >= kProjectSlots || ! block::isWellFormedProject (image, why))
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
    if (::unlink (projectPath (index).c_str()) != 0 && errno != ENOENT)
    {
        log ("cannot remove " + projectPath (index) + ": " + std::strerror (errno));
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
