#include "tools/korva-sim/DeviceModel.h"

#include <algorithm>
#include <cstdio>

namespace korva
{

namespace sim
{

namespace
{
constexpr std::uint8_t kProjectList = 0x00;
constexpr std::uint8_t kDelete = 0x01;
constexpr std::uint8_t kRename = 0x02;
constexpr std::uint8_t kImport = 0x03;
constexpr std::uint8_t kRoom = 0x04;
constexpr std::uint8_t kExport = 0x05;
constexpr std::uint8_t kPatternInfo = 0x30;
constexpr std::uint8_t kPatternOut = 0x31;
constexpr std::uint8_t kPatternRoom = 0x32;
constexpr std::uint8_t kPatternIn = 0x33;
constexpr std::uint8_t kPush = 0x80;
constexpr std::uint8_t kVersion = 0x81;

// Statuses.
constexpr std::uint8_t kFailed = 0;
constexpr std::uint8_t kGoOn = 1; // in progress, accepted, room, end of transfer
constexpr std::uint8_t kBusy = 2;
constexpr std::uint8_t kDone = 3;
constexpr std::uint8_t kDeviceFormatOlder = 2;
constexpr std::uint8_t kComputerFormatOlder = 3;

// Import commands, and the export's one-byte messages.
constexpr std::uint8_t kStartCommand = 0x00;
constexpr std::uint8_t kNextCommand = 0x01;
constexpr std::uint8_t kAbortCommand = 0x02;
constexpr std::uint8_t kExportEnd = 0x00;
constexpr std::uint8_t kExportAbort = 0x01;

constexpr std::size_t kRecordSize = 36;
constexpr std::size_t kRenamePayload = 2 + kNameLength + 1;

Message status (std::uint8_t type, std::uint8_t value)
{
    return {type, {value}};
}

Message progress (std::uint8_t type, int percent)
{
    return {type, {kGoOn, static_cast<std::uint8_t> (percent)}};
}

std::string hex (std::uint8_t value)
{
    char text[8];
    std::snprintf (text, sizeof (text), "0x%02X", value);
    return text;
}

Bytes blockOf (const Bytes& image, std::size_t index)
{
    const auto begin = image.begin() + static_cast<std::ptrdiff_t> (index * kBlockSize);
    return Bytes (begin, begin + static_cast<std::ptrdiff_t> (kBlockSize));
}
} // namespace

DeviceModel::DeviceModel (Settings settings)
    : m_patternCapacity (std::clamp (settings.patternCapacity, 0, 0xFFFF)), m_log (settings.log),
      m_store (settings.storeFolder.empty() ? ProjectStore::defaultFolder() : settings.storeFolder, settings.log)
{
}

bool DeviceModel::open (std::string& error)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_store.open (error);
}

void DeviceModel::log (const std::string& text) const
{
    if (m_log)
        m_log (text);
}

void DeviceModel::setSwitches (const ModelSwitches& switches)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    m_switches = switches;
}

ModelSwitches DeviceModel::getSwitches() const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_switches;
}

std::optional<Message> DeviceModel::answer (const Message& request)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    auto reply = handle (request);
    if (reply)
        reply = spoil (std::move (*reply));
    return reply;
}

std::optional<Message> DeviceModel::makePush()
{
    const std::lock_guard<std::mutex> lock (m_lock);
    const auto& projects = m_store.projects();
    const auto* image = m_store.project (m_store.getCurrentProject());
    if (image == nullptr && ! projects.empty())
        image = &projects.begin()->second;
    if (image == nullptr)
        return std::nullopt;
    log ("pushing the header of \"" + block::name (image->data()) + "\"");
    return spoil ({kPush, blockOf (*image, 0)});
}

//==============================================================================
std::optional<Message> DeviceModel::handle (const Message& request)
{
    const auto& payload = request.payload;
    switch (request.type)
    {
        case kProjectList:
            if (! payload.empty())
                break;
            if (m_switches.busy)
                return status (kProjectList, kBusy);
            return projectList();

        case kDelete:
        case kRename: return deleteOrRename (request);
        case kImport: return importProject (request);
        case kRoom: return roomForProject (request);
        case kExport: return exportProject (request);

        case kPatternInfo:
            if (! payload.empty())
                break;
            return Message{kPatternInfo, Bytes (m_store.getPatternInfo().begin(), m_store.getPatternInfo().end())};

        case kPatternOut:
        {
            if (! payload.empty())
                break;
            auto pattern = m_store.getCurrentPattern();
            pattern[3] = static_cast<std::uint8_t> (m_switches.patternFormat);
            return Message{kPatternOut, std::move (pattern)};
        }

        case kPatternRoom: return patternAccepted (request);
        case kPatternIn: return storePattern (request);

        case kVersion:
            if (m_switches.oldFirmware)
            {
                log ("old firmware: the version probe goes unanswered");
                return std::nullopt;
            }
            return Message{kVersion,
                           {kFirmwareVersion[0], kFirmwareVersion[1], static_cast<std::uint8_t> (m_switches.patternFormat)}};

        default:
            log ("message of type " + hex (request.type) + " is not one the device knows, not answered");
            return std::nullopt;
    }

    log ("message of type " + hex (request.type) + " with " + std::to_string (payload.size())
         + " unexpected bytes, refused");
    return status (request.type, kFailed);
}

int DeviceModel::remainingProjects() const
{
    return m_switches.noRoom ? 0 : kProjectSlots - static_cast<int> (m_store.projects().size());
}

int DeviceModel::remainingPatterns() const
{
    return m_switches.noRoom ? 0 : std::clamp (m_patternCapacity - m_store.patternsInUse(), 0, 0xFFFF);
}

Message DeviceModel::projectList() const
{
    Message list{kProjectList, {static_cast<std::uint8_t> (m_store.projects().size())}};
    auto& bytes = list.payload;
    for (const auto& [index, image] : m_store.projects())
    {
        const int patterns = block::patternCount (image.data());
        Bytes record (kRecordSize, 0);
        record[0] = static_cast<std::uint8_t> (index);
        record[1] = static_cast<std::uint8_t> (patterns >> 8);
        record[2] = static_cast<std::uint8_t> (patterns & 0xFF);
        const auto name = block::name (image.data()); // at most 32 characters: the NUL always fits
        std::copy (name.begin(), name.end(), record.begin() + 3);
        bytes.insert (bytes.end(), record.begin(), record.end());
    }
    const int patternRoom = remainingPatterns();
    bytes.push_back (static_cast<std::uint8_t> (remainingProjects()));
    bytes.push_back (static_cast<std::uint8_t> (patternRoom >> 8));
    bytes.push_back (static_cast<std::uint8_t> (patternRoom & 0xFF));
    bytes.push_back (static_cast<std::uint8_t> (m_store.getCurrentProject()));
    return list;
}

//==============================================================================
// Delete and rename: the first message starts a job, each poll takes it a
// step further, the last poll finds it done.

Message DeviceModel::deleteOrRename (const Message& request)
{
    const auto type = request.type;
    const auto& p = request.payload;

    if (p.size() == 1 && p[0] == 0x01)
    {
        if (! m_job || m_job->type != type)
        {
            log ("poll of type " + hex (type) + " without an operation under way");
            return status (type, kFailed);
        }
        m_job->percent += m_switches.slowJobs ? 10 : 25;
        if (m_job->percent >= 100)
            return finishJob();
        return progress (type, m_job->percent);
    }

    const bool firstMessage = p.size() == (type == kDelete ? 2u : kRenamePayload) && p[0] == 0x00;
    if (! firstMessage)
    {
        log ("message of type " + hex (type) + " with " + std::to_string (p.size()) + " bytes, refused");
        return status (type, kFailed);
    }
    if (m_switches.busy)
        return status (type, kBusy);
    if (m_switches.refuse)
        return status (type, kFailed);

    // An operation the computer stopped polling is completed first: the
    // device finishes what it has started.
    if (m_job)
        finishJob();

    const int index = p[1];
    if (m_store.project (index) == nullptr)
    {
        log ("no project at index " + std::to_string (index));
        return status (type, kFailed);
    }

    Job job;
    job.type = type;
    job.index = index;
    if (type == kRename)
    {
        const auto nameBegin = p.begin() + 2;
        const auto nul = std::find (nameBegin, p.end(), 0);
        job.newName.assign (nameBegin, nul);
        const bool printable =
            std::all_of (job.newName.begin(), job.newName.end(), [] (char c) { return c >= 0x20 && c <= 0x7E; });
        if (nul == p.end() || job.newName.empty() || ! printable)
        {
            log ("rename to a name that is empty, unterminated or not printable ASCII, refused");
            return status (type, kFailed);
        }
    }

    m_job = job;
    return progress (type, 0);
}

Message DeviceModel::finishJob()
{
    const auto job = *m_job;
    m_job.reset();

    bool done = false;
    if (const auto* image = m_store.project (job.index))
    {
        if (job.type == kDelete)
        {
            done = m_store.removeProject (job.index);
            if (done && job.index == m_store.getCurrentProject())
            {
                const auto& projects = m_store.projects();
                m_store.setCurrentProject (projects.empty() ? 0 : projects.begin()->first);
            }
        }
        else
        {
            auto renamed = *image;
            block::setName (renamed.data(), job.newName);
            done = m_store.putProject (job.index, renamed);
        }
    }
    log (std::string (job.type == kDelete ? "delete" : "rename") + " of project " + std::to_string (job.index)
         + (done ? " done" : " failed"));
    return status (job.type, done ? kDone : kFailed);
}

//==============================================================================
// Project import (device to computer): header, then one block per "next".

Message DeviceModel::importProject (const Message& request)
{
    const auto& p = request.payload;
    if (p.size() != 2)
    {
        log ("import message of " + std::to_string (p.size()) + " bytes, refused");
        m_outgoing.reset();
        return status (kImport, kFailed);
    }

    const int index = p[0];
    switch (p[1])
    {
        case kStartCommand:
        {
            m_outgoing.reset();
            if (m_switches.busy || index == m_switches.busyImport)
                return status (kImport, kBusy);
            if (m_switches.refuse)
                return status (kImport, kFailed);
            const auto* image = m_store.project (index);
            if (image == nullptr)
            {
                log ("import of project " + std::to_string (index) + ", which does not exist");
                return status (kImport, kFailed);
            }
            m_outgoing = Outgoing{index, *image, 1};
            return Message{kImport, blockOf (*image, 0)};
        }

        case kNextCommand:
        {
            if (! m_outgoing || m_outgoing->index != index)
            {
                log ("\"next block\" for project " + std::to_string (index) + " outside its import");
                m_outgoing.reset();
                return status (kImport, kFailed);
            }
            auto& outgoing = *m_outgoing;
            if (outgoing.nextBlock < outgoing.image.size() / kBlockSize)
                return Message{kImport, blockOf (outgoing.image, outgoing.nextBlock++)};
            m_outgoing.reset();
            return status (kImport, kGoOn);
        }

        case kAbortCommand:
        {
            const bool inImport = m_outgoing && m_outgoing->index == index;
            m_outgoing.reset();
            log (inImport ? "import aborted by the computer" : "abort outside an import");
            return status (kImport, inImport ? kGoOn : kFailed);
        }

        default:
            log ("import command " + hex (p[1]) + " unknown, refused");
            m_outgoing.reset();
            return status (kImport, kFailed);
    }
}

Message DeviceModel::roomForProject (const Message& request) const
{
    const auto& p = request.payload;
    if (p.size() != 2)
        return status (kRoom, kFailed);
    if (m_switches.busy)
        return status (kRoom, kBusy);
    const int patterns = (p[0] << 8) | p[1];
    const bool room = ! m_switches.refuse && patterns <= kMaxPatternsPerProject && remainingProjects() > 0
                      && patterns <= remainingPatterns();
    return status (kRoom, room ? kGoOn : kFailed);
}

//==============================================================================
// Project export (computer to device): header, pattern blocks, end or abort.
// The project is stored only when every announced pattern arrived.

Message DeviceModel::exportProject (const Message& request)
{
    const auto& p = request.payload;
    const bool fullBlock = p.size() == kBlockSize;

    if (fullBlock && block::isHeader (p))
    {
        m_incoming.reset();
        if (m_switches.refuse)
            return status (kExport, kFailed);
        const int patterns = block::patternCount (p.data());
        if (remainingProjects() == 0 || patterns > remainingPatterns())
        {
            log ("no room for a project of " + std::to_string (patterns) + " patterns");
            return status (kExport, kFailed);
        }
        m_incoming = Incoming{p, patterns, 0};
        return status (kExport, kGoOn);
    }

    if (fullBlock && block::isPattern (p))
    {
        if (! m_incoming || m_incoming->received >= m_incoming->expected)
        {
            log (m_incoming ? "more pattern blocks than the header announced" : "pattern block without a header");
            m_incoming.reset();
            return status (kExport, kFailed);
        }
        m_incoming->image.insert (m_incoming->image.end(), p.begin(), p.end());
        ++m_incoming->received;
        return status (kExport, kGoOn);
    }

    if (p.size() == 1 && p[0] == kExportEnd)
    {
        auto incoming = std::move (m_incoming);
        m_incoming.reset();
        if (! incoming || incoming->received != incoming->expected)
        {
            log (incoming ? "end of an export that lacks " + std::to_string (incoming->expected - incoming->received)
                                + " pattern blocks"
                          : "end of an export that never started");
            return status (kExport, kFailed);
        }
        const int index = m_store.freeIndex();
        if (index < 0 || ! m_store.putProject (index, incoming->image))
            return status (kExport, kFailed);
        log ("project \"" + block::name (incoming->image.data()) + "\" stored at index " + std::to_string (index));
        return status (kExport, kGoOn);
    }

    if (p.size() == 1 && p[0] == kExportAbort)
    {
        log (m_incoming ? "export aborted by the computer" : "abort outside an export");
        m_incoming.reset();
        return status (kExport, kGoOn);
    }

    log ("export message of " + std::to_string (p.size()) + " bytes that is neither a project block nor an end, "
         + "refused");
    m_incoming.reset();
    return status (kExport, kFailed);
}

//==============================================================================
Message DeviceModel::patternAccepted (const Message& request) const
{
    const auto& p = request.payload;
    if (p.size() != 1 || m_switches.refuse)
        return status (kPatternRoom, kFailed);
    const auto device = static_cast<std::uint8_t> (m_switches.patternFormat);
    if (p[0] == device)
        return status (kPatternRoom, kGoOn);
    return status (kPatternRoom, device < p[0] ? kDeviceFormatOlder : kComputerFormatOlder);
}

Message DeviceModel::storePattern (const Message& request)
{
    const auto& p = request.payload;
    if (p.size() != kBlockSize || m_switches.refuse)
        return status (kPatternIn, kFailed);

    // Only a pattern of the device's own format with 1 to 4 bars is played.
    const bool valid = p[0] == 's' && p[1] == 'e' && p[2] == 'q'
                       && p[3] == static_cast<std::uint8_t> (m_switches.patternFormat) && p[4] >= 1 && p[4] <= 4;
    if (! valid)
    {
        log ("pattern refused: not a \"seq" + std::string (1, m_switches.patternFormat) + "\" pattern of 1 to 4 bars");
        return status (kPatternIn, kFailed);
    }
    const bool stored = m_store.setCurrentPattern (m_store.getPatternInfo(), p);
    if (stored)
        log ("the received pattern is the current pattern now");
    return status (kPatternIn, stored ? kGoOn : kFailed);
}

//==============================================================================
Message DeviceModel::spoil (Message message) const
{
    const auto garble = m_switches.garble;
    if (garble == Garble::kNone || (m_switches.garbleType >= 0 && m_switches.garbleType != message.type))
        return message;

    auto& p = message.payload;
    switch (garble)
    {
        case Garble::kShort:
            if (! p.empty())
                p.pop_back();
            break;
        case Garble::kLong: p.push_back (0); break;
        case Garble::kBadValue:
            if (p.empty())
                break;
            switch (message.type)
            {
                case kProjectList:
                    if (p.size() > kRecordSize && p[0] > 0)
                        p[2] = p[3] = 0xFF; // the first project holds 65535 patterns
                    else
                        p[0] = p.size() == 1 ? 9 : 200; // a status nobody knows, or 200 projects
                    break;
                case kPatternInfo: std::fill (p.begin(), p.end(), 0xFF); break;
                case kPatternOut:
                    if (p.size() > 3)
                        p[3] = '9';
                    break;
                case kVersion: break;
                default:
                    // A project block that is neither a header nor a pattern, or a status nobody knows.
                    p[0] = p.size() == kBlockSize ? 0x00 : 9;
                    break;
            }
            break;
        case Garble::kNone: break;
    }
    log ("answer of type " + hex (message.type) + " spoiled on purpose");
    return message;
}

//==============================================================================
std::vector<DeviceModel::ProjectSummary> DeviceModel::listProjects() const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    std::vector<ProjectSummary> list;
    for (const auto& [index, image] : m_store.projects())
        list.push_back ({index, block::name (image.data()), block::patternCount (image.data())});
    return list;
}

Bytes DeviceModel::projectImage (int index) const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    const auto* image = m_store.project (index);
    return image != nullptr ? *image : Bytes();
}

bool DeviceModel::putProject (int index, const Bytes& image)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_store.putProject (index, image);
}

bool DeviceModel::removeProject (int index)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_store.removeProject (index);
}

int DeviceModel::getCurrentProject() const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_store.getCurrentProject();
}

bool DeviceModel::setCurrentProject (int index)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_store.setCurrentProject (index);
}

std::array<std::uint8_t, kPatternInfoSize> DeviceModel::getPatternInfo() const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_store.getPatternInfo();
}

Bytes DeviceModel::getCurrentPattern() const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_store.getCurrentPattern();
}

std::string DeviceModel::getStoreFolder() const
{
    return m_store.getFolder();
}

} // namespace sim

} // namespace korva
