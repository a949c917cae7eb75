#include "tools/korva/DeviceCommands.h"

#include "core/conversion/PatternDataManager.h"
#include "core/device/DeviceMessages.h"
#include "core/hidlink/HidLink.h"
#include "core/projects/ProjectChecks.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "core/settings/DirectorySetting.h"
#include "tools/korva/DeviceSession.h"
#include "tools/korva/FitReportOutput.h"
#include "tools/korva/ToolFiles.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <poll.h>
#include <unistd.h>

namespace korva
{

namespace tool
{

namespace
{

using projectchecks::ProjectAction;

constexpr int kMaxActionIndex = 127; // the program acts on device projects 0 .. 127 only
constexpr const char* kTransferring = "Transferring...";
const std::vector<int> kRenderBarCounts{1, 2, 4, 8, 16, 32};
const std::vector<int> kDropBarCounts{1, 2, 4};
constexpr int kDefaultBars = 4;

juce::String commandPrefix (const Arguments& args)
{
    return juce::String ("korva ") + args.command->name + ": ";
}

bool parseIndex (const Arguments& args, const juce::String& text, int& index, juce::String& error)
{
    const int value = readSmallNumber (text);
    if (value >= 0 && value <= kMaxActionIndex)
    {
        index = value;
        return true;
    }
    error = commandPrefix (args) + "INDEX must be a project number from 0 to 127, not '" + text + "'";
    return false;
}

std::vector<ProjectListRow> deviceRows()
{
    auto rows = KorvaProjectList::getInstance()->getRows();
    std::sort (rows.begin(), rows.end(), [] (const auto& a, const auto& b) { return a.index < b.index; });
    return rows;
}

std::optional<ProjectListRow> deviceRow (int index)
{
    for (const auto& row : deviceRows())
        if (row.index == index)
            return row;
    return std::nullopt;
}

std::optional<ProjectListRow> deviceRowNamed (const juce::String& name)
{
    for (const auto& row : deviceRows())
        if (row.name == name)
            return row;
    return std::nullopt;
}

juce::String formatRow (const ProjectListRow& row)
{
    const bool inUse = row.index == ProjectDataManager::getInstance()->currentProjectIndex.load();
    return juce::String (row.index).paddedLeft ('0', 3) + "  " + row.name.paddedRight (' ', 32) + "  "
           + juce::String (row.patterns).paddedLeft (' ', 8) + (inUse ? "  in use" : "");
}

void printLine (const juce::String& line)
{
    std::cout << line.toStdString() << std::endl;
}

// A project file is whole when its header block carries the magic, a pattern
// block follows for every pattern its bitmaps announce (each starting with
// "seq"), and nothing else does. `expectedPatterns` (unless -1) is what the
// device's list said.
bool checkProjectFile (const juce::File& file, int expectedPatterns, int& patterns, juce::String& reason)
{
    juce::MemoryBlock data;
    if (! file.loadFileAsData (data))
    {
        reason = "cannot read the file";
        return false;
    }

    juce::MemoryBlock header (data.getData(), juce::jmin (data.getSize(), (size_t) ProjectDataManager::kBlockSize));
    if (data.getSize() < (size_t) ProjectDataManager::kBlockSize || ! ProjectDataManager::isProjectHeader (header))
    {
        reason = "not a project file (no project header)";
        return false;
    }

    patterns = ProjectDataManager::countPatterns (header);
    if (expectedPatterns >= 0 && patterns != expectedPatterns)
    {
        reason = "the header announces " + juce::String (patterns) + " patterns, KORVA listed "
                 + juce::String (expectedPatterns);
        return false;
    }

    const size_t expectedSize = (size_t) ProjectDataManager::kBlockSize * (size_t) (patterns + 1);
    if (data.getSize() != expectedSize)
    {
        reason = juce::String ((juce::int64) data.getSize()) + " bytes instead of "
                 + juce::String ((juce::int64) expectedSize) + " for " + juce::String (patterns) + " patterns";
        return false;
    }

    for (int i = 0; i < patterns; ++i)
    {
        const size_t offset = (size_t) ProjectDataManager::kBlockSize * (size_t) (i + 1);
        const juce::MemoryBlock block (static_cast<const char*> (data.getData()) + offset, 3);
        if (! ProjectDataManager::isPatternBlock (block))
        {
            reason = "pattern block " + juce::String (i + 1) + " is not a pattern";
            return false;
        }
    }
    return true;
}

// The answer to a yes-or-no question on standard error, read from standard
// input; Ctrl+C and the end of the input say no.
bool confirm (const juce::String& question)
{
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    for (;;)
    {
        if (DeviceSession::interruptRequested())
        {
            std::cerr << std::endl;
            return false;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll (&input, 1, 100) <= 0)
            continue;
        char c = 0;
        const auto got = ::read (STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            std::cerr << std::endl;
            return false;
        }
        if (c == '\n')
            break;
        answer += c;
    }
    const auto text = juce::String (answer).trim().toLowerCase();
    return text == "y" || text == "yes";
}

// Opens a session and fetches the project list; on failure `exitCode` says
// how the command ends.
bool openWithProjects (DeviceSession& session, int& exitCode)
{
    if (! session.open (exitCode))
        return false;
    const Outcome list = session.fetchProjectList();
    if (! list.ok())
    {
        exitCode = DeviceSession::report (list);
        return false;
    }
    if (DeviceSession::interruptRequested())
    {
        exitCode = DeviceSession::report ({Outcome::kInterrupted, {}, {}});
        return false;
    }
    return true;
}

//==============================================================================
// Pulling projects

// Where pulled projects go: a file (replaced only when the pull succeeds) or
// a folder, in which they are named as the program names them.
struct Destination
{
    juce::File file;
    juce::File folder;
};

// The folder finished imports are assembled in before they are checked and
// put in their place: hidden in the folder they are for, so that a folder
// that cannot take a project says so at its first block, and the checked
// copy reaches its place by a rename. Removed with whatever is left when it
// goes.
class StagingFolder
{
public:
    StagingFolder (DeviceSession& session, const juce::File& destinationFolder)
        : m_session (session), m_folder (destinationFolder.getChildFile (".korva-pull"))
    {
        m_folder.deleteRecursively();
        m_error = infra::FileTools::makeFolders (m_folder);
        m_session.setImportFolder (m_folder);
    }

    ~StagingFolder()
    {
        m_session.setImportFolder ({});
        m_folder.deleteRecursively();
    }

    // 0, or why the folder could not be made.
    int error() const noexcept { return m_error; }

    // The projects in it, newest first.
    juce::Array<juce::File> projects() const
    {
        auto files = m_folder.findChildFiles (juce::File::findFiles, false, "*.prj");
        std::sort (files.begin(), files.end(), [] (const juce::File& a, const juce::File& b)
                   { return a.getLastModificationTime() > b.getLastModificationTime(); });
        return files;
    }

private:
    DeviceSession& m_session;
    juce::File m_folder;
    int m_error = 0;

    JUCE_DECLARE_NON_COPYABLE (StagingFolder)
};

Outcome pullProject (DeviceSession& session, const ProjectListRow& row, const Destination& destination,
                     const juce::String& progressLabel)
{
    auto* projects = ProjectDataManager::getInstance();
    // Failures of the computer's side name the folder the user gave (or the
    // data folder), in which the staging folder hides.
    const juce::File folder =
        destination.file != juce::File() ? destination.file.getParentDirectory() : destination.folder;
    const auto cannotSave = [&folder] (int error)
    { return Outcome::failed (devicemessages::cannotSaveProject ({folder, error, {}})); };

    StagingFolder staging (session, folder);
    if (staging.error() != 0)
        return cannotSave (staging.error());

    // The name becomes the start of the file's name, as on the project page.
    projects->setProjectName (row.name);

    DeviceSession::Exchange import;
    import.issue = [&session, index = row.index ] { session.sequencer().requestImportProjectData ((juce::uint8)index);
};
import.interpret = [&cannotSave](const SequencerEvent& event)
                       ->std::optional<Outcome> {
                           if (event.kind != SequencerEvent::kImportProject) return std::nullopt;
if (event.result == HidSequenceManager::kResultOK)
    return Outcome::done();
if (event.local.failed())
    return cannotSave (event.local.error);
return Outcome::failed (devicemessages::requestFailure (event.result));
    };
    import.cancellable = true;
    import.progressLabel = progressLabel;

    // What arrived before a failure or a cancel was removed by the sequencer.
    const Outcome outcome = session.run (import);
    if (! outcome.ok())
        return outcome;

    const auto arrived = staging.projects();
    if (arrived.isEmpty())
        return Outcome::failed (devicemessages::communicationError (HidSequenceManager::kResultDataError));

    const juce::File& copy = arrived.getReference (0);
    int patterns = 0;
    juce::String reason;
    if (! checkProjectFile (copy, row.patterns, patterns, reason))
        return Outcome::failed ("the copy from KORVA is damaged: " + reason);

    juce::File placed;
    if (destination.file != juce::File())
    {
        int error = 0;
        if (! writeThroughTemporary (
                destination.file,
                [&copy, &error] (const juce::File& temporary, juce::String&)
                { return (error = infra::FileTools::copyWithoutReplacing (copy, temporary)) == 0; },
                reason))
            return error != 0 ? cannotSave (error) : Outcome::failed (displayName (destination.file) + ": " + reason);
        placed = destination.file;
    }
    else
    {
        infra::FileFailure failure;
        placed = projects->saveToFolder (copy, destination.folder, &failure);
        if (placed == juce::File())
            return Outcome::failed (devicemessages::cannotSaveProject (failure));
    }
    printLine (displayName (placed));

    // Projects the KORVA's user sent meanwhile go where the program puts them.
    const auto dataFolder = DirectorySettingManager::getInstance()->getDataDirectoryFile();
    for (int i = 1; i < arrived.size(); ++i)
        projects->saveToFolder (arrived.getReference (i), dataFolder);
    return outcome;
}

} // namespace

//==============================================================================
int runDevices (const Arguments&)
{
    // The registry the program's device manager draws from; the program
    // talks to the first KORVA it lists and ignores the others.
    auto* registry = hidlink::HidManager::getInstance();
    auto identifiers = registry->getDeviceIdentifiers();
    identifiers.removeEmptyStrings();

    for (int i = 0; i < identifiers.size(); ++i)
    {
        const auto device = registry->findDevice (identifiers[i]);
        if (device == nullptr)
            continue;
        const auto& caps = device->getCaps();
        printLine (identifiers[i] + "  " + juce::String (juce::CharPointer_UTF8 (caps.manufacturer.c_str())) + " "
                   + juce::String (juce::CharPointer_UTF8 (caps.product.c_str())) + "  release "
                   + juce::String::toHexString ((int) caps.versionNumber).paddedLeft ('0', 4)
                   + (i == 0 ? "  (used)" : ""));
    }
    hidlink::HidManager::deleteInstance();

    if (identifiers.isEmpty())
        return failLine ("korva: KORVA is not connected.", kExitFailure);
    return kExitOk;
}

int runProjects (const Arguments&)
{
    DeviceSession session;
    int exitCode = kExitOk;
    if (! openWithProjects (session, exitCode))
        return exitCode;

    auto* projects = ProjectDataManager::getInstance();
    const int projectRoom = projects->remainingProjectCapacity.load();
    const int patternRoom = projects->remainingPatternCapacity.load();
    const bool known = projectRoom != -1 && patternRoom != -1;

    printLine (juce::String ("ID   ") + juce::String ("NAME").paddedRight (' ', 32) + "  PATTERNS");
    for (const auto& row : deviceRows())
        printLine (formatRow (row));
    printLine ("Remaining project capacity: " + (known ? juce::String (projectRoom) : juce::String ("--")));
    printLine ("Remaining pattern capacity: " + (known ? juce::String (patternRoom) : juce::String ("--")));
    return kExitOk;
}

int runPull (const Arguments& args)
{
    const bool all = args.has ("--all");
    if (all == (args.positionals.size() == 1))
        return failLine (commandPrefix (args) + (all ? "give INDEX or --all, not both" : "missing arguments")
                             + " (usage: " + usageLine (*args.command) + ")",
                         kExitUsage);

    int index = -1;
    juce::String error;
    if (! all && ! parseIndex (args, args.positionals[0], index, error))
        return failLine (error, kExitUsage);

    // The destination is checked before KORVA is asked for anything.
    Destination destination;
    if (args.has ("--output"))
    {
        const juce::String path = args.valueOr ("--output", {});
        const juce::File target = fileFromArgument (path);
        if (all || target.isDirectory())
        {
            if (target.existsAsFile())
                return fail (path, "is a file, not a folder", kExitFailure);
            destination.folder = target;
        }
        else if (! target.getParentDirectory().isDirectory())
        {
            return fail (path, "the folder " + displayName (target.getParentDirectory()) + " does not exist",
                         kExitFailure);
        }
        else
        {
            destination.file = target;
        }
    }

    DeviceSession session;
    int exitCode = kExitOk;
    if (! openWithProjects (session, exitCode))
        return exitCode;
    if (destination.file == juce::File() && destination.folder == juce::File())
        destination.folder = DirectorySettingManager::getInstance()->getDataDirectoryFile();

    std::vector<ProjectListRow> rows;
    if (all)
    {
        rows = deviceRows();
    }
    else if (const auto row = deviceRow (index))
    {
        rows.push_back (*row);
    }
    else
    {
        return failLine ("korva: Could not import this project. The project does not exist.", kExitFailure);
    }

    for (size_t i = 0; i < rows.size(); ++i)
    {
        const auto& row = rows[i];
        const juce::String name = juce::String (row.index).paddedLeft ('0', 3) + " " + row.name;
        const juce::String label = all ? juce::String (kTransferring) + " (" + juce::String ((int) i + 1) + "/"
                                             + juce::String ((int) rows.size()) + ") " + name
                                       : juce::String (kTransferring);
        const Outcome outcome = pullProject (session, row, destination, label);
        if (outcome.ok())
            continue;

        const int code = DeviceSession::report (outcome, all ? name : juce::String());
        exitCode = juce::jmax (exitCode, code);
        // One damaged or refused project does not stop a backup; a KORVA
        // that went away or a Ctrl+C does.
        if (outcome.kind != Outcome::kFailed)
            return code;
    }
    return exitCode;
}

int runPush (const Arguments& args)
{
    const juce::String path = args.positionals[0];
    const juce::File file = fileFromArgument (path);
    if (file.isDirectory())
        return fail (path, "is a folder, not a file", kExitFailure);
    if (! file.existsAsFile())
        return fail (path, "no such file", kExitFailure);

    // Only a whole project goes to the device.
    int patterns = 0;
    juce::String reason;
    if (! checkProjectFile (file, -1, patterns, reason))
        return fail (path, reason, kExitFailure);
    juce::MemoryBlock header;
    ProjectDataManager::readProjectHeader (file, header);
    const juce::String name = ProjectDataManager::readProjectName (header);

    DeviceSession session;
    int exitCode = kExitOk;
    if (! openWithProjects (session, exitCode))
        return exitCode;

    if (const auto refusal = projectchecks::checkExport (name); refusal.isNotEmpty())
        return failLine ("korva: " + refusal, kExitFailure);

    // The device is asked for room first; when it has some, the file follows
    // block by block.
    DeviceSession::Exchange push;
    push.issue = [&session, file, patterns] { session.sequencer().requestQueryExportableProject (file, patterns); };
    push.interpret = [&path] (const SequencerEvent& event) -> std::optional<Outcome>
    {
        switch (event.kind)
        {
            case SequencerEvent::kQueryExportProject:
                return Outcome::failed (devicemessages::roomCheckFailure (event.result));
            case SequencerEvent::kReadProjectFileError:
                return Outcome::failed (event.local.failed() ? devicemessages::cannotReadProject (event.local)
                                                             : path + ": cannot read the project file");
            case SequencerEvent::kExportProject:
                return event.result == HidSequenceManager::kResultOK
                           ? Outcome::done()
                           : Outcome::failed (devicemessages::exportFailure (event.result, event.local));
            default: return std::nullopt;
        }
    };
    push.cancellable = true;
    push.progressLabel = kTransferring;

    const Outcome outcome = session.run (push);
    if (! outcome.ok())
        return DeviceSession::report (outcome);

    // Where the project landed.
    if (session.fetchProjectList().ok())
        if (const auto row = deviceRowNamed (name))
            printLine (formatRow (*row));
    return kExitOk;
}

int runRename (const Arguments& args)
{
    int index = -1;
    juce::String error;
    if (! parseIndex (args, args.positionals[0], index, error))
        return failLine (error, kExitUsage);
    const juce::String newName = args.positionals[1];
    if (newName.isEmpty())
        return failLine (commandPrefix (args) + "the new name is empty", kExitUsage);

    DeviceSession session;
    int exitCode = kExitOk;
    if (! openWithProjects (session, exitCode))
        return exitCode;

    const auto row = deviceRow (index);
    const bool connected = session.sequencer().isConnected();
    if (! row)
        return failLine ("korva: " + projectchecks::checkDeviceAction (ProjectAction::kRename, connected, index),
                         kExitFailure);

    // The rename dialog's checks, then the page's.
    if (const auto refusal = projectchecks::checkNewName (newName, row->name, true); refusal.isNotEmpty())
        return failLine ("korva: " + refusal, kExitFailure);
    if (newName == row->name)
        return kExitOk;
    if (const auto refusal = projectchecks::checkDeviceAction (ProjectAction::kRename, connected, index);
        refusal.isNotEmpty())
        return failLine ("korva: " + refusal, kExitFailure);

    DeviceSession::Exchange rename;
    rename.issue = [&session, index, newName] { session.sequencer().requestRenameProject ((juce::uint8) index, newName); };
    rename.interpret = DeviceSession::answeredBy (SequencerEvent::kRenameProject, devicemessages::requestFailure);
    rename.progressLabel = "Renaming...";
    const Outcome outcome = session.run (rename);
    if (! outcome.ok())
        return DeviceSession::report (outcome);
    return DeviceSession::interruptRequested() ? DeviceSession::report ({Outcome::kInterrupted, {}, {}}) : kExitOk;
}

int runDelete (const Arguments& args)
{
    int index = -1;
    juce::String error;
    if (! parseIndex (args, args.positionals[0], index, error))
        return failLine (error, kExitUsage);

    DeviceSession session;
    int exitCode = kExitOk;
    if (! openWithProjects (session, exitCode))
        return exitCode;

    const auto refuse = [&session, index]
    {
        const auto refusal =
            projectchecks::checkDeviceAction (ProjectAction::kDelete, session.sequencer().isConnected(), index);
        if (refusal.isNotEmpty())
            failLine ("korva: " + refusal, kExitFailure);
        return refusal.isNotEmpty();
    };
    if (refuse())
        return kExitFailure;

    if (! args.has ("--yes"))
    {
        const auto row = deviceRow (index);
        if (! confirm (projectchecks::deleteQuestion (row ? row->name : juce::String())))
        {
            if (DeviceSession::interruptRequested())
                return DeviceSession::report ({Outcome::kInterrupted, {}, {}});
            return failLine ("korva: nothing deleted", kExitFailure);
        }
        // KORVA may have changed while the question was open.
        const Outcome list = session.fetchProjectList();
        if (! list.ok())
            return DeviceSession::report (list);
        if (refuse())
            return kExitFailure;
    }

    DeviceSession::Exchange remove;
    remove.issue = [&session, index] { session.sequencer().requestDeleteProject ((juce::uint8) index); };
    remove.interpret = DeviceSession::answeredBy (SequencerEvent::kDeleteProject, devicemessages::requestFailure);
    remove.progressLabel = "Deleting...";
    const Outcome outcome = session.run (remove);
    if (! outcome.ok())
        return DeviceSession::report (outcome);
    return DeviceSession::interruptRequested() ? DeviceSession::report ({Outcome::kInterrupted, {}, {}}) : kExitOk;
}

int runRenameFile (const Arguments& args)
{
    const juce::String path = args.positionals[0];
    const juce::String newName = args.positionals[1];
    if (newName.isEmpty())
        return failLine (commandPrefix (args) + "the new name is empty", kExitUsage);

    const juce::File file = fileFromArgument (path);
    if (file.isDirectory())
        return fail (path, "is a folder, not a file", kExitFailure);
    if (! file.existsAsFile())
        return fail (path, "no such file", kExitFailure);

    juce::MemoryBlock header;
    if (! ProjectDataManager::readProjectHeader (file, header) || file.getSize() < ProjectDataManager::kBlockSize)
        return fail (path, "not a project file (no project header)", kExitFailure);

    // The name inside the file changes; the file keeps its name.
    const juce::String oldName = ProjectDataManager::readProjectName (header);
    if (const auto refusal = projectchecks::checkNewName (newName, oldName, false); refusal.isNotEmpty())
        return fail (path, refusal, kExitFailure);
    if (newName == oldName)
        return kExitOk;
    if (int error = 0; ! ProjectDataManager::writeProjectName (file, newName, &error))
        return failLine ("korva: " + projectchecks::cannotChangeFile (ProjectAction::kRename, file, error),
                         kExitFailure);
    return kExitOk;
}

int runPatternInfo (const Arguments& args)
{
    const juce::String outputPath = args.valueOr ("--output", {});
    DeviceSession session;
    int exitCode = kExitOk;
    if (! session.open (exitCode))
        return exitCode;
    const Outcome outcome = session.fetchPatternInfo();
    if (! outcome.ok())
        return DeviceSession::report (outcome);

    const auto info = korva::PatternDataManager::getInstance()->getPatternInfo();
    juce::StringArray controllers, chords;
    for (int cc : info.ccNumbers)
        controllers.add (juce::String (cc));
    for (auto slot : info.chordSlots)
        chords.add ("0x" + juce::String::toHexString ((int) slot).paddedLeft ('0', 4));

    printLine ("Track " + juce::String (info.trackNumber).paddedLeft ('0', 2));
    printLine ("Pattern " + juce::String (info.patternNumber).paddedLeft ('0', 2));
    printLine ("Controllers " + controllers.joinIntoString (" "));
    printLine ("Chord slots " + chords.joinIntoString (" "));

    if (outputPath.isEmpty())
        return kExitOk;

    // The payload as the device sent it, for render --info.
    juce::uint8 payload[korva::kPatternInfoSize] = {};
    payload[0] = (juce::uint8) info.trackNumber;
    payload[1] = (juce::uint8) info.patternNumber;
    for (size_t i = 0; i < info.ccNumbers.size(); ++i)
        payload[2 + i] = (juce::uint8) info.ccNumbers[i];
    payload[7] = (juce::uint8) info.extra;
    for (size_t i = 0; i < info.chordSlots.size(); ++i)
    {
        payload[8 + 2 * i] = (juce::uint8) (info.chordSlots[i] >> 8);
        payload[9 + 2 * i] = (juce::uint8) (info.chordSlots[i] & 0xFF);
    }
    juce::String reason;
    if (! writeBytes (fileFromArgument (outputPath), payload, sizeof (payload), reason))
        return fail (outputPath, reason, kExitFailure);
    return kExitOk;
}

int runPullPattern (const Arguments& args)
{
    const juce::String outputPath = args.valueOr ("--output", {});
    if (outputPath.isEmpty())
        return failLine ("korva pull-pattern: the output file is missing (-o OUT.mid)", kExitUsage);
    int bars = kDefaultBars;
    juce::String error;
    if (! readBarCount (args, "--bars", kRenderBarCounts, kDefaultBars, bars, error))
        return failLine (error, kExitUsage);

    const juce::File target = fileFromArgument (outputPath);
    if (target.isDirectory())
        return fail (outputPath, "is a folder, not a file", kExitFailure);
    if (! target.getParentDirectory().isDirectory())
        return fail (outputPath, "the folder " + displayName (target.getParentDirectory()) + " does not exist",
                     kExitFailure);

    return withCurrentPatternFile (bars,
                                   [&] (const juce::File& midiFile)
                                   {
                                       juce::String reason;
                                       const bool written = writeThroughTemporary (
                                           target,
                                           [&midiFile] (const juce::File& temporary, juce::String& why)
                                           {
                                               if (midiFile.copyFileTo (temporary))
                                                   return true;
                                               why = "cannot write the file";
                                               return false;
                                           },
                                           reason);
                                       return written ? kExitOk : fail (outputPath, reason, kExitFailure);
                                   });
}

int withCurrentPatternFile (int bars, const std::function<int (const juce::File&)>& use)
{
    DeviceSession session;
    int exitCode = kExitOk;
    if (! session.open (exitCode))
        return exitCode;

    // As on the pattern page: the pattern information (controller numbers,
    // chord slots, the file's name) comes first, then the pattern.
    Outcome outcome = session.fetchPatternInfo();
    if (! outcome.ok())
        return DeviceSession::report (outcome);
    auto* patterns = korva::PatternDataManager::getInstance();
    patterns->renderBarCount = bars;

    DeviceSession::Exchange import;
    import.issue = [&session] { session.sequencer().requestImportPatternData(); };
    import.interpret = [] (const SequencerEvent& event) -> std::optional<Outcome>
    {
        if (event.kind != SequencerEvent::kImportPattern)
            return std::nullopt;
        if (event.result != HidSequenceManager::kResultOK)
            return Outcome::failed (devicemessages::patternImportFailure (event.result));
        return Outcome{Outcome::kDone, {}, event.file};
    };
    outcome = session.run (import);

    // The program makes each file in a fresh folder of its own, for dragging.
    const auto removeMidiFile = [&outcome, patterns]
    {
        if (outcome.file.isAChildOf (patterns->getTemporaryFolder()))
            outcome.file.getParentDirectory().deleteRecursively();
    };
    if (! outcome.ok())
    {
        removeMidiFile();
        return DeviceSession::report (outcome);
    }

    exitCode = use (outcome.file);
    removeMidiFile();
    return exitCode;
}

int runPushMidi (const Arguments& args)
{
    const juce::String path = args.positionals[0];
    int bars = kDefaultBars;
    juce::String error;
    if (! readBarCount (args, "--bars", kDropBarCounts, kDefaultBars, bars, error))
        return failLine (error, kExitUsage);

    const juce::File file = fileFromArgument (path);
    if (file.isDirectory())
        return fail (path, "is a folder, not a file", kExitFailure);
    if (! file.existsAsFile())
        return fail (path, "no such file", kExitFailure);

    DeviceSession session;
    int exitCode = kExitOk;
    if (! session.open (exitCode))
        return exitCode;

    // The controller numbers of the device's lanes decide which controllers
    // of the file are taken.
    const Outcome info = session.fetchPatternInfo();
    if (! info.ok())
        return DeviceSession::report (info);
    korva::PatternDataManager::getInstance()->dropBarCount = bars;

    DeviceSession::Exchange push;
    push.issue = [&session, file] { session.sequencer().requestQueryExportablePattern (file); };
    push.interpret = [&path] (const SequencerEvent& event) -> std::optional<Outcome>
    {
        switch (event.kind)
        {
            case SequencerEvent::kQueryExportPattern:
                return Outcome::failed (devicemessages::patternCheckFailure (event.result));
            case SequencerEvent::kReadSmfError:
                return Outcome::failed (
                    path + ": " + midiRefusalText (korva::PatternDataManager::getInstance()->getLastDropRefusal()));
            case SequencerEvent::kExportPattern:
                return event.result == HidSequenceManager::kResultOK
                           ? Outcome::done()
                           : Outcome::failed (devicemessages::communicationError (event.result));
            default: return std::nullopt;
        }
    };
    const Outcome outcome = session.run (push);
    if (! outcome.ok())
        return DeviceSession::report (outcome);
    return DeviceSession::interruptRequested() ? DeviceSession::report ({Outcome::kInterrupted, {}, {}}) : kExitOk;
}

} // namespace tool

} // namespace korva
