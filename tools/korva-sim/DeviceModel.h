#pragma once

// The virtual KORVA's device model: what the device does with each message
// of the computer, above the transport. It keeps its projects and its current
// pattern in a ProjectStore, answers every data type the program uses, checks
// everything the computer sends (an odd message gets status 0, never a crash),
// and misbehaves on demand through its switches.
//
// Written from the device's side on its own, like the transport: it shares no
// interpretation code with the program, only the pattern record (to build its
// demo patterns).
//
// Exchanges, by data type (statuses are one byte):
//   0x00 project list      -> n, n records of 36 bytes, room for projects, room for patterns (2), current index
//   0x01 delete  [0, i]    -> [1, percent] ... each poll [1] ... then [3]; [0] failed, [2] busy
//   0x02 rename  [0, i, name (33)] -> as delete
//   0x03 import  [i, 0]    -> header block; [i, 1] -> next block ... then [1]; [i, 2] abort -> [1]
//   0x04 room    [count (2)] -> [1] room, [0] no room, [2] busy
//   0x05 export  header block, pattern blocks, then [0] end or [1] abort -> [1] each, [0] failed
//   0x30 pattern information -> 20 bytes
//   0x31 current pattern     -> 4096 bytes
//   0x32 pattern accepted [digit] -> [1] yes, [2] device's format older, [3] computer's older
//   0x33 pattern (4096)      -> [1] it is the current pattern now, [0] refused
//   0x80 (device only) one project block pushed unasked
//   0x81 version probe       -> firmware version (3 bytes)

#include "tools/korva-sim/DeviceLink.h"
#include "tools/korva-sim/ProjectStore.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korva
{

namespace sim
{

// Answers spoiled on purpose, to see that the computer copes.
enum class Garble
{
    kNone,
    kShort,   // one byte too few (an empty answer stays empty)
    kLong,    // one byte too many
    kBadValue // the right length with a value out of range
};

struct ModelSwitches
{
    bool oldFirmware = false;  // the version probe goes unanswered
    bool busy = false;         // status 2 to the first message of 0x00 .. 0x04
    int busyImport = -1;       // status 2 to the import of this project only
    bool refuse = false;       // status 0 to the first message of 0x01 .. 0x05, 0x32 and 0x33
    bool noRoom = false;       // no room left: the list says 0, room checks and exports fail
    char patternFormat = '3';  // format digit of the device's patterns: '2' older, '4' newer
    bool slowJobs = false;     // deletes and renames take 10 polls instead of 4
    Garble garble = Garble::kNone;
    int garbleType = -1;       // only answers of this data type are spoiled; -1 all
};

class DeviceModel
{
public:
    using Logger = std::function<void (const std::string&)>;

    struct Settings
    {
        std::string storeFolder;    // empty: ProjectStore::defaultFolder()
        int patternCapacity = 4096; // patterns the device holds in all, up to 65535
        Logger log;                 // empty: silent
    };

    explicit DeviceModel (Settings settings);

    // Opens (and on first use seeds) the store; false with a reason.
    bool open (std::string& error);

    // The answer to a complete message of the computer, if any. Any thread.
    std::optional<Message> answer (const Message& request);

    // A project block the device sends on its own (type 0x80): the header
    // of the project in use, else of the first; nothing without projects.
    std::optional<Message> makePush();

    void setSwitches (const ModelSwitches& switches);
    ModelSwitches getSwitches() const;

    // What the device holds (tests, logs).
    struct ProjectSummary
    {
        int index;
        std::string name;
        int patterns;
    };
    std::vector<ProjectSummary> listProjects() const;
    Bytes projectImage (int index) const; // empty when the slot is free
    bool putProject (int index, const Bytes& image);
    bool removeProject (int index);
    int getCurrentProject() const;
    bool setCurrentProject (int index);
    std::array<std::uint8_t, kPatternInfoSize> getPatternInfo() const;
    Bytes getCurrentPattern() const;
    std::string getStoreFolder() const;

    static constexpr std::uint8_t kFirmwareVersion[2] = {1, 2};

private:
    // A delete or rename under way: it completes after a few polls.
    struct Job
    {
        std::uint8_t type = 0;
        int index = -1;
        int percent = 0;
        std::string newName;
    };

    // A project going to the computer, block by block.
    struct Outgoing
    {
        int index = -1;
        Bytes image;
        std::size_t nextBlock = 0;
    };

    // A project coming from the computer.
    struct Incoming
    {
        Bytes image;
        int expected = 0;
        int received = 0;
    };

    std::optional<Message> handle (const Message& request);
    Message projectList() const;
    Message deleteOrRename (const Message& request);
    Message finishJob();
    Message importProject (const Message& request);
    Message roomForProject (const Message& request) const;
    Message exportProject (const Message& request);
    Message patternAccepted (const Message& request) const;
    Message storePattern (const Message& request);
    Message spoil (Message message) const;

    int remainingProjects() const;
    int remainingPatterns() const;
    void log (const std::string& text) const;

    const int m_patternCapacity;
    const Logger m_log;

    mutable std::mutex m_lock;
    ProjectStore m_store;
    ModelSwitches m_switches;
    std::optional<Job> m_job;
    std::optional<Outgoing> m_outgoing;
    std::optional<Incoming> m_incoming;
};

} // namespace sim

} // namespace korva
