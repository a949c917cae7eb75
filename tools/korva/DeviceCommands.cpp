#include "tools/korva/DeviceCommands.h"

#include "core/conversion/PatternDataManager.h"
#include "core/device/DeviceMessages.h"
#include "core/device/ProjectBackup.h"
#include "core/hidlink/HidLink.h"
#include "core/projects/ProjectChecks.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "core/settings/DirectorySetting.h"
#include "tools/korva/DeviceSession.h"
#include "tools/korva/FitReportOutput.h"
#include "tools/korva/Terminal.h"
#include "tools/korva/ToolFiles.h"

#include <algorithm>
#include <iostream>

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
        char c = 0;
        const auto input = terminal::readByte (100, c);
        if (input == terminal::Input::kNothingYet)
            continue;
        if (input == terminal::Input::kEnd)
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

// One project of a pull: asks the KORVA for it and tells the run how the
// import ended.
Outcome importOne (DeviceSession& session, ProjectBackup& backup, const ProjectListRow& row,
                   const juce::String& progressLabel)
{
    std::optional<SequencerEvent> ended;
    DeviceSession::Exchange import;
    import.issue = [&session, index = row.index]
    { session.sequencer().requestImportProjectData ((juce::uint8) index); };
    import.interpret = [&ended] (const SequencerEvent& event) -> std::optional<Outcome>
    {
        if (event.kind != SequencerEvent::kImportProject)
            return std::nullopt;
        ended = event;
        return Outcome::done();
    };
    import.cancellable = true;
    import.progressLabel = progressLabel;

    // What arrived before a failure or a cancel was removed by the sequencer.
    const Outcome outcome = session.run (import);
    switch (outcome.kind)
    {
        case Outcome::kDone:
            backup.importEnded (ended->result, ended->local);
            break;
        case Outcome::kFailed:
            backup.importFailed (outcome.message);
            // What the transport said on the way out counts; the run ends.
            if (! session.sequencer().isConnected())
            {
                backup.disconnected();
                return {Outcome::kDisconnected, {}, {}};
            }
            break;
        case Outcome::kDisconnected:
            backup.disconnected();
            break;
        case Outcome::kCancelled:
        case Outcome::kInterrupted:
        default:
            backup.importCancelled();
            break;
    }
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
        // As the window's import: never the project the KORVA is using.
        if (row->index == ProjectDataManager::getInstance()->currentProjectIndex.load())
            return failLine ("korva: " + ProjectBackup::label (*row) + ": " + ProjectBackup::kInUse, kExitFailure);
        rows.push_back (*row);
    }
    else
    {
        return failLine ("korva: Could not import this project. The project does not exist.", kExitFailure);
    }

    // A file is replaced only when the pull succeeded.
    ProjectBackup::Placer placer;
    if (destination.file != juce::File())
        placer = [&destination] (const juce::File& copy, infra::FileFailure& failure)
        {
            int error = 0;
            juce::String reason;
            if (writeThroughTemporary (
                    destination.file,
                    [&copy, &error] (const juce::File& temporary, juce::String&)
                    { return (error = infra::FileTools::copyWithoutReplacing (copy, temporary)) == 0; },
                    reason))
                return destination.file;
            failure = error != 0 ? infra::FileFailure{destination.file.getParentDirectory(), error, {}}
                                 : infra::FileFailure{destination.file, 0, reason};
            return juce::File();
        };

    // Failures of the computer's side name the folder the user gave (or the
    // data folder), in which the staging folder hides.
    const juce::File folder =
        destination.file != juce::File() ? destination.file.getParentDirectory() : destination.folder;
    ProjectBackup backup (*ProjectDataManager::getInstance(), rows, folder, placer);
    session.setStagingFolder (folder.getChildFile (ProjectBackup::kStagingFolderName));

    while (const auto row = backup.startNext())
    {
        const juce::String name = ProjectBackup::label (*row);
        const auto progress = backup.getProgress (0.0);
        const juce::String label = all ? juce::String (kTransferring) + " (" + juce::String (progress.number) + "/"
                                             + juce::String (progress.count) + ") " + name
                                       : juce::String (kTransferring);
        const Outcome outcome = importOne (session, backup, *row, label);

        const auto& entry = *backup.getCurrent();
        if (entry.result == ProjectBackup::Result::kCopied)
            printLine (displayName (entry.file));
        else if (entry.result == ProjectBackup::Result::kFailed && entry.failure != ProjectBackup::kNotConnected)
            exitCode = juce::jmax (exitCode,
                                   DeviceSession::report (Outcome::failed (entry.failure), all ? name : juce::String()));
        // The KORVA went away: after what the transport said of the project
        // under way, if anything, a backup says so once more for the rest.
        if (outcome.kind == Outcome::kDisconnected)
            return all || entry.failure == ProjectBackup::kNotConnected ? DeviceSession::report (outcome) : exitCode;
        if (outcome.kind == Outcome::kCancelled || outcome.kind == Outcome::kInterrupted)
            return DeviceSession::report (outcome, all ? name : juce::String());
    }
    // A folder that cannot be made is told before any project.
    if (backup.getCurrent() == nullptr && backup.getStopReason().isNotEmpty())
        return DeviceSession::report (Outcome::failed (backup.getStopReason()));
    // What the run passed over (the project in use) is told, as the window's
    // message does; it is no failure of the command.
    for (const auto& entry : backup.getEntries())
        if (entry.result == ProjectBackup::Result::kSkipped)
            std::cerr << "korva: " << ProjectBackup::label (entry.row) << ": " << entry.failure << std::endl;
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
    if (! projectchecks::checkProjectFile (file, -1, patterns, reason))
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

LaneSource lanesOfTheKorva()
{
    DeviceSession session;
    session.setQuiet (true);
    int exitCode = kExitOk;
    if (! session.open (exitCode))
        return { LaneSource::kAssumed, {}, "no KORVA to ask: " + session.getFailure() };
    const Outcome outcome = session.fetchPatternInfo();
    if (! outcome.ok())
        return { LaneSource::kAssumed, {},
                 "the KORVA did not tell them: "
                     + (outcome.kind == Outcome::kFailed ? outcome.message : juce::String ("KORVA is not connected.")) };
    return { LaneSource::kKorva, korva::PatternDataManager::getInstance()->getPatternInfo().ccNumbers, {} };
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
