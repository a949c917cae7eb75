#pragma once

// The virtual KORVA's memory, kept in a folder on disk so that it survives a
// restart: up to 128 projects, each the device's blocks of 4096 bytes (a
// header block, then one block per pattern), the index of the project in use,
// and the current pattern with its 20-byte pattern information.
//
//   <folder>/projects/NNN.prj   project at device index NNN (000 .. 127)
//   <folder>/pattern.bin        pattern information (20 bytes), then the pattern (4096)
//   <folder>/state              "current-project N"; written last when a store is seeded
//
// A folder without a state file has never been used: it is seeded with the
// demo projects. Every change is written to a temporary file and renamed over
// the old one, so a crash never leaves half a project behind. Files that do
// not hold a well-formed project are skipped (and left alone) when loading:
// the .prj files of the store follow the program's rules for project files.

#include "core/patterns/PatternInfo.h"
#include "core/projects/ProjectDataManager.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace korva
{

namespace sim
{

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBlockSize = ProjectDataManager::kBlockSize;
constexpr int kProjectSlots = 128;
constexpr int kMaxPatternsPerProject = 1024; // 16 tracks of 64 patterns
constexpr int kTracks = 16;
constexpr int kPatternsPerTrack = 64;
constexpr std::size_t kNameLength = ProjectDataManager::kMaxNameLength; // characters before the NUL

// The device's reading of its own project blocks, for the messages it
// answers. The sizes are the program's, but the model reads the blocks by
// itself: it stands for the device in the program's tests, and a reading
// shared with the program would agree with the program's mistakes. Its names
// are bytes, as the device sends them, where the program reads characters.
namespace block
{
// Header: 0x83 0x49, the name at offset 4 (32 characters and a NUL), and one
// 64-bit presence map per track at 44 + 232 * track: bit p (byte p / 8, bit
// p % 8) set when the track has pattern p. Pattern blocks start with "seq".
constexpr std::size_t kNameOffset = ProjectDataManager::kNameOffset;
constexpr std::size_t kMapOffset = 44;
constexpr std::size_t kMapStride = 232;

bool isHeader (const Bytes& bytes);
bool isPattern (const Bytes& bytes);
int patternCount (const std::uint8_t* header);
std::string name (const std::uint8_t* header);
void setName (std::uint8_t* header, const std::string& name);
void setPresent (std::uint8_t* header, int track, int pattern);
} // namespace block

class ProjectStore
{
public:
    using Logger = std::function<void (const std::string&)>;

    ProjectStore (std::string folder, Logger log);

    // $XDG_DATA_HOME/korva-sim, else ~/.local/share/korva-sim.
    static std::string defaultFolder();

    // Loads the folder, seeding it first when it has never been used.
    // False with a reason when the folder cannot be made or read.
    bool open (std::string& error);

    const std::string& getFolder() const noexcept { return m_folder; }
    bool wasSeeded() const noexcept { return m_seeded; }

    // Whole project images by device index, in index order.
    const std::map<int, Bytes>& projects() const noexcept { return m_projects; }
    const Bytes* project (int index) const;
    int freeIndex() const; // the lowest free index, -1 when all are taken
    int patternsInUse() const;

    // Each writes to disk first and changes the memory only when that worked.
    bool putProject (int index, const Bytes& image);
    bool removeProject (int index);
    bool setCurrentProject (int index);
    bool setCurrentPattern (const std::array<std::uint8_t, kPatternInfoSize>& info, const Bytes& pattern);

    int getCurrentProject() const noexcept { return m_currentProject; }
    const std::array<std::uint8_t, kPatternInfoSize>& getPatternInfo() const noexcept { return m_patternInfo; }
    const Bytes& getCurrentPattern() const noexcept { return m_currentPattern; }

private:
    std::string projectPath (int index) const;
    bool seed (std::string& error);
    void loadProjects();
    void loadPattern();
    void loadState();
    bool writeState (int currentProject);
    bool writeFile (const std::string& path, const Bytes& bytes);
    void log (const std::string& text) const;

    const std::string m_folder;
    const Logger m_log;
    bool m_seeded = false;

    std::map<int, Bytes> m_projects;
    int m_currentProject = 0;
    std::array<std::uint8_t, kPatternInfoSize> m_patternInfo{};
    Bytes m_currentPattern;
};

} // namespace sim

} // namespace korva
